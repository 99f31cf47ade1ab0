// The native build's in-memory GDI: surfaces of pixels, block copies and bitmaps.
#include "platform/gdi_memory.h"
#include "platform/gdi.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace platform {

namespace {

struct Surface {
    int width = 0;
    int height = 0;
    std::vector<ColorRef> pixels;
};

std::mutex g_lock;
std::map<Dc, Surface> g_surfaces;
Dc g_next = 1;
long g_copies = 0;

Surface* Find(Dc dc) {
    auto it = g_surfaces.find(dc);
    return it == g_surfaces.end() ? nullptr : &it->second;
}

} // namespace

struct Bitmap {
    Dc dc = 0;
};

Dc MemorySurfaceCreate(int width, int height, ColorRef fill) {
    std::lock_guard guard(g_lock);
    Dc dc = g_next++;
    g_surfaces[dc] =
        Surface{width, height, std::vector<ColorRef>(static_cast<size_t>(width) * height, fill)};
    return dc;
}

void MemorySurfaceFree(Dc surface) {
    std::lock_guard guard(g_lock);
    g_surfaces.erase(surface);
}

ColorRef MemorySurfacePixel(Dc surface, int x, int y) {
    std::lock_guard guard(g_lock);
    Surface* s = Find(surface);
    if (!s || x < 0 || y < 0 || x >= s->width || y >= s->height) {
        return 0xFFFFFFFF;
    }
    return s->pixels[static_cast<size_t>(y) * s->width + x];
}

void MemorySurfaceSetPixel(Dc surface, int x, int y, ColorRef color) {
    std::lock_guard guard(g_lock);
    Surface* s = Find(surface);
    if (s && x >= 0 && y >= 0 && x < s->width && y < s->height) {
        s->pixels[static_cast<size_t>(y) * s->width + x] = color;
    }
}

std::vector<ColorRef> MemorySurfacePixels(Dc surface) {
    std::lock_guard guard(g_lock);
    Surface* s = Find(surface);
    return s ? s->pixels : std::vector<ColorRef>{};
}

long MemoryCopyCount() {
    std::lock_guard guard(g_lock);
    return g_copies;
}

Bitmap* BitmapCreateFilled(int width, int height, ColorRef color) {
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    return new Bitmap{MemorySurfaceCreate(width, height, color)};
}

void BitmapFree(Bitmap* bitmap) {
    if (bitmap) {
        MemorySurfaceFree(bitmap->dc);
        delete bitmap;
    }
}

int BitmapWidth(const Bitmap* bitmap) {
    std::lock_guard guard(g_lock);
    Surface* s = bitmap ? Find(bitmap->dc) : nullptr;
    return s ? s->width : 0;
}

int BitmapHeight(const Bitmap* bitmap) {
    std::lock_guard guard(g_lock);
    Surface* s = bitmap ? Find(bitmap->dc) : nullptr;
    return s ? s->height : 0;
}

Dc BitmapDc(const Bitmap* bitmap) {
    return bitmap ? bitmap->dc : 0;
}

// Clipped to both surfaces, as GDI clips to the device's bounds.
bool CopyBlock(Dc dest, int x, int y, int w, int h, Dc src, int sx, int sy) {
    std::lock_guard guard(g_lock);
    ++g_copies;
    Surface* d = Find(dest);
    Surface* s = Find(src);
    if (!d || !s) {
        return false;
    }
    for (int row = 0; row < h; ++row) {
        int dy = y + row, syy = sy + row;
        if (dy < 0 || dy >= d->height || syy < 0 || syy >= s->height) {
            continue;
        }
        for (int col = 0; col < w; ++col) {
            int dx = x + col, sxx = sx + col;
            if (dx < 0 || dx >= d->width || sxx < 0 || sxx >= s->width) {
                continue;
            }
            d->pixels[static_cast<size_t>(dy) * d->width + dx] =
                s->pixels[static_cast<size_t>(syy) * s->width + sxx];
        }
    }
    return true;
}

} // namespace platform
