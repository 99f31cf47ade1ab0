// The About box's text.
#pragma once

#include <string>
#include <string_view>

namespace show {

inline constexpr std::u16string_view kAboutSeparator = u"\n\r";

// Lines 1 to 11 up to "Дата компиляции: ", separators included.
std::u16string AboutFixedText();
// The whole text: the fixed text, the build date, the separator, "Время компиляции: ", the time.
std::u16string AboutText(std::u16string_view buildDate, std::u16string_view buildTime);

// Shown in place of the date and time when the stamp holds no valid date and time.
inline constexpr std::u16string_view kUnknownStamp = u"неизвестно";

} // namespace show
