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

// The coverage of text drawn white on black into width x height pixels 0x00RRGGBB: each
// pixel's brightest channel as its alpha (anti-aliased edges are grey), no colour.
Image WhiteTextCoverage(const std::uint32_t* pixels, int width, int height);

// An image and where its top-left lies in the coordinates it was composed in.
struct PlacedImage {
    Image image;
    int left = 0;
    int top = 0;
};

// Text with a soft shadow from its coverage, premultiplied: the shadow (the coverage blurred
// by half the reach, at least 1, and moved right and down by the rest of the reach) in
// shadowRgb, the text over it in textRgb (colours 0x00RRGGBB). Cropped to the pixels that
// cover anything, placed in the coverage's coordinates; an empty image when none does.
PlacedImage ComposeShadowedText(const Image& coverage, std::uint32_t textRgb,
                                std::uint32_t shadowRgb, int shadowReach);

struct SnapRect {
    int left, top, right, bottom;
};
// Moves `window` onto an edge of `area` when one of its edges lies within `threshold` pixels.
SnapRect SnapToEdges(SnapRect window, const SnapRect& area, int threshold);

} // namespace skin
