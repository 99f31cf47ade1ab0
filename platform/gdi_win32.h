// Win32-only additions to platform/gdi.h.
#pragma once

#include "platform/gdi.h"

#include <windows.h>

namespace platform {

// Takes ownership of a loaded bitmap and selects it into a memory device context of its own.
Bitmap* BitmapAdopt(HBITMAP handle);
HBITMAP BitmapHandle(const Bitmap* bitmap);

inline HDC ToHdc(Dc dc) {
    return reinterpret_cast<HDC>(dc);
}
inline Dc FromHdc(HDC dc) {
    return reinterpret_cast<Dc>(dc);
}

} // namespace platform
