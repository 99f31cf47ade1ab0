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

TEST(DosStamp, DecodesTheFifteenthOfMarch2010) {
    const std::uint32_t stamp =
        (((30u << 9) | (3u << 5) | 15u) << 16) | ((9u << 11) | (30u << 5) | 10u);
    auto t = DecodeDosStamp(stamp);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2010);
    EXPECT_EQ(t->month, 3);
    EXPECT_EQ(t->day, 15);
    EXPECT_EQ(t->hour, 9);
    EXPECT_EQ(t->minute, 30);
    EXPECT_EQ(t->second, 20);
    EXPECT_EQ(EncodeDosStamp(*t), stamp);
}

TEST(DosStamp, RefusesStampsThatNameNoMoment) {
    const DosDateTime good{2024, 2, 29, 23, 59, 58};
    EXPECT_TRUE(DecodeDosStamp(EncodeDosStamp(good)));
    for (std::uint32_t bad :
         {0u, EncodeDosStamp({2023, 2, 29, 0, 0, 0}), EncodeDosStamp({2020, 13, 1, 0, 0, 0}),
          EncodeDosStamp({2020, 1, 1, 24, 0, 0}), EncodeDosStamp({2020, 1, 1, 0, 60, 0}),
          0xFFFFFFFFu}) {
        EXPECT_FALSE(DecodeDosStamp(bad)) << std::hex << bad;
    }
}

std::vector<std::uint8_t> Image(bool plus, std::uint32_t resourceRva, std::uint32_t stamp) {
    std::vector<std::uint8_t> img(0x2000, 0);
    auto put = [&](size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            img[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put(0, 0x5A4D, 2);
    put(0x3C, 0x80, 4);
    put(0x80, 0x4550, 4);
    put(0x98, plus ? 0x20B : 0x10B, 2);
    put(plus ? 0x80 + 0x18 + 112 + 16 : 0x80 + 0x88, resourceRva, 4);
    if (resourceRva + 8 <= img.size()) {
        put(resourceRva + 4, stamp, 4);
    }
    return img;
}

TEST(ResourceStamp, FoundThroughTheOptionalHeadersMagic) {
    EXPECT_EQ(ResourceDirectoryStamp(Image(false, 0x1000, 0x3C6F4BCA)), 0x3C6F4BCAu);
    EXPECT_EQ(ResourceDirectoryStamp(Image(true, 0x1800, 0x12345678)), 0x12345678u);
    EXPECT_FALSE(ResourceDirectoryStamp(Image(true, 0, 1))) << "no resource directory";
    EXPECT_FALSE(ResourceDirectoryStamp(Image(false, 0x7FFFFFF0, 1))) << "outside the image";
    auto img = Image(false, 0x1000, 1);
    img.resize(0x90);
    EXPECT_FALSE(ResourceDirectoryStamp(img));
}

} // namespace
