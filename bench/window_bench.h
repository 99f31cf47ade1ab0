// Shared by the window benchmarks: the calling thread's CPU time, and the main window opened
// quiet (shown, the frame timer off, the first messages handled).
#pragma once

#include "app/form1.h"

#include <windows.h>

#include <cstdio>

namespace bench {

inline double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& ft) {
        ULARGE_INTEGER v{{ft.dwLowDateTime, ft.dwHighDateTime}};
        return static_cast<double>(v.QuadPart) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// Null when the window cannot be created, which it says on stderr.
inline app::TForm1* OpenQuietWindow(int settleMessages) {
    app::TForm1* form = app::TForm1::Create(GetModuleHandleW(nullptr));
    if (!form) {
        std::fprintf(stderr, "cannot create the window\n");
        return nullptr;
    }
    form->Show();
    form->SetTimerEnabled(false);
    for (int i = 0; i < settleMessages; ++i) {
        form->ProcessMessages();
        Sleep(10);
    }
    return form;
}

} // namespace bench
