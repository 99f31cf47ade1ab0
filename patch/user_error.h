// The patch run's errors are the program's one error value (binary/error.h). An error that the
// user is shown carries that text as its message (in UTF-8, as every message is).
#pragma once

#include "binary/error.h"
#include "platform/text.h"

#include <string>
#include <string_view>

namespace patch {

// An error whose message is the text the user is shown.
inline binary::Error UserError(binary::ErrorCode code, std::u16string_view text) {
    return binary::Fault(code, platform::Utf8(text));
}

// The text of an error as the user is shown it.
inline std::u16string UserText(const binary::Error& error) {
    return platform::Utf16(error.Text());
}

} // namespace patch
