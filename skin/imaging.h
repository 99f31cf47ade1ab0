// Picture operations on premultiplied images, portable so they are tested natively.
#pragma once

#include "skin/skindata.h"

namespace skin {

// Area-averaging resize (correct for premultiplied alpha); sizes below 1 give an empty image.
Image Resize(const Image& source, int width, int height);
// Size of `source` scaled to fit width x height with its proportions kept.
void FitProportional(int sourceWidth, int sourceHeight, int width, int height, int& outWidth,
                     int& outHeight);
// Box blur of the alpha channel of a coverage mask, radius r, edges clamped.
void BlurAlpha(Image& image, int radius);

struct SnapRect {
    int left, top, right, bottom;
};
// Moves `window` onto an edge of `area` when one of its edges lies within `threshold` pixels.
SnapRect SnapToEdges(SnapRect window, const SnapRect& area, int threshold);

} // namespace skin
