// CPU share of the player while the program's module plays, as during the show: the CPU
// time of the time-critical playback thread, and of the whole process (whose main thread
// only sleeps here), over the wall time, in per cent of one core.
//
//   music_share_bench [SECONDS]     (default 20)
//
// Natively the POSIX device plays the ring in real time into /dev/null; on Windows (Wine)
// the real waveOut device plays it, so there must be one (the Wine harness's HOME has an
// .asoundrc that sends ALSA's default device into a file).
#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>
#else
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "music/trackfile.h"
#include "music/xmplayer.h"
#include "platform/wave_out.h"

namespace {

#ifdef _WIN32
double Seconds(FILETIME kernel, FILETIME user) {
    auto t = [](FILETIME f) { return (ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return (t(kernel) + t(user)) / 1e7;
}

double ProcessSeconds() {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    return Seconds(k, u);
}

// The CPU time of the process's time-critical thread (the player's), or -1.
double PlaybackThreadSeconds() {
    double found = -1;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) {
        return found;
    }
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != GetCurrentProcessId()) {
            continue;
        }
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        if (!t) {
            continue;
        }
        FILETIME c, e, k, u;
        if (GetThreadPriority(t) == THREAD_PRIORITY_TIME_CRITICAL &&
            GetThreadTimes(t, &c, &e, &k, &u)) {
            found = Seconds(k, u);
        }
        CloseHandle(t);
    }
    CloseHandle(snap);
    return found;
}
#else
double ProcessSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The CPU time of the process's one thread besides the main thread (the player's), or -1.
double PlaybackThreadSeconds() {
    double found = -1;
    const std::string self = std::to_string(getpid());
    DIR* dir = opendir("/proc/self/task");
    if (!dir) {
        return found;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == ".." || tid == self) {
            continue;
        }
        // schedstat: nanoseconds on the CPU first.
        std::ifstream f("/proc/self/task/" + tid + "/schedstat");
        unsigned long long ns = 0;
        if (f >> ns) {
            found = ns / 1e9;
        }
    }
    closedir(dir);
    return found;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
#ifndef _WIN32
    platform::SetWaveOutCaptureFile("/dev/null");
#endif
    if (!music::PlayModule(music::kTrackFile, music::kTrackFileSize, music::SourceMemory)) {
        std::fprintf(stderr, "music_share_bench: PlayModule failed (no sound device?)\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // past the first fill
    using Clock = std::chrono::steady_clock;
    const auto wall0 = Clock::now();
    const double thread0 = PlaybackThreadSeconds();
    const double process0 = ProcessSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double thread1 = PlaybackThreadSeconds();
    const double process1 = ProcessSeconds();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const bool playing = music::ModulePlaying();
    music::StopModule();
    if (!playing || thread0 < 0 || thread1 < 0) {
        std::fprintf(stderr, "music_share_bench: the playback thread was not found\n");
        return 1;
    }
    std::printf("over %.1f s of the program's module: playback thread %.3f %% of one core, "
                "process %.3f %%\n",
                wall, (thread1 - thread0) / wall * 100, (process1 - process0) / wall * 100);
    return 0;
}
