// The glyph sheets: cell copies into a device context and the three sheets' set-up.
#include "show/glyphsheet.h"

namespace show {

void TGraphicManager::BltDefaultIndex(int index, int x, int y) const {
    TRect cell{0, index * fMapHeight, fMapWidth, index * fMapHeight + fMapHeight};
    BltToCanvas(cell, TPoint{x, y}, fDefaultDC);
}

void TGraphicManager::BltToCanvas(const TRect& sr, TPoint DestCoord, platform::Dc DestDC) const {
    platform::CopyBlock(DestDC, DestCoord.X, DestCoord.Y, sr.Right - sr.Left, sr.Bottom - sr.Top,
                        platform::BitmapDc(fBitMap), sr.Left, sr.Top);
}

void TGraphicManager::StretchBltToCanvas(const TRect&, const TRect&, platform::Dc) const {}

GlyphSheets::~GlyphSheets() {
    ReleaseBlackBitmap();
}

void GlyphSheets::ReleaseBlackBitmap() {
    platform::BitmapFree(BlackBitmap);
    BlackBitmap = nullptr;
}

bool BuildSheets(GlyphSheets& sheets, platform::Bitmap* image1, platform::Bitmap* image2,
                 platform::Dc windowDc) {
    platform::Bitmap* black =
        platform::BitmapCreateFilled(kBlackBitmapWidth, kBlackBitmapHeight, platform::Rgb(0, 0, 0));
    if (!black) {
        return false;
    }
    auto make = [](platform::Bitmap* bitmap, int width) {
        auto sheet = std::make_unique<TGraphicManager>();
        sheet->SetBitmap(bitmap);
        sheet->SetMapWidth(width);
        sheet->SetMapHeight(kCellHeight);
        return sheet;
    };
    const int intenseWidth = platform::BitmapWidth(image2);
    auto blackSheet = make(black, intenseWidth);
    auto intenseSheet = make(image2, intenseWidth);
    auto normalSheet = make(image1, platform::BitmapWidth(image1));
    for (TGraphicManager* s : {blackSheet.get(), intenseSheet.get(), normalSheet.get()}) {
        s->SetOutPutDC(windowDc);
    }
    sheets.ReleaseBlackBitmap();
    sheets.BlackBitmap = black;
    sheets.BlackSheet = std::move(blackSheet);
    sheets.IntenseSheet = std::move(intenseSheet);
    sheets.NormalSheet = std::move(normalSheet);
    return true;
}

} // namespace show
