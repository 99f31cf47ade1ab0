// CPU time of one transparent repaint of the console (four lines of text over the window).
//   transmemo_bench.exe [repaints]
#include "app/form1.h"
#include "app/unit1.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
double ThreadCpu() {
    FILETIME c, e, k, u;
    GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
    auto s = [](const FILETIME& ft) {
        ULARGE_INTEGER v{{ft.dwLowDateTime, ft.dwHighDateTime}};
        return static_cast<double>(v.QuadPart) * 1e-7;
    };
    return s(k) + s(u);
}
} // namespace

int main(int argc, char** argv) {
    const int repaints = argc > 1 ? std::atoi(argv[1]) : 2000;
    app::TForm1* form = app::TForm1::Create(GetModuleHandleW(nullptr));
    if (!form) {
        return 1;
    }
    form->Show();
    form->SetTimerEnabled(false);
    form->CreateConsole();
    for (const auto& q : show::kQuotations) {
        form->AppendLog(std::u16string(q));
    }
    for (int i = 0; i < 30; ++i) {
        app::ProcessMessages();
        Sleep(10);
    }
    const int before = app::LogMemo->PaintTransparentCount();
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    const double cpu0 = ThreadCpu();
    for (int i = 0; i < repaints; ++i) {
        app::LogMemo->Change();
    }
    GdiFlush();
    const double cpu = ThreadCpu() - cpu0;
    QueryPerformanceCounter(&t1);
    const int done = app::LogMemo->PaintTransparentCount() - before;
    std::printf("transparent repaints: %d\n", done);
    std::printf("CPU per repaint: %.1f us; wall %.1f us\n", cpu / done * 1e6,
                static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) /
                    done * 1e6);
    form->FormClose();
    app::ReleaseWindowDC();
    return 0;
}
