// The build stamp of the program's own image, formatted as the user's short date and long
// time for the About box; a placeholder when the stamp holds no valid date and time.
#pragma once

#include <string>

namespace app {

std::u16string BuildDateText();
std::u16string BuildTimeText();

} // namespace app
