// A glyph sheet: a column of equally tall cells in one bitmap, copied cell by cell straight
// into the window's device context by the rain.
#pragma once

#include "platform/gdi.h"

#include <cstdint>
#include <memory>

namespace show {

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};
struct TPoint {
    int X = 0, Y = 0;
};

class TGraphicManager {
public:
    int MapWidth() const { return fMapWidth; }
    void SetMapWidth(int value) { fMapWidth = value; }
    int MapHeight() const { return fMapHeight; }
    void SetMapHeight(int value) { fMapHeight = value; }
    platform::Bitmap* Bitmap() const { return fBitMap; }
    void SetBitmap(platform::Bitmap* value) { fBitMap = value; }
    platform::Dc OutPutDC() const { return fDefaultDC; }
    void SetOutPutDC(platform::Dc value) { fDefaultDC = value; }

    // Copies cell `index` to (x, y) of OutPutDC. The index is not checked: callers keep it
    // inside the sheet.
    void BltDefaultIndex(int index, int x, int y) const;
    // Plain copy of `sr` of the sheet's bitmap to DestCoord in DestDC.
    void BltToCanvas(const TRect& sr, TPoint DestCoord, platform::Dc DestDC) const;
    // Kept for the sheet's interface; the show never stretches a glyph.
    void StretchBltToCanvas(const TRect& sr, const TRect& Dest, platform::Dc DestDC) const;

private:
    std::int32_t fMapWidth = 0;
    std::int32_t fMapHeight = 0;
    platform::Bitmap* fBitMap = nullptr; // not owned
    // A device-context handle; kept pointer-sized, as 64-bit handles do not fit 32 bits.
    platform::Dc fDefaultDC = 0;
};

// The three program-wide sheets and the black bitmap they share, rebuilt on every activation.
struct GlyphSheets {
    platform::Bitmap* BlackBitmap = nullptr; // owned; released by the close handler
    std::unique_ptr<TGraphicManager> BlackSheet;
    std::unique_ptr<TGraphicManager> IntenseSheet;
    std::unique_ptr<TGraphicManager> NormalSheet;

    GlyphSheets() = default;
    GlyphSheets(const GlyphSheets&) = delete;
    GlyphSheets& operator=(const GlyphSheets&) = delete;
    ~GlyphSheets();
    void ReleaseBlackBitmap();
};

constexpr int kBlackBitmapWidth = 20;
constexpr int kBlackBitmapHeight = 100;
constexpr int kCellHeight = 20;

// Builds the sheets from the bitmaps of Image1 (normal) and Image2 (intense), all drawing into
// windowDc. The previous sheets and black bitmap are released.
bool BuildSheets(GlyphSheets& sheets, platform::Bitmap* image1, platform::Bitmap* image2,
                 platform::Dc windowDc);

} // namespace show
