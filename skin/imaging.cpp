// Picture operations on premultiplied images: resize, fit, blur, the shadowed text's
// composition and the window's snapping to screen edges.
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

Image WhiteTextCoverage(const std::uint32_t* pixels, int width, int height) {
    Image coverage{width, height, std::vector<std::uint32_t>(static_cast<size_t>(width) * height)};
    for (size_t i = 0; i < coverage.pixels.size(); ++i) {
        const std::uint32_t p = pixels[i];
        const std::uint32_t a = std::max({p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF});
        coverage.pixels[i] = a << 24;
    }
    return coverage;
}

namespace {

// A 0x00RRGGBB colour at coverage a, premultiplied.
std::uint32_t Premultiplied(std::uint32_t rgb, std::uint32_t a) {
    auto m = [a](std::uint32_t v) { return (v * a + 127) / 255; };
    return (a << 24) | (m((rgb >> 16) & 0xFF) << 16) | (m((rgb >> 8) & 0xFF) << 8) | m(rgb & 0xFF);
}

// The part of `image` whose pixels are not all zero.
PlacedImage CropToCovered(const Image& image) {
    const int w = image.width, h = image.height;
    int left = w, top = h, right = 0, bottom = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (image.pixels[static_cast<size_t>(y) * w + x]) {
                left = std::min(left, x);
                right = std::max(right, x + 1);
                top = std::min(top, y);
                bottom = std::max(bottom, y + 1);
            }
        }
    }
    PlacedImage kept;
    if (left >= right) {
        return kept;
    }
    kept.image =
        Image{right - left, bottom - top,
              std::vector<std::uint32_t>(static_cast<size_t>(right - left) * (bottom - top))};
    for (int y = top; y < bottom; ++y) {
        std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(y) * w + left, right - left,
                    kept.image.pixels.begin() +
                        static_cast<std::ptrdiff_t>(y - top) * kept.image.width);
    }
    kept.left = left;
    kept.top = top;
    return kept;
}

} // namespace

PlacedImage ComposeShadowedText(const Image& coverage, std::uint32_t textRgb,
                                std::uint32_t shadowRgb, int shadowReach) {
    const int width = coverage.width, height = coverage.height;
    Image shadow = coverage;
    const int blur = std::max(1, shadowReach / 2);
    BlurAlpha(shadow, blur);

    // A reach below the blur's own (0) would move the shadow up and left, off the image.
    const int offset = std::max(0, shadowReach - blur);
    const int ow = width + offset, oh = height + offset;
    Image out{ow, oh, std::vector<std::uint32_t>(static_cast<size_t>(ow) * oh)};
    for (int yy = 0; yy < height; ++yy) {
        for (int xx = 0; xx < width; ++xx) {
            const std::uint32_t a = shadow.pixels[static_cast<size_t>(yy) * width + xx] >> 24;
            out.pixels[static_cast<size_t>(yy + offset) * ow + xx + offset] =
                Premultiplied(shadowRgb, a);
        }
    }
    // The text over the shadow ("over" with premultiplied colours).
    for (int yy = 0; yy < height; ++yy) {
        for (int xx = 0; xx < width; ++xx) {
            const std::uint32_t a = coverage.pixels[static_cast<size_t>(yy) * width + xx] >> 24;
            if (!a) {
                continue;
            }
            std::uint32_t& d = out.pixels[static_cast<size_t>(yy) * ow + xx];
            const std::uint32_t s = Premultiplied(textRgb, a);
            std::uint32_t r = 0;
            for (int c = 0; c < 4; ++c) {
                const std::uint32_t sc = (s >> (8 * c)) & 0xFF, dc = (d >> (8 * c)) & 0xFF;
                r |= std::min<std::uint32_t>(255, sc + dc * (255 - a) / 255) << (8 * c);
            }
            d = r;
        }
    }
    // Only what covers anything: a pixel of no alpha leaves the destination as it is.
    return CropToCovered(out);
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
