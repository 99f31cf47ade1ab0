// The main window's loop: the program's message loop, one pass of the pump, the frame timer,
// whole repaints, the closing flag and the program's end.
#include "app/form1.h"

namespace app {

void TForm1::Run() {
    MSG msg;
    while (!state_.Pump.QuitRequested() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        state_.Pump.Handle(msg);
    }
    state_.ReleaseWindowDC();
}

void TForm1::ProcessMessages() {
    state_.Pump.ProcessPending();
}

bool TForm1::WindowClosed() const {
    return state_.WindowClosing != 0;
}

void TForm1::EndProgram() {
    state_.ReleaseWindowDC();
    ExitProcess(0);
}

void TForm1::SetTimerEnabled(bool enabled) {
    if (enabled) {
        SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
    } else {
        KillTimer(hwnd_, kTimer1);
    }
}

void TForm1::RepaintWindow() {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

} // namespace app
