#include "platform/gdi_win32.h"
#include "platform/gdi.h"

#include <windows.h>

namespace platform {

struct Bitmap {
    HBITMAP handle = nullptr;
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
    int width = 0;
    int height = 0;
};

namespace {

Bitmap* Wrap(HBITMAP handle) {
    BITMAP info{};
    if (!handle || !GetObjectW(handle, sizeof info, &info)) {
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        return nullptr;
    }
    auto* b = new Bitmap;
    b->handle = handle;
    b->dc = dc;
    b->previous = SelectObject(dc, handle);
    b->width = info.bmWidth;
    b->height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    return b;
}

} // namespace

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
    HBITMAP handle = CreateDib32(width, height, nullptr);
    Bitmap* b = Wrap(handle);
    if (!b) {
        if (handle) {
            DeleteObject(handle);
        }
        return nullptr;
    }
    RECT r{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(b->dc, &r, brush);
    DeleteObject(brush);
    return b;
}

Bitmap* BitmapAdopt(HBITMAP handle) {
    return Wrap(handle);
}

HBITMAP BitmapHandle(const Bitmap* bitmap) {
    return bitmap ? bitmap->handle : nullptr;
}

void BitmapFree(Bitmap* b) {
    if (!b) {
        return;
    }
    SelectObject(b->dc, b->previous);
    DeleteDC(b->dc);
    DeleteObject(b->handle);
    delete b;
}

int BitmapWidth(const Bitmap* b) {
    return b ? b->width : 0;
}
int BitmapHeight(const Bitmap* b) {
    return b ? b->height : 0;
}
Dc BitmapDc(const Bitmap* b) {
    return b ? reinterpret_cast<Dc>(b->dc) : 0;
}

bool CopyBlock(Dc dest, int x, int y, int w, int h, Dc src, int sx, int sy) {
    return BitBlt(reinterpret_cast<HDC>(dest), x, y, w, h, reinterpret_cast<HDC>(src), sx, sy,
                  SRCCOPY) != 0;
}

} // namespace platform
