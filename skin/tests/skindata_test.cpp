// The packed skin data: BMP pictures and the container, damaged ones refused.
#include "skin/skindata.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// A bottom-up BMP of the given bits per pixel; pixel (x, y) gets the value f(x, y).
template <typename F> Bytes Bmp(int w, int h, int bits, F f, bool topDown = false) {
    const int stride = ((w * bits + 31) / 32) * 4;
    const int palette = bits == 8 ? 256 * 4 : 0;
    Bytes b;
    Put(b, 0x4D42, 2);
    Put(b, 54 + palette + stride * h, 4);
    Put(b, 0, 4);
    Put(b, 54 + palette, 4);
    Put(b, 40, 4);
    Put(b, w, 4);
    Put(b, static_cast<std::uint32_t>(topDown ? -h : h), 4);
    Put(b, 1, 2);
    Put(b, bits, 2);
    for (int i = 0; i < 6; ++i) {
        Put(b, 0, 4);
    }
    for (int i = 0; i < palette / 4; ++i) {
        Put(b, static_cast<std::uint32_t>(i * 0x010101), 4);
    }
    for (int row = 0; row < h; ++row) {
        const int y = topDown ? row : h - 1 - row;
        Bytes line;
        for (int x = 0; x < w; ++x) {
            Put(line, f(x, y), bits / 8);
        }
        line.resize(static_cast<size_t>(stride), 0);
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

Bytes Container(const std::vector<std::pair<std::string, Bytes>>& entries) {
    Bytes b{'I', 'T', 'R', 'S', 'K', 'I', 'N', '1'};
    Put(b, static_cast<std::uint32_t>(entries.size()), 4);
    for (auto& [name, data] : entries) {
        Put(b, static_cast<std::uint32_t>(name.size()), 2);
        b.insert(b.end(), name.begin(), name.end());
        Put(b, static_cast<std::uint32_t>(data.size()), 4);
        b.insert(b.end(), data.begin(), data.end());
    }
    return b;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(DecodeBmp, ReadsRowsTopDownAndPremultipliesAlpha) {
    Bytes bmp32 = Bmp(3, 2, 32, [](int x, int y) {
        return x == 0 && y == 0 ? 0x80FF0000u : (x == 2 && y == 1 ? 0xFF00FF00u : 0u);
    });
    auto img = skin::DecodeBmp(bmp32);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 3);
    EXPECT_EQ(img->height, 2);
    EXPECT_EQ(img->pixels[0], 0x80800000u) << "half-transparent red, premultiplied";
    EXPECT_EQ(img->pixels[5], 0xFF00FF00u);
    EXPECT_EQ(img->pixels[1], 0u);

    auto top = skin::DecodeBmp(Bmp(
        2, 2, 24, [](int x, int y) { return (x + 2 * y) * 0x10u; }, true));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->pixels[3], 0xFF000030u);

    auto pal =
        skin::DecodeBmp(Bmp(5, 1, 8, [](int x, int) { return static_cast<std::uint32_t>(x); }));
    ASSERT_TRUE(pal);
    EXPECT_EQ(pal->pixels[4], 0xFF040404u);
}

TEST(DecodeBmp, RefusesMalformedFiles) {
    Bytes good = Bmp(4, 4, 32, [](int, int) { return 0xFFFFFFFFu; });
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"truncated pixels", Bytes(good.begin(), good.end() - 1)});
    Bytes badSig = good;
    badSig[0] = 'X';
    cases.push_back({"signature", badSig});
    Bytes hugeOffset = good;
    hugeOffset[10] = 0xFF, hugeOffset[11] = 0xFF, hugeOffset[12] = 0xFF, hugeOffset[13] = 0x7F;
    cases.push_back({"pixel offset past the end", hugeOffset});
    Bytes rle = good;
    rle[30] = 1;
    cases.push_back({"compressed", rle});
    Bytes wide = good;
    wide[21] = 0x7F;
    cases.push_back({"absurd width", wide});
    for (auto& c : cases) {
        const auto image = skin::DecodeBmp(c.bytes);
        ASSERT_FALSE(image) << c.what;
        EXPECT_FALSE(image.error().message.empty()) << c.what;
    }
}

TEST(SkinContainer, LoadsOptionsAndPicturesAndRefusesDamage) {
    const std::string ini =
        "[Skin]\nName=matrix (internal)\n[FORM]\nCaptionHeight=22 ; default bar\nBorderWidth=3\n"
        "ClientColor=010203\nCaptionFont=Tahoma\nCaptionFontBold=0\nButtonSize=2\n";
    Bytes caption = Bmp(8, 4, 32, [](int, int) { return 0xFF102030u; });
    Bytes buttons = Bmp(6, 4, 32, [](int, int) { return 0xFF00FF00u; });
    Bytes packed =
        Container({{"options.ini", Text(ini)}, {"caption.bmp", caption}, {"buttons.bmp", buttons}});
    auto s = skin::LoadSkin(packed);
    ASSERT_TRUE(s) << s.error().Text();
    EXPECT_EQ(s->options.skinName, "matrix (internal)");
    EXPECT_EQ(s->options.captionHeight, 22);
    EXPECT_EQ(s->options.borderWidth, 3);
    EXPECT_EQ(s->options.clientColor, 0x010203u);
    EXPECT_FALSE(s->options.captionFontBold);
    EXPECT_EQ(s->caption.width, 8);

    for (size_t cut = 0; cut < packed.size(); cut += 7) {
        EXPECT_FALSE(skin::LoadSkin(Bytes(packed.begin(), packed.begin() + static_cast<long>(cut))))
            << "cut at " << cut;
    }
    Bytes wrongButtons =
        Container({{"options.ini", Text(ini)}, {"caption.bmp", caption}, {"buttons.bmp", caption}});
    EXPECT_FALSE(skin::LoadSkin(wrongButtons));
    Bytes badValue = Container({{"options.ini", Text("[FORM]\nBorderWidth=wide\n")},
                                {"caption.bmp", caption},
                                {"buttons.bmp", buttons}});
    const auto refused = skin::LoadSkin(badValue);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("BorderWidth"), std::string::npos);
}

} // namespace
