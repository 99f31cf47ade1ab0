// The main window at a DPI: its outer size, its fonts, its controls and the console placed
// and sized for the display, and a change of DPI while it runs.
#include "app/form1.h"

#include "app/window_rules.h"
#include "show/transmemo_win32.h"

namespace app {

namespace {

// The window's stored colour: RGB 37, 171, 3; the console's text has it too.
constexpr COLORREF kFormColor = RGB(37, 171, 3);
// Character heights at 96 DPI: the window's font and the console's (bold).
constexpr int kFormFontHeight = 11;
constexpr int kConsoleFontHeight = 13;

// The window's and the console's font: Tahoma at the given height (96 DPI) and weight.
HFONT CreateTahoma(int height96, int weight, int dpi) {
    return CreateFontW(-ScaleForDpi(height96, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH, L"Tahoma");
}

} // namespace

SIZE TForm1::OuterSize() const {
    return sSkinProvider1.WindowSizeFor(
        SIZE{ScaleForDpi(kClientWidth, dpi_), ScaleForDpi(kClientHeight, dpi_)});
}

void TForm1::ApplyDpi(int dpi) {
    dpi_ = dpi;
    sSkinProvider1.SetDpi(dpi);
    formFont_.Reset(CreateTahoma(kFormFontHeight, FW_NORMAL, dpi));
    controls_.ApplyDpi(dpi);
    ApplyConsoleDpi();
}

void TForm1::ApplyConsoleDpi() {
    consoleFont_.Reset(CreateTahoma(kConsoleFontHeight, FW_BOLD, dpi_));
    if (state_.LogMemo) {
        const RECT b = ScaleRect(kConsoleBounds, dpi_);
        state_.LogMemo->SetBounds(b.left, b.top, b.right - b.left, b.bottom - b.top);
        state_.LogMemo->SetFont(consoleFont_.Get(), kFormColor);
    }
}

void TForm1::OnDpiChanged(int dpi, const RECT& suggested) {
    ApplyDpi(dpi);
    const SIZE outer = OuterSize();
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
}

} // namespace app
