// The skin's Win32 side: pictures as DIB sections, the shadowed text, and the skin provider
// that paints the window's frame and caption and answers its non-client messages.
#include "skin/skin_win32.h"

#include "skin/imaging.h"

#include "platform/gdi_win32.h"
#include "platform/text.h"
#include "platform/window_query_win32.h"

#include <windowsx.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace skin {

namespace {

COLORREF ToColorRef(std::uint32_t rrggbb) {
    return RGB((rrggbb >> 16) & 0xFF, (rrggbb >> 8) & 0xFF, rrggbb & 0xFF);
}

std::uint32_t RgbOf(COLORREF c) {
    return (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

// A memory DC holding a fresh 32-bit DIB; the pixels are reachable for direct writes.
struct DibDc {
    platform::SelectedBitmap selected;
    std::uint32_t* bits = nullptr;
    HDC dc = nullptr;

    DibDc(int w, int h) {
        void* p = nullptr;
        if (selected.Adopt(platform::CreateDib32(w, h, &p))) {
            bits = static_cast<std::uint32_t*>(p);
            dc = selected.Dc();
        }
    }
    bool ok() const { return dc && bits; }
};

POINT PointOf(LPARAM lp) {
    return POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
}

// The work area of a monitor: the screen without the task bar.
std::optional<RECT> WorkArea(HMONITOR monitor) {
    MONITORINFO mi{sizeof mi};
    if (!GetMonitorInfoW(monitor, &mi)) {
        return std::nullopt;
    }
    return mi.rcWork;
}

} // namespace

void Picture::Release() {
    bitmap_.Reset();
    width_ = height_ = 0;
}

void Picture::Set(const Image& image) {
    Release();
    if (image.width <= 0 || image.height <= 0) {
        return;
    }
    void* bits = nullptr;
    if (!bitmap_.Adopt(platform::CreateDib32(image.width, image.height, &bits)) || !bits) {
        Release();
        return;
    }
    std::copy(image.pixels.begin(), image.pixels.end(), static_cast<std::uint32_t*>(bits));
    width_ = image.width;
    height_ = image.height;
}

void Picture::Draw(HDC dc, int x, int y, BYTE opacity) const {
    DrawPart(dc, x, y, width_, height_, 0, 0, width_, height_, opacity);
}

void Picture::DrawPart(HDC dc, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                       BYTE opacity) const {
    if (bitmap_.Dc() && w > 0 && h > 0 && sw > 0 && sh > 0) {
        platform::BlendBlock(dc, x, y, w, h, bitmap_.Dc(), sx, sy, sw, sh, opacity);
    }
}

void ShadowText::Set(HFONT font, const std::u16string& text, COLORREF textColor,
                     COLORREF shadowColor, int shadowReach) {
    picture_.Set(Image{});
    covered_ = RECT{};
    if (text.empty()) {
        return;
    }
    const auto* w = reinterpret_cast<const wchar_t*>(text.c_str());
    const int len = static_cast<int>(text.size());
    // Render the text as white-on-black coverage in a work DIB large enough for a rotated
    // string, then compose shadow and text from that coverage.
    SIZE extent{};
    {
        const platform::WindowDc screen = platform::ClientDc(nullptr);
        const platform::Selection selected = platform::Select(screen.Get(), font);
        GetTextExtentPoint32W(screen.Get(), w, len, &extent);
    }

    const int pad = extent.cy + shadowReach + 4;
    const int width = extent.cx + 2 * pad, height = extent.cy + 2 * pad;
    DibDc mask(width, height);
    if (!mask.ok()) {
        return;
    }
    std::fill(mask.bits, mask.bits + static_cast<size_t>(width) * height, 0u);
    {
        const platform::Selection selected = platform::Select(mask.dc, font);
        SetBkMode(mask.dc, TRANSPARENT);
        SetTextColor(mask.dc, RGB(255, 255, 255));
        SetTextAlign(mask.dc, TA_LEFT | TA_TOP);
        TextOutW(mask.dc, pad, pad, w, len);
    }
    GdiFlush();

    const PlacedImage composed =
        ComposeShadowedText(WhiteTextCoverage(mask.bits, width, height), RgbOf(textColor),
                            RgbOf(shadowColor), shadowReach);
    if (composed.image.pixels.empty()) {
        return;
    }
    picture_.Set(composed.image);
    covered_ =
        RECT{composed.left - pad, composed.top - pad, composed.left + composed.image.width - pad,
             composed.top + composed.image.height - pad};
}

RECT ShadowText::Covered(int x, int y) const {
    if (!picture_.Width()) {
        return RECT{};
    }
    return RECT{x + covered_.left, y + covered_.top, x + covered_.right, y + covered_.bottom};
}

void ShadowText::Draw(HDC dc, int x, int y) const {
    picture_.Draw(dc, x + covered_.left, y + covered_.top);
}

void TsSkinProvider::Init(const SkinData* skin, ProviderSettings settings, int dpi) {
    skin_ = skin;
    settings_ = settings;
    SetDpi(dpi);
}

void TsSkinProvider::SetDpi(int dpi) {
    dpi_ = dpi > 0 ? dpi : 96;
    captionFont_.Reset();
    if (!skin_) {
        return;
    }
    const FormOptions& o = skin_->options;
    LOGFONTW lf{};
    lf.lfHeight = -Scale(o.captionFontHeight);
    lf.lfWeight = o.captionFontBold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = ANTIALIASED_QUALITY;
    MultiByteToWideChar(CP_UTF8, 0, o.captionFont.c_str(), -1, lf.lfFaceName, LF_FACESIZE - 1);
    captionFont_.Reset(CreateFontIndirectW(&lf));
    const int bar = CaptionHeight();
    const int sliceL = Scale(o.captionSliceLeft), sliceR = Scale(o.captionSliceRight);
    (void)sliceL;
    (void)sliceR;
    captionScaled_.Set(Resize(skin_->caption, Scale(skin_->caption.width), bar));
    const int b = Scale(o.buttonSize);
    buttonsScaled_.Set(Resize(skin_->buttons, b * kButtonStates, b * kButtonKinds));
}

int TsSkinProvider::BorderWidth() const {
    return skin_ ? Scale(skin_->options.borderWidth) : 0;
}

int TsSkinProvider::CaptionHeight() const {
    return skin_ ? Scale(skin_->options.captionHeight + settings_.addedTitleHeight) : 0;
}

COLORREF TsSkinProvider::ClientColor() const {
    return skin_ ? ToColorRef(skin_->options.clientColor) : RGB(0, 0, 0);
}

SIZE TsSkinProvider::WindowSizeFor(SIZE client) const {
    return SIZE{client.cx + 2 * BorderWidth(), client.cy + 2 * BorderWidth() + CaptionHeight()};
}

RECT TsSkinProvider::ButtonRect(int index) const {
    RECT r{};
    if (!hwnd_ || !skin_) {
        return r;
    }
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    const int width = wr.right - wr.left;
    const int size = Scale(skin_->options.buttonSize);
    const int top = BorderWidth() + (CaptionHeight() - size) / 2;
    // The close button sits at the right; extra buttons follow it leftwards.
    const int slot = index + 1;
    const int right = width - BorderWidth() - Scale(skin_->options.buttonMargin) -
                      slot * (size + Scale(skin_->options.buttonSpacing));
    r.left = right - size;
    r.right = right;
    r.top = top;
    r.bottom = top + size;
    return r;
}

int TsSkinProvider::HitButton(POINT p) const {
    for (int i = -1; i < settings_.titleButtons; ++i) {
        RECT r = ButtonRect(i);
        if (PtInRect(&r, p)) {
            return i;
        }
    }
    return kNone;
}

void TsSkinProvider::SetHot(int part) {
    if (hot_ != part) {
        hot_ = part;
        PaintFrame();
    }
}

void TsSkinProvider::PaintFrame() {
    if (!hwnd_ || !skin_) {
        return;
    }
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    const int b = BorderWidth(), cap = CaptionHeight();
    if (w <= 0 || h <= 0) {
        return;
    }
    const platform::WindowDc wdc = platform::WholeWindowDc(hwnd_);
    if (!wdc) {
        return;
    }
    const platform::GdiObject<HBRUSH> outer(
        CreateSolidBrush(ToColorRef(skin_->options.frameOuterColor)));
    const platform::GdiObject<HBRUSH> inner(
        CreateSolidBrush(ToColorRef(skin_->options.frameInnerColor)));
    // Compose the frame off screen and put it up in one transfer, outside the client area.
    DibDc buf(w, b + cap);
    if (buf.ok()) {
        RECT all{0, 0, w, b + cap};
        FillRect(buf.dc, &all, inner.Get());
        RECT line{0, 0, w, 1};
        FillRect(buf.dc, &line, outer.Get());
        RECT left{0, 0, 1, b + cap}, right{w - 1, 0, w, b + cap};
        FillRect(buf.dc, &left, outer.Get());
        FillRect(buf.dc, &right, outer.Get());
        PaintCaptionBar(buf.dc, w);
        PaintCaptionText(buf.dc, w);
        PaintButtons(buf.dc);
        BitBlt(wdc.Get(), 0, 0, w, b + cap, buf.dc, 0, 0, SRCCOPY);
    }
    // Left, right and bottom borders.
    RECT rl{0, b + cap, b, h}, rr{w - b, b + cap, w, h}, rb{0, h - b, w, h};
    for (RECT* r : {&rl, &rr, &rb}) {
        FillRect(wdc.Get(), r, inner.Get());
    }
    RECT ol{0, b + cap, 1, h}, orr{w - 1, b + cap, w, h}, ob{0, h - 1, w, h};
    for (RECT* r : {&ol, &orr, &ob}) {
        FillRect(wdc.Get(), r, outer.Get());
    }
}

// Fixed left and right slices of the skin's caption picture, the middle stretched.
void TsSkinProvider::PaintCaptionBar(HDC dc, int w) const {
    const FormOptions& o = skin_->options;
    const int b = BorderWidth(), cap = CaptionHeight();
    const Picture& c = captionScaled_;
    const int barW = w - 2 * b;
    if (c.Width() <= 0 || barW <= 0) {
        return;
    }
    int sl = std::min(Scale(o.captionSliceLeft), c.Width() / 2);
    int sr = std::min(Scale(o.captionSliceRight), c.Width() - sl);
    sl = std::min(sl, barW / 2);
    sr = std::min(sr, barW - sl);
    const BYTE opacity = active_ ? 255 : 200;
    c.DrawPart(dc, b, b, sl, cap, 0, 0, sl, c.Height(), opacity);
    c.DrawPart(dc, b + barW - sr, b, sr, cap, c.Width() - sr, 0, sr, c.Height(), opacity);
    c.DrawPart(dc, b + sl, b, barW - sl - sr, cap, sl, 0, c.Width() - sl - sr, c.Height(), opacity);
}

// The caption text with its shadow, centred over the bar and kept clear of the buttons.
void TsSkinProvider::PaintCaptionText(HDC dc, int w) const {
    const FormOptions& o = skin_->options;
    const int b = BorderWidth(), cap = CaptionHeight();
    const std::u16string text = platform::WindowText(hwnd_);
    const int textLen = static_cast<int>(text.size());
    RECT lastButton = ButtonRect(settings_.titleButtons - 1);
    RECT textRect{b + Scale(6), b, w - b - Scale(6), b + cap};
    const int buttonsWidth = (w - b) - lastButton.left;
    if (settings_.captionCentred) {
        textRect.left = std::max<LONG>(textRect.left, b + buttonsWidth);
    }
    textRect.right = std::min<LONG>(textRect.right, lastButton.left - Scale(4));
    const platform::Selection font = platform::Select(dc, captionFont_.Get());
    SetBkMode(dc, TRANSPARENT);
    const UINT fmt = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS |
                     (settings_.captionCentred ? DT_CENTER : DT_LEFT);
    RECT shadow = textRect;
    OffsetRect(&shadow, 1, 1);
    SetTextColor(dc, ToColorRef(o.captionShadowColor));
    DrawTextW(dc, platform::W(text), textLen, &shadow, fmt);
    SetTextColor(dc, active_ ? ToColorRef(o.captionTextColor) : RGB(0x60, 0x80, 0x60));
    DrawTextW(dc, platform::W(text), textLen, &textRect, fmt);
}

// The buttons from the sprite sheet: column = state, row = kind.
void TsSkinProvider::PaintButtons(HDC dc) const {
    const Picture& sprites = buttonsScaled_;
    const int size = sprites.Width() / kButtonStates;
    for (int i = -1; i < settings_.titleButtons; ++i) {
        RECT r = ButtonRect(i);
        const int state = pressed_ == i && hot_ == i ? 2 : (hot_ == i ? 1 : 0);
        const int row = i == kClose ? 0 : 1;
        sprites.DrawPart(dc, r.left, r.top, size, size, state * size, row * size, size, size);
    }
}

bool TsSkinProvider::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (!skin_) {
        return false;
    }
    hwnd_ = hwnd;
    const std::optional<LRESULT> answer = Route(msg, wp, lp);
    if (answer) {
        result = *answer;
    }
    return answer.has_value();
}

// One handler per message. A handler answers what the provider handles alone; it answers
// nothing where the window procedure goes on with the message.
std::optional<LRESULT> TsSkinProvider::Route(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCCALCSIZE:
        return OnNcCalcSize(wp ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0]
                               : reinterpret_cast<RECT*>(lp));
    case WM_NCPAINT:
        return OnNcPaint();
    case WM_NCACTIVATE:
        return OnNcActivate(wp != 0);
    case WM_SETTEXT:
        return OnSetText(wp, lp);
    case WM_NCHITTEST:
        return OnNcHitTest(PointOf(lp));
    case WM_NCMOUSEMOVE:
        return OnNcMouseMove(PointOf(lp));
    case WM_NCMOUSELEAVE:
        return OnNcMouseLeave();
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
        return OnNcLButtonDown(wp, PointOf(lp));
    case WM_NCRBUTTONUP:
        return OnNcButtonUp(wp, PointOf(lp), MouseButton::Right);
    case WM_NCMBUTTONUP:
        return OnNcButtonUp(wp, PointOf(lp), MouseButton::Middle);
    case WM_MOUSEMOVE:
        return OnMouseMove(lp);
    case WM_LBUTTONUP:
        return OnLButtonUp(lp);
    case WM_CAPTURECHANGED:
        return OnCaptureChanged(reinterpret_cast<HWND>(lp));
    case WM_ENTERSIZEMOVE:
        return OnSizeMove(true);
    case WM_EXITSIZEMOVE:
        return OnSizeMove(false);
    case WM_MOVING:
        return OnMoving(*reinterpret_cast<RECT*>(lp));
    case WM_WINDOWPOSCHANGING:
        // Some window managers move the window without WM_MOVING; snap those drags too.
        return OnWindowPosChanging(*reinterpret_cast<WINDOWPOS*>(lp));
    default:
        return std::nullopt;
    }
}

POINT TsSkinProvider::WindowPoint(POINT screen) const {
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    return POINT{screen.x - wr.left, screen.y - wr.top};
}

POINT TsSkinProvider::WindowPointOfClient(LPARAM lp) const {
    POINT p = PointOf(lp);
    ClientToScreen(hwnd_, &p);
    return WindowPoint(p);
}

std::optional<LRESULT> TsSkinProvider::OnNcCalcSize(RECT* r) {
    r->left += BorderWidth();
    r->right -= BorderWidth();
    r->bottom -= BorderWidth();
    r->top += BorderWidth() + CaptionHeight();
    return 0;
}

std::optional<LRESULT> TsSkinProvider::OnNcPaint() {
    PaintFrame();
    return 0;
}

std::optional<LRESULT> TsSkinProvider::OnNcActivate(bool active) {
    active_ = active;
    PaintFrame();
    return TRUE;
}

std::optional<LRESULT> TsSkinProvider::OnSetText(WPARAM wp, LPARAM lp) {
    const LRESULT result = DefWindowProcW(hwnd_, WM_SETTEXT, wp, lp);
    PaintFrame();
    return result;
}

std::optional<LRESULT> TsSkinProvider::OnNcHitTest(POINT screen) {
    const POINT local = WindowPoint(screen);
    RECT client;
    GetClientRect(hwnd_, &client);
    const int b = BorderWidth();
    if (local.x >= b && local.x < b + client.right && local.y >= b + CaptionHeight() &&
        local.y < b + CaptionHeight() + client.bottom) {
        return HTCLIENT;
    }
    if (const int part = HitButton(local); part == kClose) {
        return HTCLOSE;
    } else if (part >= 0) {
        return HTHELP;
    }
    if (local.y >= b && local.y < b + CaptionHeight()) {
        return HTCAPTION;
    }
    return HTBORDER; // a fixed frame: never a sizing edge
}

std::optional<LRESULT> TsSkinProvider::OnNcMouseMove(POINT screen) {
    SetHot(HitButton(WindowPoint(screen)));
    if (!tracking_) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE | TME_NONCLIENT, hwnd_, 0};
        tracking_ = TrackMouseEvent(&t) != 0;
    }
    return std::nullopt;
}

std::optional<LRESULT> TsSkinProvider::OnNcMouseLeave() {
    tracking_ = false;
    if (pressed_ == kNone) {
        SetHot(kNone);
    }
    return std::nullopt;
}

std::optional<LRESULT> TsSkinProvider::OnNcLButtonDown(WPARAM hit, POINT screen) {
    if (hit != HTCLOSE && hit != HTHELP) {
        return std::nullopt;
    }
    pressed_ = HitButton(WindowPoint(screen));
    hot_ = pressed_;
    SetCapture(hwnd_);
    PaintFrame();
    return 0;
}

// The right and middle buttons raise the mouse-up event of an extra button too.
std::optional<LRESULT> TsSkinProvider::OnNcButtonUp(WPARAM hit, POINT screen, MouseButton button) {
    if (hit != HTHELP) {
        return std::nullopt;
    }
    const POINT local = WindowPoint(screen);
    const int part = HitButton(local);
    if (part >= 0 && OnTitleButtonMouseUp) {
        const RECT br = ButtonRect(part);
        OnTitleButtonMouseUp(part, button, local.x - br.left, local.y - br.top);
    }
    return 0;
}

// While a button is held down: it shows pressed only while the pointer is over it.
std::optional<LRESULT> TsSkinProvider::OnMouseMove(LPARAM lp) {
    if (pressed_ == kNone) {
        return std::nullopt;
    }
    const int part = HitButton(WindowPointOfClient(lp));
    SetHot(part == pressed_ ? part : kNone);
    return 0;
}

// The release of a held button: a click when it is over the button pressed.
std::optional<LRESULT> TsSkinProvider::OnLButtonUp(LPARAM lp) {
    if (pressed_ == kNone) {
        return std::nullopt;
    }
    const int part = pressed_;
    const POINT local = WindowPointOfClient(lp);
    const bool over = HitButton(local) == part;
    pressed_ = kNone;
    ReleaseCapture();
    SetHot(over ? part : kNone);
    if (over && part == kClose) {
        PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (over && OnTitleButtonMouseUp) {
        const RECT br = ButtonRect(part);
        OnTitleButtonMouseUp(part, MouseButton::Left, local.x - br.left, local.y - br.top);
    }
    return 0;
}

std::optional<LRESULT> TsSkinProvider::OnCaptureChanged(HWND capturing) {
    if (pressed_ != kNone && capturing != hwnd_) {
        pressed_ = kNone;
        SetHot(kNone);
    }
    return std::nullopt;
}

std::optional<LRESULT> TsSkinProvider::OnSizeMove(bool entering) {
    moving_ = entering;
    return std::nullopt;
}

std::optional<LRESULT> TsSkinProvider::OnMoving(RECT& r) {
    if (!settings_.snapToEdges) {
        return std::nullopt;
    }
    if (const std::optional<RECT> work = WorkArea(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST))) {
        const SnapRect s = SnapToEdges({r.left, r.top, r.right, r.bottom},
                                       {work->left, work->top, work->right, work->bottom},
                                       Scale(settings_.snapThreshold));
        r = RECT{s.left, s.top, s.right, s.bottom};
    }
    return TRUE;
}

std::optional<LRESULT> TsSkinProvider::OnWindowPosChanging(WINDOWPOS& pos) {
    if (!moving_ || !settings_.snapToEdges || (pos.flags & SWP_NOMOVE)) {
        return std::nullopt;
    }
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    if (const std::optional<RECT> work =
            WorkArea(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST))) {
        const SnapRect s = SnapToEdges({pos.x, pos.y, pos.x + w, pos.y + h},
                                       {work->left, work->top, work->right, work->bottom},
                                       Scale(settings_.snapThreshold));
        pos.x = s.left;
        pos.y = s.top;
    }
    return std::nullopt;
}

} // namespace skin
