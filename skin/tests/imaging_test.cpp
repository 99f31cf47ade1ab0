// The skin's portable picture operations: resize, fit, the shadowed text and edge snapping.
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

TEST(ShadowedText, CoverageIsTheBrightestChannelOfWhiteTextOnBlack) {
    const std::uint32_t drawn[] = {0x000000, 0xFFFFFF, 0x408020, 0x102030};
    const skin::Image coverage = skin::WhiteTextCoverage(drawn, 2, 2);
    EXPECT_EQ(coverage.width, 2);
    EXPECT_EQ(coverage.pixels,
              (std::vector<std::uint32_t>{0x00000000, 0xFF000000, 0x80000000, 0x30000000}));
}

// One covered pixel at (4, 4) of a 9 x 9 coverage, reach 4: the shadow is that pixel blurred
// by 2 (a 5 x 5 square of alpha 255 / 5 / 5 = 10) moved by 2, so it spans (4..8, 4..8) and the
// opaque text pixel sits on its top-left corner.
TEST(ShadowedText, TheShadowLiesBlurredBelowRightOfTheTextAndTheTextCoversIt) {
    skin::Image coverage{9, 9, std::vector<std::uint32_t>(81, 0)};
    coverage.pixels[4 * 9 + 4] = 0xFF000000;
    const skin::PlacedImage out = skin::ComposeShadowedText(coverage, 0x00FF00, 0xFF0000, 4);
    EXPECT_EQ(out.left, 4);
    EXPECT_EQ(out.top, 4);
    ASSERT_EQ(out.image.width, 5);
    ASSERT_EQ(out.image.height, 5);
    EXPECT_EQ(out.image.pixels[0], 0xFF00FF00u) << "the text, opaque, over its shadow";
    for (std::size_t i = 1; i < out.image.pixels.size(); ++i) {
        EXPECT_EQ(out.image.pixels[i], 0x0A0A0000u) << i << ": red at alpha 10, premultiplied";
    }

    // Text at half coverage over its shadow: "over" with premultiplied colours.
    coverage.pixels[4 * 9 + 4] = 0x80000000;
    const skin::PlacedImage half = skin::ComposeShadowedText(coverage, 0xFFFFFF, 0x000000, 4);
    ASSERT_FALSE(half.image.pixels.empty());
    // Shadow alpha 128 / 5 / 5 = 5; text 0x80 in every channel; 5 * 127 / 255 = 2 kept.
    EXPECT_EQ(half.image.pixels[0], 0x82808080u);
}

TEST(ShadowedText, NothingCoveredGivesNoImageAndEveryReachStaysInside) {
    const skin::Image blank{6, 4, std::vector<std::uint32_t>(24, 0)};
    EXPECT_TRUE(skin::ComposeShadowedText(blank, 0xFFFFFF, 0, 4).image.pixels.empty());
    skin::Image dot{3, 3, std::vector<std::uint32_t>(9, 0)};
    dot.pixels[4] = 0xFF000000;
    for (int reach : {0, 1, 2, 7}) {
        const skin::PlacedImage out = skin::ComposeShadowedText(dot, 0xFFFFFF, 0, reach);
        ASSERT_FALSE(out.image.pixels.empty()) << reach;
        EXPECT_GE(out.left, 0) << reach;
        EXPECT_GE(out.top, 0) << reach;
    }
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
