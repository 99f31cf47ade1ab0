// The running program's build stamp, read from its own loaded image and written in the
// user's short date and long time formats.
#pragma once

#include <optional>
#include <string>

namespace platform {

// None when the image's stamp names no valid date and time, or the system cannot format it.
std::optional<std::u16string> BuildDateText();
std::optional<std::u16string> BuildTimeText();

} // namespace platform
