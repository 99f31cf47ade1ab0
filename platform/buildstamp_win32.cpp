// The running program's build stamp: its own loaded image read through the PE layout, the
// stamp written in the user's date and time formats.
#include "platform/buildstamp_win32.h"

#include "binary/pe.h"
#include "platform/buildstamp.h"
#include "platform/text.h"

#include <windows.h>

#include <iterator>

namespace platform {

namespace {

// The build stamp as a system time; none when the stamp is not a valid MS-DOS date and time.
std::optional<SYSTEMTIME> OwnBuildStamp() {
    const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
    const binary::Expected<binary::Reader> image = binary::pe::LoadedImage(base);
    if (!image) {
        return std::nullopt;
    }
    const binary::Expected<std::uint32_t> stamp = binary::pe::ResourceDirectoryStamp(*image);
    const std::optional<DosDateTime> t = stamp ? DecodeDosStamp(*stamp) : std::nullopt;
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

// The build stamp through one of the user's formats.
template <typename Format> std::optional<std::u16string> FormatBuildStamp(Format format) {
    const std::optional<SYSTEMTIME> st = OwnBuildStamp();
    wchar_t buf[128] = {};
    if (!st || !format(&*st, buf, static_cast<int>(std::size(buf)))) {
        return std::nullopt;
    }
    return std::u16string(U(buf));
}

} // namespace

std::optional<std::u16string> BuildDateText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, st, nullptr, buf, n,
                               nullptr);
    });
}

std::optional<std::u16string> BuildTimeText() {
    return FormatBuildStamp([](const SYSTEMTIME* st, wchar_t* buf, int n) {
        return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, st, nullptr, buf, n);
    });
}

} // namespace platform
