// The About box's text and the program's build stamp.
#pragma once

#include "binary/error.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace show {

inline constexpr std::u16string_view kAboutSeparator = u"\n\r";

// Lines 1 to 11 up to "Дата компиляции: ", separators included.
std::u16string AboutFixedText();
// The whole text: the fixed text, the build date, the separator, "Время компиляции: ", the time.
std::u16string AboutText(std::u16string_view buildDate, std::u16string_view buildTime);

struct DosDateTime {
    int year, month, day, hour, minute, second;
};

// An MS-DOS date (high 16 bits) and time (low 16 bits); none unless it names a real moment.
std::optional<DosDateTime> DecodeDosStamp(std::uint32_t stamp);
std::uint32_t EncodeDosStamp(const DosDateTime& t);

// Shown in place of the date and time when the stamp holds no valid date and time.
inline constexpr std::u16string_view kUnknownStamp = u"неизвестно";

// The time stamp of the root resource directory of a loaded PE image (PE32 or PE32+), read
// through the bounds-checked reader; an error when the image has no resource directory or
// its headers do not lie inside it.
binary::Expected<std::uint32_t> ResourceDirectoryStamp(std::span<const std::uint8_t> image);

} // namespace show
