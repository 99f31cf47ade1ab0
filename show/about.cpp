// The About box's text and the program's build stamp.
#include "show/about.h"

#include "binary/pe.h"

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

binary::Expected<std::uint32_t> ResourceDirectoryStamp(std::span<const std::uint8_t> image) {
    namespace pe = binary::pe;
    const binary::Reader reader(image);
    binary::Expected<pe::Layout> layout = pe::LocateHeaders(reader);
    if (!layout) {
        return layout.TakeError();
    }
    // The loader has checked the headers of the image it mapped: the resource entry is read
    // where the format puts it, and in an image an address is an offset.
    const std::uint32_t entry = layout->DirAddress(pe::kDirResource);
    std::uint32_t rva = 0;
    if (!reader.U32(entry, rva)) {
        return reader.Fault(binary::ErrorCode::Truncated,
                            "the data directories lie outside the image", entry,
                            pe::kDataDirectorySize);
    }
    if (rva == 0) {
        return reader.Fault(binary::ErrorCode::NotFound, "the image has no resource directory",
                            entry, pe::kDataDirectorySize);
    }
    std::uint32_t stamp = 0;
    if (!reader.U32(std::uint64_t{rva} + pe::kDirTimeDateStamp, stamp)) {
        return reader.Fault(binary::ErrorCode::Truncated,
                            "the resource directory lies outside the image", rva,
                            pe::kDirTableSize);
    }
    return stamp;
}

} // namespace show
