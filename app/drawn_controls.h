// The main window's drawn controls as one table, in z-order: their stored layout, their
// pictures and fonts at the window's DPI, painting, hit-testing and the accessibility
// stand-ins that follow them (app/control_proxies.h).
#pragma once

#include "app/graphic_control.h"
#include "platform/owner_win32.h"

#include <windows.h>

#include <array>
#include <string>

namespace app {

// Indexes of the drawn controls, in z-order (later ones are drawn over earlier ones).
enum ControlIndex {
    kSImage1,
    kLabel1,
    kLabel2,
    kSLabelFX1,
    kRabbit,
    kImage1,
    kImage2,
    kImage3,
    kControlCount
};

// A rectangle given at 96 DPI, at the given DPI.
RECT ScaleRect(const RECT& r96, int dpi);

class DrawnControls {
public:
    // The controls as the window stores them: names, kinds, bounds, visibility, texts, fonts.
    DrawnControls();

    // The pictures from the program's resources: the logo, the rabbit and the glyph sheets.
    void LoadPictures(HINSTANCE instance);
    // The icon a picture control shows (Image3) at its natural size.
    void SetIcon(int index, platform::IconHandle icon);
    // Creates the stand-ins as children of `parent`, the window the controls are drawn on,
    // placed at the given DPI.
    void CreateProxies(HWND parent, HINSTANCE instance, int dpi);
    // The background that labels paint and a repaint erases to: the window's client colour.
    void SetBackground(COLORREF color);
    HBRUSH Background() const { return background_.Get(); }
    // Bounds, fonts, pictures and stand-ins at a new DPI.
    void ApplyDpi(int dpi);

    const TGraphicControl& operator[](int index) const { return controls_[index]; }
    void SetVisible(int index, bool visible);
    void SetCaption(int index, const std::u16string& caption);
    // Bold and underlined, or neither; repaints what the text covered and covers.
    void SetEmphasis(int index, bool on);

    // Paints every visible control that meets the device context's clipping area (client
    // coordinates); all of them where it has none.
    void Paint(HDC dc);
    // Erases `area` and paints what meets it again, straight into dc: what a repaint of that
    // area shows, without a round of paint messages.
    void Repaint(HDC dc, const RECT& area);
    // The topmost visible control under a client point; -1 where there is none.
    int At(POINT clientPoint) const;

private:
    void RecreateFont(int index);
    // Brings what a control's paint covers up to date with its font, caption and picture.
    void UpdatePainted(int index);
    // A new font of a control: repaints what it covered and what it covers now.
    void ChangeFont(int index);
    void Invalidate(int index);
    POINT SignatureOrigin() const;
    void PaintControl(HDC dc, const TGraphicControl& c) const;

    HWND parent_ = nullptr;
    int dpi_ = 96;
    std::array<TGraphicControl, kControlCount> controls_;
    platform::GdiObject<HBRUSH> background_;
};

} // namespace app
