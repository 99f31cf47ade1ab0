// The skin engine's Win32 side: the skin provider that draws a window's frame and caption
// from the internal skin, and the drawing helpers of the skinned controls (blended picture,
// shadowed label).
#pragma once

#include "skin/skindata.h"

#include "platform/owner_win32.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace skin {

// A premultiplied picture kept in a memory device context of its own, so that painting it
// is one blend with no set-up: made once when the picture (or the DPI) changes.
class Picture {
public:
    Picture() = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // Replaces the picture; an empty image leaves none.
    void Set(const Image& image);
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Blends the whole picture, unscaled, at (x, y), its alpha scaled by `opacity`
    // (255 = as is, 128 = half).
    void Draw(HDC dc, int x, int y, BYTE opacity = 255) const;
    // Blends the part (sx, sy, sw, sh) stretched to (x, y, w, h).
    void DrawPart(HDC dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                  BYTE opacity = 255) const;

private:
    void Release();

    platform::SelectedBitmap bitmap_;
    int width_ = 0;
    int height_ = 0;
};

// Text with a soft shadow that extends from the text down to `shadowReach` pixels right and
// below it; the font may be rotated (escapement). Composed once and kept, so that painting it
// is one blend of the pixels it covers.
class ShadowText {
public:
    // Composes the text (x, y below are where its top-left goes); an empty text leaves none.
    void Set(HFONT font, const std::u16string& text, COLORREF textColor, COLORREF shadowColor,
             int shadowReach);
    // The pixels the text and its shadow cover when drawn at (x, y); empty when there is none.
    RECT Covered(int x, int y) const;
    void Draw(HDC dc, int x, int y) const;

private:
    Picture picture_; // the covered pixels only
    RECT covered_{};  // relative to the text's top-left
};

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
    std::optional<LRESULT> Route(UINT msg, WPARAM wp, LPARAM lp);
    std::optional<LRESULT> OnNcCalcSize(RECT* proposed);
    std::optional<LRESULT> OnNcPaint();
    std::optional<LRESULT> OnNcActivate(bool active);
    std::optional<LRESULT> OnSetText(WPARAM wp, LPARAM lp);
    std::optional<LRESULT> OnNcHitTest(POINT screen);
    std::optional<LRESULT> OnNcMouseMove(POINT screen);
    std::optional<LRESULT> OnNcMouseLeave();
    std::optional<LRESULT> OnNcLButtonDown(WPARAM hit, POINT screen);
    std::optional<LRESULT> OnNcButtonUp(WPARAM hit, POINT screen, MouseButton button);
    std::optional<LRESULT> OnMouseMove(LPARAM clientPoint);
    std::optional<LRESULT> OnLButtonUp(LPARAM clientPoint);
    std::optional<LRESULT> OnCaptureChanged(HWND capturing);
    std::optional<LRESULT> OnSizeMove(bool entering);
    std::optional<LRESULT> OnMoving(RECT& proposed);
    std::optional<LRESULT> OnWindowPosChanging(WINDOWPOS& pos);
    // A point in window coordinates (frame included) from screen or client coordinates.
    POINT WindowPoint(POINT screen) const;
    POINT WindowPointOfClient(LPARAM clientPoint) const;

    void PaintFrame();
    void PaintCaptionBar(HDC dc, int windowWidth) const;
    void PaintCaptionText(HDC dc, int windowWidth) const;
    void PaintButtons(HDC dc) const;
    int HitButton(POINT windowPoint) const;
    void SetHot(int part);
    int Scale(int v) const { return MulDiv(v, dpi_, 96); }

    HWND hwnd_ = nullptr;
    const SkinData* skin_ = nullptr;
    ProviderSettings settings_;
    int dpi_ = 96;
    bool active_ = true;
    int hot_ = kNone;
    int pressed_ = kNone;
    bool tracking_ = false;
    bool moving_ = false;
    platform::GdiObject<HFONT> captionFont_;
    Picture captionScaled_;
    Picture buttonsScaled_;
};

} // namespace skin
