// One of the main window's drawn controls: a label or picture that the window paints itself
// and that has no window of its own except an accessibility stand-in (app/drawn_controls.h
// keeps them as a table).
#pragma once

#include "platform/gdi.h"
#include "platform/owner_win32.h"
#include "skin/skin_win32.h"
#include "skin/skindata.h"

#include <windows.h>

#include <string>

namespace app {

enum class ControlKind { TsImage, TLabel, TsLabelFX, TImage };

struct FontSpec {
    const wchar_t* face = L"Tahoma";
    int height = 11; // character height in pixels at 96 DPI
    bool bold = false;
    bool underline = false;
    int orientation = 0; // tenths of a degree
    COLORREF color = RGB(0, 0, 0);
};

struct TGraphicControl {
    const wchar_t* Name = L"";
    ControlKind Kind = ControlKind::TLabel;
    RECT Bounds96{}; // left, top, right, bottom at 96 DPI
    bool Visible = false;
    std::u16string Caption; // labels: the text; pictures: the accessible name
    FontSpec Font;
    BYTE BlendOpacity = 255; // sImage1 is blended at 50 percent

    // Content.
    skin::Image Source;          // the picture as loaded (logo, rabbit)
    skin::Picture Scaled;        // the picture as drawn at the current DPI
    platform::IconHandle Icon;   // Image3
    platform::BitmapOwner Sheet; // Image1, Image2: the glyph sheet bitmaps

    // At the current DPI.
    RECT Bounds{};
    platform::GdiObject<HFONT> FontHandle;
    skin::ShadowText Shadowed; // sLabelFX1: its text and shadow, composed with the font
    RECT Fill{};               // labels: the background they paint (the bounds and the text)
    RECT Painted{};            // every pixel a paint of the control may change
    HWND Proxy = nullptr;      // the accessibility stand-in
};

} // namespace app
