// MS-DOS dates and times, as the build stamp holds them.
#include "platform/buildstamp.h"

namespace platform {

namespace {

int DaysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

std::optional<DosDateTime> DecodeDosStamp(std::uint32_t stamp) {
    const std::uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
    DosDateTime t{static_cast<int>(1980 + (date >> 9)), static_cast<int>((date >> 5) & 0xF),
                  static_cast<int>(date & 0x1F),        static_cast<int>(time >> 11),
                  static_cast<int>((time >> 5) & 0x3F), static_cast<int>((time & 0x1F) * 2)};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysIn(t.year, t.month) ||
        t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

std::uint32_t EncodeDosStamp(const DosDateTime& t) {
    const std::uint32_t date = (static_cast<std::uint32_t>(t.year - 1980) << 9) |
                               (static_cast<std::uint32_t>(t.month) << 5) |
                               static_cast<std::uint32_t>(t.day);
    const std::uint32_t time = (static_cast<std::uint32_t>(t.hour) << 11) |
                               (static_cast<std::uint32_t>(t.minute) << 5) |
                               static_cast<std::uint32_t>(t.second / 2);
    return (date << 16) | time;
}

} // namespace platform
