// Text for the JSON reports of the test programs (the UI driver, the stand-in target): UTF-16
// as UTF-8, and JSON string literals. Header-only, Win32 alone, so that the stand-in target
// builds from its own sources and this one header, without the program's libraries.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace report {

inline std::string Utf8(std::wstring_view w) {
    if (w.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
inline std::string Json(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

inline std::string Json(std::wstring_view w) {
    return Json(Utf8(w));
}

} // namespace report
