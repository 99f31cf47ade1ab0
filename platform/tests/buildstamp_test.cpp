// The build stamp's MS-DOS dates and times: a known moment both ways, and stamps that name
// none refused.
#include "platform/buildstamp.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

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

} // namespace
