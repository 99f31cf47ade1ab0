// Windows path syntax as the program needs it, as plain functions so they run natively too.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The path up to and including its last backslash or drive colon ("C:\Tools\patch.exe" gives
// "C:\Tools\"); empty when there is neither.
std::u16string ExtractFilePath(std::u16string_view path);
// The folder part without its trailing backslash, except that a drive root keeps it
// ("D:\iTools.exe" gives "D:\", "D:\Target\iTools.exe" gives "D:\Target").
std::u16string ExtractFileDir(std::u16string_view path);
// The file name after the last backslash or drive colon.
std::u16string ExtractFileName(std::u16string_view path);
// The file name without its extension (the part from the last dot of the name on).
std::u16string FileNameWithoutExtension(std::u16string_view path);

} // namespace platform
