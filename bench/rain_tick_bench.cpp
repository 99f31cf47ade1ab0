// CPU time of one frame-timer tick's 330 cell copies into the real window device context, and
// of whole ticks while only the rain falls and after the intro (console, signature and rabbit
// up: each tick also repaints the rabbit).
//   rain_tick_bench.exe [ticks]
#include "bench/window_bench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 2000;
    app::TForm1* form = bench::OpenQuietWindow(20);
    if (!form) {
        return 1;
    }
    std::vector<double> wall;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    const double cpu0 = bench::ThreadCpuSeconds();
    for (int t = 0; t < ticks; ++t) {
        QueryPerformanceCounter(&t0);
        for (auto& column : form->Rain().Columns) {
            column->RenderNext();
        }
        GdiFlush();
        QueryPerformanceCounter(&t1);
        wall.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) /
                       static_cast<double>(freq.QuadPart));
    }
    const double cpu = bench::ThreadCpuSeconds() - cpu0;
    std::sort(wall.begin(), wall.end());
    std::printf("ticks %d, 330 copies each\n", ticks);
    std::printf("CPU per tick: %.1f us (thread time)\n", cpu / ticks * 1e6);
    std::printf("wall per tick: median %.1f us, p90 %.1f us\n", wall[wall.size() / 2] * 1e6,
                wall[wall.size() * 9 / 10] * 1e6);

    // Whole ticks of the frame timer, as the timer runs them, past the first frames (which
    // repaint the whole window).
    while (form->Rain().FrameCount <= show::kRepaintFrames) {
        form->SetIntroTicks(50);
        form->Timer1Timer();
    }
    auto ticksCpu = [&](bool afterIntro) {
        const double start = bench::ThreadCpuSeconds();
        for (int t = 0; t < ticks; ++t) {
            form->SetIntroTicks(afterIntro ? -1 : 50);
            form->Timer1Timer();
        }
        GdiFlush();
        return (bench::ThreadCpuSeconds() - start) / ticks;
    };
    const double rainTick = ticksCpu(false);
    form->CreateConsole();
    for (const auto& q : show::kQuotations) {
        form->AppendLog(std::u16string(q));
    }
    form->ShowSignature();
    form->ShowRabbit();
    for (int i = 0; i < 30; ++i) {
        form->ProcessMessages();
        Sleep(10);
    }
    form->SetTimerEnabled(false);
    const double introTick = ticksCpu(true);
    form->SetTimerEnabled(false);
    std::printf("CPU per whole tick: %.1f us while only the rain falls, %.1f us after the intro\n",
                rainTick * 1e6, introTick * 1e6);
    form->FormClose();
    delete form;
    return 0;
}
