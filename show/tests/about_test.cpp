// The About box's text: its twelve lines and their separators.
#include "show/about.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace show;

std::vector<std::u16string> Split(const std::u16string& text, std::u16string_view sep) {
    std::vector<std::u16string> parts;
    size_t pos = 0;
    for (;;) {
        size_t next = text.find(sep, pos);
        parts.push_back(text.substr(pos, next - pos));
        if (next == std::u16string::npos) {
            return parts;
        }
        pos = next + sep.size();
    }
}

TEST(About, TwelveLinesSeparatedByLineFeedThenCarriageReturn) {
    const std::u16string text = AboutText(u"15.03.2010", u"9:30:20");
    const auto lines = Split(text, u"\n\r");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], u"Потрачено на перевод около 150 часов");
    EXPECT_EQ(lines[7], u"Всегда качественный софт, для любых целей(asm,delphi,c++)");
    EXPECT_FALSE(lines[8].empty()) << "the contact line";
    EXPECT_TRUE(lines[9].empty());
    EXPECT_EQ(lines[10], u"Дата компиляции: 15.03.2010");
    EXPECT_EQ(lines[11], u"Время компиляции: 9:30:20");
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            EXPECT_TRUE(i > 0 && text[i - 1] == u'\n') << "every CR follows an LF, at " << i;
        }
    }
    EXPECT_NE(text.back(), u'\r');
    EXPECT_EQ(AboutFixedText().substr(AboutFixedText().size() - 17), u"Дата компиляции: ");
}

} // namespace
