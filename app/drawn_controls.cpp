// The main window's drawn controls: their stored layout, pictures and fonts, painting and
// hit-testing.
#include "app/drawn_controls.h"

#include "app/control_proxies.h"
#include "app/resources.h"
#include "app/window_rules.h"
#include "platform/gdi_win32.h"
#include "platform/text.h"
#include "skin/imaging.h"

#include <algorithm>

namespace app {

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLime = RGB(0, 255, 0);
constexpr int kControlIdBase = 1000;
constexpr int kSignatureShadowReach = 4;

RECT Bounds(int left, int top, int width, int height) {
    return RECT{left, top, left + width, top + height};
}

// The natural size of an icon; a monochrome one holds mask and image one above the other.
SIZE IconSize(HICON icon) {
    ICONINFO info{};
    BITMAP bm{};
    if (GetIconInfo(icon, &info)) {
        const platform::GdiObject<HBITMAP> color(info.hbmColor), mask(info.hbmMask);
        GetObjectW(color ? color.Get() : mask.Get(), sizeof bm, &bm);
        if (!color) {
            bm.bmHeight /= 2;
        }
    }
    return SIZE{bm.bmWidth, bm.bmHeight};
}

} // namespace

RECT ScaleRect(const RECT& r, int dpi) {
    return RECT{ScaleForDpi(r.left, dpi), ScaleForDpi(r.top, dpi), ScaleForDpi(r.right, dpi),
                ScaleForDpi(r.bottom, dpi)};
}

DrawnControls::DrawnControls() {
    // What the window stores for each control, in z-order.
    struct Entry {
        ControlIndex index;
        const wchar_t* name;
        ControlKind kind;
        RECT bounds;
        bool visible;
        const char16_t* caption; // labels: the text; pictures: the accessible name
        FontSpec font;
    };
    const Entry table[] = {
        {kSImage1,
         L"sImage1",
         ControlKind::TsImage,
         Bounds(56, 0, 346, 140),
         true,
         u"iTools 3 RUS logo",
         {}},
        {kLabel1, L"Label1", ControlKind::TLabel, Bounds(88, 116, 224, 14), true,
         u"Thnk's \"Vemu7ka\" for the          icon ",
         FontSpec{L"Tahoma", 12, true, false, 0, kWhite}},
        {kLabel2, L"Label2", ControlKind::TLabel, Bounds(132, 116, 65, 14), true, u"\"Vemu7ka\"",
         FontSpec{L"Tahoma", 12, true, false, 0, kLime}},
        {kSLabelFX1, L"sLabelFX1", ControlKind::TsLabelFX, Bounds(296, 54, 97, 25), false,
         u"Quilmar0 zero", FontSpec{L"Tahoma", 16, false, false, 55, kLime}},
        {kRabbit,
         L"Rabbit",
         ControlKind::TImage,
         Bounds(164, 408, 73, 65),
         false,
         u"White rabbit: click to localise iTools 3",
         {}},
        {kImage1,
         L"Image1",
         ControlKind::TImage,
         Bounds(80, 0, 49, 833),
         false,
         u"Glyph sheet",
         {}},
        {kImage2,
         L"Image2",
         ControlKind::TImage,
         Bounds(33, 0, 41, 825),
         false,
         u"Intense glyph sheet",
         {}},
        {kImage3,
         L"Image3",
         ControlKind::TImage,
         Bounds(246, 106, 45, 34),
         true,
         u"Program icon",
         {}},
    };
    for (const Entry& e : table) {
        TGraphicControl& c = controls_[e.index];
        c.Name = e.name;
        c.Kind = e.kind;
        c.Bounds96 = e.bounds;
        c.Visible = e.visible;
        c.Caption = e.caption;
        c.Font = e.font;
    }
    controls_[kSImage1].BlendOpacity = 128;
}

void DrawnControls::LoadPictures(HINSTANCE instance) {
    if (auto bytes = ResourceBytes(instance, kLogoResource, RT_RCDATA)) {
        if (auto img = skin::DecodeBmp(*bytes)) {
            controls_[kSImage1].Source = std::move(*img);
        }
    }
    if (auto bytes = ResourceBytes(instance, kRabbitResource, RT_RCDATA)) {
        if (auto img = skin::DecodeBmp(*bytes)) {
            controls_[kRabbit].Source = std::move(*img);
        }
    }
    for (int i : {kImage1, kImage2}) {
        const wchar_t* name = i == kImage1 ? kNormalSheetResource : kIntenseSheetResource;
        auto handle = static_cast<HBITMAP>(
            LoadImageW(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        controls_[i].Sheet.Reset(platform::BitmapAdopt(handle));
    }
}

void DrawnControls::SetIcon(int index, platform::IconHandle icon) {
    controls_[index].Icon = std::move(icon);
    UpdatePainted(index);
}

void DrawnControls::CreateProxies(HWND parent, HINSTANCE instance, int dpi) {
    parent_ = parent;
    dpi_ = dpi;
    for (int i = 0; i < kControlCount; ++i) {
        TGraphicControl& c = controls_[i];
        c.Bounds = ScaleRect(c.Bounds96, dpi_);
        c.Proxy = CreateProxy(parent, instance, c, kControlIdBase + i);
    }
}

void DrawnControls::SetBackground(COLORREF color) {
    background_.Reset(CreateSolidBrush(color));
}

void DrawnControls::ApplyDpi(int dpi) {
    dpi_ = dpi;
    for (int i = 0; i < kControlCount; ++i) {
        TGraphicControl& c = controls_[i];
        c.Bounds = ScaleRect(c.Bounds96, dpi);
        RecreateFont(i);
        const int w = c.Bounds.right - c.Bounds.left, h = c.Bounds.bottom - c.Bounds.top;
        if (i == kSImage1) {
            int fw = 0, fh = 0;
            skin::FitProportional(c.Source.width, c.Source.height, w, h, fw, fh);
            c.Scaled.Set(skin::Resize(c.Source, fw, fh));
        } else if (i == kRabbit) {
            c.Scaled.Set(skin::Resize(c.Source, w, h));
        }
        UpdatePainted(i);
        MoveProxy(c);
    }
}

void DrawnControls::RecreateFont(int index) {
    TGraphicControl& c = controls_[index];
    c.FontHandle.Reset();
    if (c.Kind == ControlKind::TLabel || c.Kind == ControlKind::TsLabelFX) {
        const FontSpec& f = c.Font;
        c.FontHandle.Reset(CreateFontW(
            -ScaleForDpi(f.height, dpi_), 0, f.orientation, f.orientation,
            f.bold ? FW_BOLD : FW_NORMAL, FALSE, f.underline, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
            CLIP_DEFAULT_PRECIS | CLIP_LH_ANGLES, ANTIALIASED_QUALITY, DEFAULT_PITCH, f.face));
    }
}

void DrawnControls::SetVisible(int index, bool visible) {
    TGraphicControl& c = controls_[index];
    if (c.Visible == visible) {
        return;
    }
    c.Visible = visible;
    ShowProxy(c);
    Invalidate(index);
}

void DrawnControls::SetCaption(int index, const std::u16string& caption) {
    TGraphicControl& c = controls_[index];
    if (c.Caption == caption) {
        return;
    }
    Invalidate(index);
    c.Caption = caption;
    RenameProxy(c);
    UpdatePainted(index);
    Invalidate(index);
}

void DrawnControls::SetEmphasis(int index, bool on) {
    FontSpec& f = controls_[index].Font;
    if (f.bold == on && f.underline == on) {
        return;
    }
    f.bold = f.underline = on;
    ChangeFont(index);
}

void DrawnControls::Invalidate(int index) {
    const TGraphicControl& c = controls_[index];
    RECT r = c.Bounds;
    if (c.Kind == ControlKind::TsLabelFX) {
        // The rotated text and its shadow reach past the label's bounds.
        UnionRect(&r, &c.Bounds, &c.Painted);
    }
    if (parent_) {
        InvalidateRect(parent_, &r, TRUE);
    }
}

POINT DrawnControls::SignatureOrigin() const {
    const RECT& b = controls_[kSLabelFX1].Bounds;
    return POINT{b.left + ScaleForDpi(2, dpi_), b.top + ScaleForDpi(8, dpi_)};
}

void DrawnControls::UpdatePainted(int index) {
    TGraphicControl& c = controls_[index];
    const RECT& b = c.Bounds;
    switch (c.Kind) {
    case ControlKind::TsImage:
        c.Painted = RECT{b.left, b.top, b.left + c.Scaled.Width(), b.top + c.Scaled.Height()};
        break;
    case ControlKind::TLabel: {
        // An auto-sized label grows with the font's real metrics; its glyphs may overhang the
        // text's box a little.
        RECT text = b;
        {
            const platform::MemoryDc dc(CreateCompatibleDC(nullptr));
            const platform::Selection font = platform::Select(dc.Get(), c.FontHandle.Get());
            DrawTextW(dc.Get(), platform::W(c.Caption), static_cast<int>(c.Caption.size()), &text,
                      DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
        }
        c.Fill =
            RECT{b.left, b.top, std::max(b.right, text.right), std::max(b.bottom, text.bottom)};
        c.Painted = c.Fill;
        const int overhang = ScaleForDpi(c.Font.height, dpi_) / 4 + 1;
        InflateRect(&c.Painted, overhang, overhang);
        break;
    }
    case ControlKind::TsLabelFX: {
        c.Shadowed.Set(c.FontHandle.Get(), c.Caption, c.Font.color, RGB(0, 0, 0),
                       ScaleForDpi(kSignatureShadowReach, dpi_));
        const POINT at = SignatureOrigin();
        c.Painted = c.Shadowed.Covered(at.x, at.y);
        break;
    }
    case ControlKind::TImage:
        if (c.Icon) {
            const SIZE size = IconSize(c.Icon.Get());
            c.Painted = RECT{b.left, b.top, b.left + size.cx, b.top + size.cy};
        } else {
            c.Painted = RECT{b.left, b.top, b.left + c.Scaled.Width(), b.top + c.Scaled.Height()};
        }
        break;
    }
}

void DrawnControls::ChangeFont(int index) {
    Invalidate(index);
    RecreateFont(index);
    UpdatePainted(index);
    Invalidate(index);
}

void DrawnControls::PaintControl(HDC dc, const TGraphicControl& c) const {
    const RECT& b = c.Bounds;
    switch (c.Kind) {
    case ControlKind::TsImage:
        c.Scaled.Draw(dc, b.left, b.top, c.BlendOpacity);
        break;
    case ControlKind::TLabel: {
        // Labels are opaque in the window's (skinned) background colour, so Label2's turning
        // nickname covers the one inside Label1's text.
        // The text is not clipped: an auto-sized label grows with the font's real metrics.
        const platform::Selection font = platform::Select(dc, c.FontHandle.Get());
        FillRect(dc, &c.Fill, Background());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, c.Font.color);
        RECT r = b;
        DrawTextW(dc, platform::W(c.Caption), static_cast<int>(c.Caption.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        break;
    }
    case ControlKind::TsLabelFX: {
        const POINT at = SignatureOrigin();
        c.Shadowed.Draw(dc, at.x, at.y);
        break;
    }
    case ControlKind::TImage:
        if (c.Icon) {
            DrawIconEx(dc, b.left, b.top, c.Icon.Get(), 0, 0, 0, nullptr, DI_NORMAL);
        } else {
            c.Scaled.Draw(dc, b.left, b.top);
        }
        break;
    }
}

void DrawnControls::Paint(HDC dc) {
    // Only what meets the area being painted: the frame timer repaints the rabbit every tick.
    RECT area{};
    const bool clipped = GetClipBox(dc, &area) != ERROR;
    for (const TGraphicControl& c : controls_) {
        RECT meet;
        if (c.Visible && (!clipped || IntersectRect(&meet, &c.Painted, &area))) {
            PaintControl(dc, c);
        }
    }
}

void DrawnControls::Repaint(HDC dc, const RECT& area) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    FillRect(dc, &area, Background());
    Paint(dc);
    RestoreDC(dc, saved);
}

int DrawnControls::At(POINT p) const {
    for (int i = kControlCount - 1; i >= 0; --i) {
        if (controls_[i].Visible && PtInRect(&controls_[i].Bounds, p)) {
            return i;
        }
    }
    return -1;
}

} // namespace app
