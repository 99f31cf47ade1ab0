// The show's GDI operations on Windows: bitmaps in memory device contexts, block copies and
// blends.
#include "platform/gdi_win32.h"
#include "platform/gdi.h"
#include "platform/owner_win32.h"
#include "platform/system_library_win32.h"

#include <windows.h>

#include <memory>

namespace platform {

struct Bitmap {
    SelectedBitmap selected;
    int width = 0;
    int height = 0;
};

namespace {

Bitmap* Wrap(HBITMAP handle) {
    GdiObject<HBITMAP> owned(handle);
    BITMAP info{};
    if (!owned || !GetObjectW(handle, sizeof info, &info)) {
        return nullptr;
    }
    auto b = std::make_unique<Bitmap>();
    if (!b->selected.Adopt(owned.Detach())) {
        return nullptr;
    }
    b->width = info.bmWidth;
    b->height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    return b.release();
}

// msimg32 is not among the system's known libraries: loaded from the system folder at first
// use, never imported (an import would take an msimg32.dll beside the program first).
using AlphaBlendFunction = decltype(&::AlphaBlend);

AlphaBlendFunction AlphaBlendOfSystem() {
    static const AlphaBlendFunction function =
        LibraryFunction<AlphaBlendFunction>(LoadSystemLibrary(L"msimg32.dll"), "AlphaBlend");
    return function;
}

} // namespace

void BlendBlock(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                BYTE opacity) {
    if (const AlphaBlendFunction alphaBlend = AlphaBlendOfSystem()) {
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, opacity, AC_SRC_ALPHA};
        alphaBlend(dest, x, y, w, h, src, sx, sy, sw, sh, blend);
        return;
    }
    const int mode = SetStretchBltMode(dest, COLORONCOLOR);
    StretchBlt(dest, x, y, w, h, src, sx, sy, sw, sh, SRCCOPY);
    SetStretchBltMode(dest, mode);
}

HBITMAP CreateDib32(int width, int height, void** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* unused = nullptr;
    return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits ? bits : &unused, nullptr, 0);
}

Bitmap* BitmapCreateFilled(int width, int height, ColorRef color) {
    Bitmap* b = Wrap(CreateDib32(width, height, nullptr));
    if (!b) {
        return nullptr;
    }
    RECT r{0, 0, width, height};
    const GdiObject<HBRUSH> brush(CreateSolidBrush(color));
    FillRect(b->selected.Dc(), &r, brush.Get());
    return b;
}

Bitmap* BitmapAdopt(HBITMAP handle) {
    return Wrap(handle);
}

HBITMAP BitmapHandle(const Bitmap* bitmap) {
    return bitmap ? bitmap->selected.Handle() : nullptr;
}

void BitmapFree(Bitmap* b) {
    delete b;
}

int BitmapWidth(const Bitmap* b) {
    return b ? b->width : 0;
}
int BitmapHeight(const Bitmap* b) {
    return b ? b->height : 0;
}
Dc BitmapDc(const Bitmap* b) {
    return b ? reinterpret_cast<Dc>(b->selected.Dc()) : 0;
}

bool CopyBlock(Dc dest, int x, int y, int w, int h, Dc src, int sx, int sy) {
    return BitBlt(reinterpret_cast<HDC>(dest), x, y, w, h, reinterpret_cast<HDC>(src), sx, sy,
                  SRCCOPY) != 0;
}

} // namespace platform
