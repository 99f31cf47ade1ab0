// The skin engine's Win32 side: the skin provider that draws a window's frame and caption
// from the internal skin, and the drawing helpers of the skinned controls (blended picture,
// shadowed label).
#pragma once

#include "skin/skindata.h"

#include <windows.h>

#include <functional>
#include <string>

namespace skin {

// A premultiplied 32-bit top-down DIB section made from an image; null on failure.
HBITMAP CreateDib(const Image& image);

// Draws `image` (premultiplied) at (x, y) of dc, unscaled, blended with its alpha scaled by
// `opacity` (255 = as is, 128 = half).
void DrawImage(HDC dc, const Image& image, int x, int y, BYTE opacity = 255);

// Draws text with a soft shadow that extends from the text's position down to `shadowReach`
// pixels right and below it. The font may be rotated (escapement).
void DrawShadowText(HDC dc, HFONT font, const std::u16string& text, int x, int y,
                    COLORREF textColor, COLORREF shadowColor, int shadowReach);

// What the window asks of its skin provider.
struct ProviderSettings {
    bool captionCentred = true;
    int addedTitleHeight = 5; // caption bar this much taller than the skin's default
    bool snapToEdges = true;
    int snapThreshold = 10;
    int titleButtons = 1;
};

enum class MouseButton { Left, Right, Middle };

// The skin provider of one window. The window procedure offers every message to
// HandleMessage first; what the provider handles it answers itself.
class TsSkinProvider {
public:
    TsSkinProvider() = default;
    TsSkinProvider(const TsSkinProvider&) = delete;
    TsSkinProvider& operator=(const TsSkinProvider&) = delete;
    ~TsSkinProvider();

    void Init(const SkinData* skin, ProviderSettings settings, int dpi);
    void SetDpi(int dpi);
    void Attach(HWND window) { hwnd_ = window; }

    bool HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    int BorderWidth() const;
    int CaptionHeight() const; // the bar as drawn: the skin's default plus the added height
    COLORREF ClientColor() const;
    // Outer window size for a client area of the given size.
    SIZE WindowSizeFor(SIZE client) const;
    // Rectangle of title button i (0 = the extra one) or of the close button (-1), in window
    // coordinates.
    RECT ButtonRect(int index) const;

    // Mouse-up on an extra caption-bar button: button index, mouse button, client-relative point.
    std::function<void(int index, MouseButton button, int x, int y)> OnTitleButtonMouseUp;

private:
    enum Part { kNone = -2, kClose = -1 };
    void PaintFrame();
    int HitButton(POINT windowPoint) const;
    void SetHot(int part);
    int Scale(int v) const { return MulDiv(v, dpi_, 96); }
    void ReleaseFonts();

    HWND hwnd_ = nullptr;
    const SkinData* skin_ = nullptr;
    ProviderSettings settings_;
    int dpi_ = 96;
    bool active_ = true;
    int hot_ = kNone;
    int pressed_ = kNone;
    bool tracking_ = false;
    bool moving_ = false;
    HFONT captionFont_ = nullptr;
    Image captionScaled_;
    Image buttonsScaled_;
};

} // namespace skin
