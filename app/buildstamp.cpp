#include "app/buildstamp.h"

#include "platform/text.h"
#include "show/about.h"

#include <windows.h>

#include <iterator>
#include <optional>

namespace app {

namespace {

// The build stamp as a system time; none when the stamp is not a valid MS-DOS date and time.
std::optional<SYSTEMTIME> GetBuildStamp() {
    const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto stamp = show::ResourceDirectoryStamp({base, nt->OptionalHeader.SizeOfImage});
    const auto t = stamp ? show::DecodeDosStamp(*stamp) : std::nullopt;
    if (!t) {
        return std::nullopt;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t->year);
    st.wMonth = static_cast<WORD>(t->month);
    st.wDay = static_cast<WORD>(t->day);
    st.wHour = static_cast<WORD>(t->hour);
    st.wMinute = static_cast<WORD>(t->minute);
    st.wSecond = static_cast<WORD>(t->second);
    return st;
}

// The build stamp through one of the user's formats; the placeholder when there is none.
template <typename Format> std::u16string FormatBuildStamp(Format format) {
    const auto st = GetBuildStamp();
    wchar_t buf[128] = {};
    if (!st || !format(&*st, buf, static_cast<int>(std::size(buf)))) {
        return std::u16string(show::kUnknownStamp);
    }
    return platform::U(buf).data();
}

} // namespace

std::u16string BuildDateText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, st, nullptr, buf, n,
                               nullptr);
    });
}

std::u16string BuildTimeText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, st, nullptr, buf, n);
    });
}

} // namespace app
