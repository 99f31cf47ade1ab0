#include "show/about.h"

namespace show {

namespace {

constexpr std::u16string_view kLines[] = {
    u"Потрачено на перевод около 150 часов",
    u"Написано 1931 строка кода",
    u"Используется:",
    u"Муз.движок -> unit XmPlayer",
    u"Парсер JSON: Tovan Rusk -> unit dwsJSON",
    u"Музыка - Another worlds",
    u"Спасибо, что загрузили и запустили программу!",
    u"Всегда качественный софт, для любых целей(asm,delphi,c++)",
    // Honest and useful: there is no address of ours to give, so say where help comes from.
    u"Связь: о проблемах сообщайте туда, откуда получили программу",
    u"",
    u"Дата компиляции: ",
};
constexpr std::u16string_view kTimeLabel = u"Время компиляции: ";

constexpr std::uint16_t kMz = 0x5A4D;
constexpr std::uint32_t kPe = 0x00004550;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kPe32DataDirectories = 96;
constexpr std::size_t kPe32PlusDataDirectories = 112;
constexpr std::size_t kResourceEntry = 2;

std::optional<std::uint32_t> Read(std::span<const std::uint8_t> b, std::size_t offset, int bytes) {
    if (offset > b.size() || b.size() - offset < static_cast<std::size_t>(bytes)) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | b[offset + static_cast<std::size_t>(i)];
    }
    return v;
}

int DaysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

std::u16string AboutFixedText() {
    std::u16string text;
    for (std::size_t i = 0; i < std::size(kLines); ++i) {
        if (i) {
            text += kAboutSeparator;
        }
        text += kLines[i];
    }
    return text;
}

std::u16string AboutText(std::u16string_view buildDate, std::u16string_view buildTime) {
    std::u16string text = AboutFixedText();
    text += buildDate;
    text += kAboutSeparator;
    text += kTimeLabel;
    text += buildTime;
    return text;
}

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

std::optional<std::uint32_t> ResourceDirectoryStamp(std::span<const std::uint8_t> image) {
    if (Read(image, 0, 2) != kMz) {
        return std::nullopt;
    }
    const auto pe = Read(image, 0x3C, 4);
    if (!pe || Read(image, *pe, 4) != kPe) {
        return std::nullopt;
    }
    const std::size_t optional = static_cast<std::size_t>(*pe) + 4 + kFileHeaderSize;
    const auto magic = Read(image, optional, 2);
    std::size_t directories;
    if (magic == kPe32Magic) {
        directories = optional + kPe32DataDirectories;
    } else if (magic == kPe32PlusMagic) {
        directories = optional + kPe32PlusDataDirectories;
    } else {
        return std::nullopt;
    }
    const auto rva = Read(image, directories + 8 * kResourceEntry, 4);
    if (!rva || *rva == 0) {
        return std::nullopt;
    }
    return Read(image, static_cast<std::size_t>(*rva) + 4, 4);
}

} // namespace show
