// CPU time of one transparent repaint of the console (four lines of text over the window).
//   transmemo_bench.exe [repaints]
#include "bench/window_bench.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int repaints = argc > 1 ? std::atoi(argv[1]) : 2000;
    app::TForm1* form = bench::OpenQuietWindow(0);
    if (!form) {
        return 1;
    }
    form->CreateConsole();
    for (const auto& q : show::kQuotations) {
        form->AppendLog(std::u16string(q));
    }
    for (int i = 0; i < 30; ++i) {
        form->ProcessMessages();
        Sleep(10);
    }
    show::TTransMemo* memo = form->State().LogMemo.get();
    const int before = memo->PaintTransparentCount();
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    const double cpu0 = bench::ThreadCpuSeconds();
    for (int i = 0; i < repaints; ++i) {
        memo->Change();
    }
    GdiFlush();
    const double cpu = bench::ThreadCpuSeconds() - cpu0;
    QueryPerformanceCounter(&t1);
    const int done = memo->PaintTransparentCount() - before;
    std::printf("transparent repaints: %d\n", done);
    std::printf("CPU per repaint: %.1f us; wall %.1f us\n", cpu / done * 1e6,
                static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart) /
                    done * 1e6);
    form->FormClose();
    delete form;
    return 0;
}
