// UTF-16 text helpers. The program's texts are UTF-16 (std::u16string); on Windows
// wchar_t has the same size, so the Win32 shell passes them through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf16(std::string_view utf8);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8(std::u16string_view utf16);

#ifdef _WIN32
inline const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::u16string_view U(const wchar_t* s) {
    return reinterpret_cast<const char16_t*>(s);
}
inline std::u16string_view U(std::wstring_view s) {
    return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}
// A copy as the Win32 API's wide strings, for a text that is not a whole std::u16string.
inline std::wstring Wide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}
#endif

} // namespace platform
