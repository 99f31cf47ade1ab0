// UTF-8 and UTF-16 conversions, malformed input included.
#include "platform/text.h"

#include <gtest/gtest.h>

TEST(Text, RoundTripsRussianAndAstralText) {
    const std::string utf8 = "Иконка не установлена!!! \xF0\x9F\x90\x87";
    std::u16string wide = platform::Utf16(utf8);
    EXPECT_EQ(wide.substr(0, 6), u"Иконка");
    EXPECT_EQ(platform::Utf8(wide), utf8);
}

TEST(Text, ReplacesMalformedInput) {
    EXPECT_EQ(platform::Utf16("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(platform::Utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(platform::Utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}
