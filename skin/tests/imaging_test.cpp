#include "skin/imaging.h"

#include <gtest/gtest.h>

namespace {

TEST(Resize, AveragesAreasAndKeepsFlatColours) {
    skin::Image img{4,
                    2,
                    {0xFF000000, 0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000, 0xFF000000,
                     0xFFFFFFFF, 0xFFFFFFFF}};
    skin::Image half = skin::Resize(img, 2, 1);
    ASSERT_EQ(half.pixels.size(), 2u);
    EXPECT_EQ(half.pixels[0], 0xFF000000u);
    EXPECT_EQ(half.pixels[1], 0xFFFFFFFFu);
    skin::Image one = skin::Resize(img, 1, 1);
    EXPECT_EQ(one.pixels[0], 0xFF808080u);
    skin::Image up = skin::Resize(img, 8, 4);
    EXPECT_EQ(up.pixels[0], 0xFF000000u);
    EXPECT_EQ(up.pixels[31], 0xFFFFFFFFu);
    EXPECT_TRUE(skin::Resize(img, 0, 3).pixels.empty());
}

TEST(FitProportional, LogoFillsTheWidthOfItsPicture) {
    int w = 0, h = 0;
    skin::FitProportional(210, 70, 346, 140, w, h);
    EXPECT_EQ(w, 346);
    EXPECT_EQ(h, 115);
    skin::FitProportional(70, 210, 346, 140, w, h);
    EXPECT_EQ(h, 140);
    EXPECT_EQ(w, 46);
}

TEST(SnapToEdges, SnapsOnlyWithinTheThreshold) {
    const skin::SnapRect screen{0, 0, 1280, 1024};
    auto moved = [&](int l, int t) {
        return skin::SnapToEdges({l, t, l + 464, t + 549}, screen, 10);
    };
    EXPECT_EQ(moved(7, 300).left, 0);
    EXPECT_EQ(moved(11, 300).left, 11);
    EXPECT_EQ(moved(1280 - 464 + 9, 300).left, 1280 - 464);
    EXPECT_EQ(moved(300, -6).top, 0);
    EXPECT_EQ(moved(300, 1024 - 549 - 10).top, 1024 - 549);
    auto r = moved(5, 5);
    EXPECT_EQ(r.right - r.left, 464);
    EXPECT_EQ(r.bottom - r.top, 549);
}

} // namespace
