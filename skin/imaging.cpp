#include "skin/imaging.h"

#include <algorithm>
#include <cstdlib>

namespace skin {

Image Resize(const Image& source, int width, int height) {
    Image out;
    if (width < 1 || height < 1 || source.width < 1 || source.height < 1) {
        return out;
    }
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<size_t>(width) * height, 0);
    // Each destination pixel averages the source area it covers, with fractional edges, in
    // 16.16 fixed point per axis.
    const std::int64_t sx = (static_cast<std::int64_t>(source.width) << 16) / width;
    const std::int64_t sy = (static_cast<std::int64_t>(source.height) << 16) / height;
    for (int y = 0; y < height; ++y) {
        const std::int64_t y0 = y * sy, y1 = y0 + sy;
        for (int x = 0; x < width; ++x) {
            const std::int64_t x0 = x * sx, x1 = x0 + sx;
            std::uint64_t acc[4] = {0, 0, 0, 0};
            std::uint64_t total = 0;
            for (std::int64_t py = y0 >> 16; py < ((y1 + 0xFFFF) >> 16) && py < source.height;
                 ++py) {
                const std::int64_t wy = std::min(y1, (py + 1) << 16) - std::max(y0, py << 16);
                for (std::int64_t px = x0 >> 16; px < ((x1 + 0xFFFF) >> 16) && px < source.width;
                     ++px) {
                    const std::int64_t wx = std::min(x1, (px + 1) << 16) - std::max(x0, px << 16);
                    const std::uint64_t w = static_cast<std::uint64_t>((wx * wy) >> 16);
                    const std::uint32_t p =
                        source.pixels[static_cast<size_t>(py) * source.width + px];
                    for (int c = 0; c < 4; ++c) {
                        acc[c] += ((p >> (8 * c)) & 0xFF) * w;
                    }
                    total += w;
                }
            }
            std::uint32_t result = 0;
            if (total) {
                for (int c = 0; c < 4; ++c) {
                    result |= static_cast<std::uint32_t>((acc[c] + total / 2) / total) << (8 * c);
                }
            }
            out.pixels[static_cast<size_t>(y) * width + x] = result;
        }
    }
    return out;
}

void FitProportional(int sw, int sh, int w, int h, int& ow, int& oh) {
    if (sw <= 0 || sh <= 0) {
        ow = oh = 0;
        return;
    }
    if (static_cast<std::int64_t>(w) * sh <= static_cast<std::int64_t>(h) * sw) {
        ow = w;
        oh = static_cast<int>(static_cast<std::int64_t>(sh) * w / sw);
    } else {
        oh = h;
        ow = static_cast<int>(static_cast<std::int64_t>(sw) * h / sh);
    }
}

void BlurAlpha(Image& image, int radius) {
    if (radius <= 0 || image.width <= 0 || image.height <= 0) {
        return;
    }
    const int w = image.width, h = image.height;
    std::vector<std::uint32_t> alpha(static_cast<size_t>(w) * h), tmp(alpha.size());
    for (size_t i = 0; i < alpha.size(); ++i) {
        alpha[i] = image.pixels[i] >> 24;
    }
    const int n = 2 * radius + 1;
    auto at = [](const std::vector<std::uint32_t>& v, int stride, int i, int j) {
        return v[static_cast<size_t>(j) * stride + i];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint32_t s = 0;
            for (int k = -radius; k <= radius; ++k) {
                s += at(alpha, w, std::clamp(x + k, 0, w - 1), y);
            }
            tmp[static_cast<size_t>(y) * w + x] = s / n;
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint32_t s = 0;
            for (int k = -radius; k <= radius; ++k) {
                s += at(tmp, w, x, std::clamp(y + k, 0, h - 1));
            }
            const size_t i = static_cast<size_t>(y) * w + x;
            image.pixels[i] = ((s / n) << 24) | (image.pixels[i] & 0xFFFFFF);
        }
    }
}

SnapRect SnapToEdges(SnapRect r, const SnapRect& area, int threshold) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (std::abs(r.left - area.left) <= threshold) {
        r.left = area.left;
    } else if (std::abs(r.right - area.right) <= threshold) {
        r.left = area.right - w;
    }
    if (std::abs(r.top - area.top) <= threshold) {
        r.top = area.top;
    } else if (std::abs(r.bottom - area.bottom) <= threshold) {
        r.top = area.bottom - h;
    }
    r.right = r.left + w;
    r.bottom = r.top + h;
    return r;
}

} // namespace skin
