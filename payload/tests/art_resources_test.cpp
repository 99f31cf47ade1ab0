// Loads the generated artwork through the Win32 loaders, from resources compiled by the
// real resource compiler, and checks that what the program will get is what was drawn.
#include "platform/gdi_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

HMODULE Self() {
    return GetModuleHandleW(nullptr);
}

std::span<const uint8_t> Resource(const wchar_t* type, const wchar_t* name) {
    HRSRC info = FindResourceW(Self(), name, type);
    if (!info)
        return {};
    HGLOBAL handle = LoadResource(Self(), info);
    auto* data = static_cast<const uint8_t*>(LockResource(handle));
    return {data, data ? SizeofResource(Self(), info) : 0};
}

uint32_t U32(std::span<const uint8_t> d, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= d.size())
        std::memcpy(&v, d.data() + at, 4);
    return v;
}

uint16_t U16(std::span<const uint8_t> d, size_t at) {
    uint16_t v = 0;
    if (at + 2 <= d.size())
        std::memcpy(&v, d.data() + at, 2);
    return v;
}

struct Rgba {
    uint8_t r, g, b, a;
};

// A bitmap loaded as a DIB section, with its pixels read straight from its bits.
struct LoadedBitmap {
    HBITMAP handle = nullptr;
    DIBSECTION dib{};

    explicit LoadedBitmap(const wchar_t* name) {
        handle =
            static_cast<HBITMAP>(LoadImageW(Self(), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (handle && GetObjectW(handle, sizeof dib, &dib) != sizeof dib)
            dib = {};
    }
    ~LoadedBitmap() {
        if (handle)
            DeleteObject(handle);
    }
    LoadedBitmap(const LoadedBitmap&) = delete;
    LoadedBitmap& operator=(const LoadedBitmap&) = delete;

    int Width() const { return dib.dsBm.bmWidth; }
    int Height() const { return dib.dsBm.bmHeight; }
    int Bits() const { return dib.dsBm.bmBitsPixel; }

    // Pixel (x, y), y counted from the top; 24 and 32 bits per pixel only.
    Rgba At(int x, int y) const {
        const bool bottomUp = dib.dsBmih.biHeight > 0;
        const int row = bottomUp ? Height() - 1 - y : y;
        const auto* base = static_cast<const uint8_t*>(dib.dsBm.bmBits) +
                           static_cast<size_t>(row) * dib.dsBm.bmWidthBytes;
        const uint8_t* p = base + static_cast<size_t>(x) * (Bits() / 8);
        return {p[2], p[1], p[0], Bits() == 32 ? p[3] : uint8_t{255}};
    }
};

TEST(ArtResources, GlyphSheetsLoadAsGreenOnlyCells) {
    for (const wchar_t* name : {L"GLYPHS_NORMAL", L"GLYPHS_INTENSE"}) {
        LoadedBitmap sheet(name);
        ASSERT_NE(sheet.handle, nullptr);
        ASSERT_NE(sheet.dib.dsBm.bmBits, nullptr);
        EXPECT_EQ(sheet.Width(), 20);
        EXPECT_EQ(sheet.Height(), 822);
        EXPECT_EQ(sheet.Bits(), 24);
        int stray = 0;
        int inkCell0 = 0;
        int inkEmpty = 0;
        for (int y = 0; y < sheet.Height(); ++y) {
            for (int x = 0; x < sheet.Width(); ++x) {
                Rgba p = sheet.At(x, y);
                stray += (p.r != 0 || p.b != 0);
                inkCell0 += (y < 20 && p.g != 0);
                const int cell = y / 20;
                inkEmpty += ((cell == 36 || cell == 38 || y >= 820) && p.g != 0);
            }
        }
        EXPECT_EQ(stray, 0) << "red or blue in a glyph sheet";
        EXPECT_GT(inkCell0, 15) << "cell 0 (top of the picture) holds a glyph";
        EXPECT_EQ(inkEmpty, 0) << "cells 36, 38 and the last two rows are black";
    }
}

TEST(ArtResources, LogoKeepsItsPalette) {
    LoadedBitmap logo(L"LOGO");
    ASSERT_NE(logo.handle, nullptr);
    EXPECT_EQ(logo.Width(), 210);
    EXPECT_EQ(logo.Height(), 70);
    EXPECT_EQ(logo.Bits(), 8);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HGDIOBJ old = SelectObject(dc, logo.handle);
    RGBQUAD table[256]{};
    EXPECT_EQ(GetDIBColorTable(dc, 0, 256, table), 256u);
    int greenish = 0;
    for (const RGBQUAD& c : table)
        greenish += (c.rgbGreen >= c.rgbRed && c.rgbGreen >= c.rgbBlue);
    EXPECT_EQ(greenish, 256);
    EXPECT_GT(table[255].rgbGreen, 200);
    SelectObject(dc, old);
    DeleteDC(dc);
}

TEST(ArtResources, RabbitKeepsStraightAlpha) {
    LoadedBitmap rabbit(L"RABBIT");
    ASSERT_NE(rabbit.handle, nullptr);
    ASSERT_NE(rabbit.dib.dsBm.bmBits, nullptr);
    EXPECT_EQ(rabbit.Width(), 110);
    EXPECT_EQ(rabbit.Height(), 132);
    EXPECT_EQ(rabbit.Bits(), 32);
    EXPECT_EQ(rabbit.At(0, 0).a, 0);
    EXPECT_EQ(rabbit.At(109, 131).a, 0);
    int opaqueWhite = 0;
    int straight = 0;
    for (int y = 0; y < 132; ++y) {
        for (int x = 0; x < 110; ++x) {
            Rgba p = rabbit.At(x, y);
            opaqueWhite += (p.a == 255 && p.r > 215 && p.g > 215 && p.b > 215);
            straight += (p.a > 0 && p.a < 128 && p.g > p.a + 64);
        }
    }
    EXPECT_GT(opaqueWhite, 110 * 132 / 4);
    EXPECT_GT(straight, 50) << "the loader handed back premultiplied or opaque pixels";
}

// The icon group that the resource compiler builds from the .ico file must point at the
// very images of the file: the patch writes that file out and uses it as the target's icon.
TEST(ArtResources, MainIconImagesAreTheIconFileImages) {
    auto file = Resource(MAKEINTRESOURCEW(10), L"PATCHDATA");
    auto group = Resource(MAKEINTRESOURCEW(14), L"MAINICON");
    ASSERT_EQ(file.size(), 370070u);
    ASSERT_GE(group.size(), 6u);
    const uint16_t count = U16(group, 4);
    ASSERT_EQ(count, 6);
    ASSERT_EQ(U16(file, 4), 6);
    ASSERT_GE(group.size(), 6u + 14u * count);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t g = 6 + 14u * i;
        const size_t f = 6 + 16u * i;
        EXPECT_EQ(group[g], file[f]) << "width of image " << i;
        const uint16_t id = U16(group, g + 12);
        auto image = Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id));
        const uint32_t size = U32(file, f + 8);
        const uint32_t offset = U32(file, f + 12);
        ASSERT_LE(size_t{offset} + size, file.size());
        ASSERT_EQ(image.size(), size) << "image " << i;
        EXPECT_EQ(std::memcmp(image.data(), file.data() + offset, size), 0) << "image " << i;
    }
}

// Draws the icon at each size over magenta: the rounded corners must stay magenta (the
// mask and alpha are honoured) and the tile must be drawn in green.
TEST(ArtResources, MainIconDrawsAtEverySize) {
    for (int size : {16, 32, 48, 64, 128, 256}) {
        auto* icon = static_cast<HICON>(
            LoadImageW(Self(), L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm{};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        if (info.hbmMask)
            DeleteObject(info.hbmMask);

        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP target = platform::CreateDib32(size, size, &bits);
        ASSERT_NE(target, nullptr);
        HGDIOBJ old = SelectObject(dc, target);
        auto* px = static_cast<uint32_t*>(bits);
        const uint32_t magenta = 0x00FF00FF;
        for (int k = 0; k < size * size; ++k)
            px[k] = magenta;
        ASSERT_TRUE(DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) << size;
        GdiFlush();
        const uint32_t corner = px[0] & 0xFFFFFF;
        const uint32_t middle = px[(size / 2) * size + size / 2] & 0xFFFFFF;
        const uint32_t nearSide = px[(size / 2) * size + size / 8] & 0xFFFFFF;
        if (size >= 32) { // the 16 px corner is only partly transparent
            EXPECT_EQ(corner, magenta) << size << " px: the corner is transparent";
        }
        EXPECT_NE(middle, magenta) << size << " px: the middle is drawn";
        EXPECT_NE(nearSide, magenta) << size << " px: the tile reaches the side";
        const int red = (middle >> 16) & 0xFF, green = (middle >> 8) & 0xFF;
        EXPECT_GE(green, red) << size << " px: green, not a magenta blend";
        SelectObject(dc, old);
        DeleteObject(target);
        DeleteDC(dc);
        DestroyIcon(icon);
    }
}

TEST(ArtResources, SkinDataTravelsAsRawData) {
    auto skin = Resource(MAKEINTRESOURCEW(10), L"SKIN");
    ASSERT_GT(skin.size(), 12u);
    EXPECT_EQ(std::memcmp(skin.data(), "ITRSKIN1", 8), 0);
    EXPECT_EQ(U32(skin, 8), 3u);
}

} // namespace
