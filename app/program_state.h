// Program-wide state that the main window keeps for the other parts of the program: one
// struct, owned by the window and living as long as it.
#pragma once

#include "platform/gdi_win32.h"
#include "platform/gui_thread_win32.h"
#include "platform/owner_win32.h"
#include "show/marquee.h"
#include "show/transmemo_win32.h"

#include <cstdint>
#include <memory>
#include <string>

namespace app {

struct ProgramState {
    // Device context of the main window's client area, obtained once at creation and released
    // at program end; the rain draws into it.
    platform::WindowDc WindowDC;
    // The target folder with a trailing backslash.
    std::u16string TargetDir;
    std::u16string UserName;
    std::u16string UserDomain;
    // 0 until the window closes, then -1.
    std::int32_t WindowClosing = 0;
    // The console; it exists from the intro start on.
    std::unique_ptr<show::TTransMemo> LogMemo;
    // The marquee thread; it exists from the intro start on. The program pauses it after the
    // intro and never ends it, so it is never destroyed either.
    show::TItoolsThread* MarqueeThread = nullptr;
    // The pump of every message loop of the program; it remembers a quit message.
    platform::MessagePump Pump;

    platform::Dc WindowCanvas() const { return platform::FromHdc(WindowDC.Get()); }
    // Releases WindowDC; runs at program end, also when the intro ends the program early.
    void ReleaseWindowDC() { WindowDC.Reset(); }
};

} // namespace app
