// Win32-only additions to platform/gdi.h.
#pragma once

#include "platform/gdi.h"

#include <windows.h>

namespace platform {

// Takes ownership of a loaded bitmap and selects it into a memory device context of its own.
Bitmap* BitmapAdopt(HBITMAP handle);
HBITMAP BitmapHandle(const Bitmap* bitmap);

// A 32-bit top-down DIB section of the given size; *bits receives its pixels. Null on failure.
HBITMAP CreateDib32(int width, int height, void** bits);

// Draws the (sx, sy, sw, sh) block of src, a 32-bit bitmap with premultiplied alpha, over the
// (x, y, w, h) block of dest at the given opacity (255: opaque), through msimg32's AlphaBlend,
// loaded from the system folder at first use. Without it the block is copied plainly.
void BlendBlock(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                BYTE opacity);

inline HDC ToHdc(Dc dc) {
    return reinterpret_cast<HDC>(dc);
}
inline Dc FromHdc(HDC dc) {
    return reinterpret_cast<Dc>(dc);
}

} // namespace platform
