// The About box's text.
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

} // namespace show
