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

inline HDC ToHdc(Dc dc) {
    return reinterpret_cast<HDC>(dc);
}
inline Dc FromHdc(HDC dc) {
    return reinterpret_cast<Dc>(dc);
}

} // namespace platform
