// The native build's stand-in for GDI: surfaces of 0x00BBGGRR pixels named by Dc values.
// Tests create surfaces for "window" device contexts and read pixels back.
#pragma once

#include "platform/gdi.h"

#include <vector>

namespace platform {

Dc MemorySurfaceCreate(int width, int height, ColorRef fill);
void MemorySurfaceFree(Dc surface);
ColorRef MemorySurfacePixel(Dc surface, int x, int y);
void MemorySurfaceSetPixel(Dc surface, int x, int y, ColorRef color);
std::vector<ColorRef> MemorySurfacePixels(Dc surface);
// Number of CopyBlock calls made so far (all surfaces).
long MemoryCopyCount();

} // namespace platform
