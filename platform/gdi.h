// The few GDI operations the show's portable logic needs. On Windows a Dc is an HDC; in the
// native build it names a surface of a small in-memory GDI (platform/gdi_memory.h), so the
// rain and the glyph sheets can be unit-tested pixel by pixel off Windows.
#pragma once

#include <cstdint>

namespace platform {

using Dc = std::uintptr_t;

// Colours are COLORREF-style: 0x00BBGGRR.
using ColorRef = std::uint32_t;
constexpr ColorRef Rgb(int r, int g, int b) {
    return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// A bitmap together with the memory device context it is selected into, the way a VCL
// TBitmap carries its canvas: copies out of it need no per-call set-up.
struct Bitmap;

// A new bitmap of the given size, filled with one colour; null on failure.
Bitmap* BitmapCreateFilled(int width, int height, ColorRef color);
void BitmapFree(Bitmap* bitmap);
int BitmapWidth(const Bitmap* bitmap);
int BitmapHeight(const Bitmap* bitmap);
// The memory device context the bitmap is selected into.
Dc BitmapDc(const Bitmap* bitmap);

// Plain copy (SRCCOPY) of a w x h block from (sx, sy) of src to (x, y) of dest.
bool CopyBlock(Dc dest, int x, int y, int w, int h, Dc src, int sx, int sy);

} // namespace platform
