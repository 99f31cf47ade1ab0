// TTransMemo on Win32: the edit control, its subclass and its transparent repaint.
#include "show/transmemo_win32.h"

#include "show/memolines.h"

#include "platform/component_name_win32.h"
#include "platform/owner_win32.h"
#include "platform/text.h"
#include "platform/window_query_win32.h"

#include <commctrl.h>

namespace show {

namespace {
constexpr UINT_PTR kSubclassId = 0x54524D; // "TRM"
} // namespace

TTransMemo* TTransMemo::Create(HWND parent) {
    auto* memo = new TTransMemo;
    memo->parent_ = parent;
    memo->FAlignText = TAlignment::taLeftJustify;
    memo->FTransparent = false;
    memo->FPainting = false;
    memo->brush_.Reset(CreateSolidBrush(memo->color_));
    memo->CreateWnd(u"");
    if (!memo->hwnd_) {
        delete memo;
        return nullptr;
    }
    return memo;
}

TTransMemo::~TTransMemo() {
    if (hwnd_) {
        DestroyWindow(hwnd_);
    }
}

DWORD TTransMemo::CreateParams() const {
    // A word-wrapping memo without scroll bars, plus the multi-line and alignment styles.
    DWORD style =
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | ES_AUTOVSCROLL | ES_MULTILINE;
    switch (FAlignText) {
    case TAlignment::taLeftJustify:
        style |= ES_LEFT;
        break;
    case TAlignment::taRightJustify:
        style |= ES_RIGHT;
        break;
    case TAlignment::taCenter:
        style |= ES_CENTER;
        break;
    }
    if (border_) {
        style |= WS_BORDER;
    }
    return style;
}

void TTransMemo::CreateWnd(const std::u16string& text) {
    hwnd_ = CreateWindowExW(
        0, L"EDIT", platform::W(text), CreateParams(), bounds_.left, bounds_.top,
        bounds_.right - bounds_.left, bounds_.bottom - bounds_.top, parent_, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent_, GWLP_HINSTANCE)), nullptr);
    if (!hwnd_) {
        return;
    }
    SetWindowSubclass(hwnd_, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    if (name_) {
        platform::SetComponentName(hwnd_, name_);
    }
    if (font_) {
        SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
}

void TTransMemo::SetAlignText(TAlignment value) {
    if (value == FAlignText) {
        return;
    }
    FAlignText = value;
    const std::u16string text = Text();
    HWND old = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(old);
    CreateWnd(text);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TTransMemo::SetName(const wchar_t* name) {
    name_ = name;
    platform::SetComponentName(hwnd_, name);
}

void TTransMemo::SetTransparent(bool value) {
    if (value == FTransparent) {
        return;
    }
    FTransparent = value;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TTransMemo::SetBounds(int left, int top, int width, int height) {
    bounds_ = RECT{left, top, left + width, top + height};
    SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TTransMemo::SetColor(COLORREF color) {
    if (color == color_ && brush_) {
        return;
    }
    color_ = color;
    brush_.Reset(CreateSolidBrush(color_));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TTransMemo::SetFont(HFONT font, COLORREF color) {
    font_ = font;
    fontColor_ = color;
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void TTransMemo::SetBorder(bool single) {
    if (single == border_) {
        return;
    }
    border_ = single;
    LONG style = GetWindowLongW(hwnd_, GWL_STYLE);
    style = single ? (style | WS_BORDER) : (style & ~WS_BORDER);
    SetWindowLongW(hwnd_, GWL_STYLE, style);
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

std::u16string TTransMemo::Text() const {
    return platform::WindowText(hwnd_);
}

void TTransMemo::ReplaceRange(std::size_t start, std::size_t length, const std::u16string& text) {
    SendMessageW(hwnd_, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(start + length));
    SendMessageW(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(platform::W(text)));
}

void TTransMemo::AppendLine(const std::u16string& line) {
    auto [range, insert] = MemoAppend(Text(), line);
    ReplaceRange(range.start, range.length, insert);
}

bool TTransMemo::ReplaceLine(int index, const std::u16string& text) {
    if (index < 0) {
        return false;
    }
    auto range = MemoLineRange(Text(), static_cast<std::size_t>(index));
    if (!range) {
        return false;
    }
    ReplaceRange(range->start, range->length, text);
    return true;
}

void TTransMemo::Clear() {
    SetWindowTextW(hwnd_, L"");
}

void TTransMemo::HideCaret() {
    ::HideCaret(hwnd_);
}

LRESULT TTransMemo::CtlColor(HDC dc) {
    SetTextColor(dc, fontColor_);
    SetBkColor(dc, color_);
    if (FTransparent) {
        SetBkMode(dc, TRANSPARENT);
        // The parent's background is already in place; an edit control that fills its
        // background while painting must not cover it, so it gets a hollow brush.
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    return reinterpret_cast<LRESULT>(brush_.Get());
}

void TTransMemo::Change() {
    PaintTransparent();
}

void TTransMemo::ParentColorChanged() {
    if (FTransparent) {
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

POINT TTransMemo::ParentOffset() const {
    POINT p{0, 0};
    ClientToScreen(hwnd_, &p);
    ScreenToClient(parent_, &p);
    return p;
}

bool TTransMemo::EraseBackground(HDC dc) {
    if (!parent_) {
        return true;
    }
    const int saved = SaveDC(dc);
    const POINT p = ParentOffset();
    OffsetWindowOrgEx(dc, p.x, p.y, nullptr);
    SendMessageW(parent_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SendMessageW(parent_, WM_PAINTCONTROLS, reinterpret_cast<WPARAM>(dc), 0);
    RestoreDC(dc, saved);
    return true;
}

void TTransMemo::PaintTransparent() {
    if (!FTransparent) {
        return;
    }
    FPainting = true;
    ++paints_;
    ::HideCaret(hwnd_);
    {
        const platform::WindowDc dc = platform::ClientDc(hwnd_);
        const platform::MemoryDc mem(CreateCompatibleDC(dc.Get()));
        RECT client;
        GetClientRect(hwnd_, &client);
        const platform::GdiObject<HBITMAP> bitmap(
            CreateCompatibleBitmap(dc.Get(), client.right + 1, client.bottom + 1));
        const platform::Selection selected = platform::Select(mem.Get(), bitmap.Get());
        // The control paints a copy of itself: border edge, then background, then content.
        if (border_) {
            RECT edge{0, 0, client.right + 1, client.bottom + 1};
            DrawEdge(mem.Get(), &edge, BDR_SUNKENOUTER, BF_RECT);
            OffsetWindowOrgEx(mem.Get(), -1, -1, nullptr);
        }
        SendMessageW(hwnd_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem.Get()), 0);
        SendMessageW(hwnd_, WM_PAINT, reinterpret_cast<WPARAM>(mem.Get()), 0);
        SetWindowOrgEx(mem.Get(), 0, 0, nullptr);
        const int d = border_ ? -1 : 1;
        BitBlt(dc.Get(), d, d, client.right, client.bottom, mem.Get(), 1, 1, SRCCOPY);
    }
    ::ShowCaret(hwnd_);
    FPainting = false;
}

LRESULT CALLBACK TTransMemo::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                          DWORD_PTR data) {
    auto* self = reinterpret_cast<TTransMemo*>(data);
    if (msg == WM_NCDESTROY) {
        platform::RemoveComponentName(hwnd);
        RemoveWindowSubclass(hwnd, &SubclassProc, kSubclassId);
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    return self->Handle(hwnd, msg, wp, lp);
}

// `hwnd` is the window the message is for: while the alignment recreates the control, the
// old window still receives its last messages.
LRESULT TTransMemo::Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        if (!FTransparent) {
            return DefSubclassProc(hwnd, msg, wp, lp);
        }
        return EraseBackground(reinterpret_cast<HDC>(wp)) ? 1 : 0;
    case WM_PAINT: {
        const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        if (FTransparent && !FPainting) {
            PaintTransparent();
        }
        return r;
    }
    case WM_GETDLGCODE: {
        // A memo that takes no tabs: Tab moves the focus on and never goes into the text.
        // The edit is asked without the message: told one, it would act as an edit of a
        // dialog box and close the window on Escape and stop taking Enter. Without
        // DLGC_HASSETSEL the dialog manager does not select the whole log when Tab brings the
        // focus here, so a key typed next cannot replace it.
        LRESULT code = DefSubclassProc(hwnd, msg, wp, 0);
        const auto* m = reinterpret_cast<const MSG*>(lp);
        if (m && m->wParam == VK_TAB && (m->message == WM_KEYDOWN || m->message == WM_CHAR)) {
            code &= ~(DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTCHARS);
        }
        return code & ~(DLGC_WANTTAB | DLGC_HASSETSEL);
    }
    case WM_CHAR:
        if (wp == L'\t') {
            return 0;
        }
        return DefSubclassProc(hwnd, msg, wp, lp);
    case WM_SIZE:
    case WM_MOVE: {
        const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    default:
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
}

} // namespace show
