// Drives the player through the real waveOut path for wine_playback_test.py; each command
// prints what it saw and exits 0 when the player behaved.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "music/engine.h"
#include "music/tests/track_golden.h"
#include "music/trackfile.h"
#include "music/xmplayer.h"

using namespace music;

namespace {

// A module of one row at speed 1: it ends long before the 16 blocks of the first fill.
std::vector<unsigned char> OneRowModule(const unsigned char* track, std::uint32_t size) {
    std::vector<unsigned char> m(track, track + size);
    m[64] = 1; // song length 1
    m[65] = 0;
    m[76] = 1; // speed 1
    m[77] = 0;
    // The first pattern's header: one row.
    m[336 + 5] = 1;
    m[336 + 6] = 0;
    return m;
}

int Fail(const char* what) {
    std::printf("FAIL %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: music_wine_probe play MS | twice | idle-stop | nodevice | "
                    "noloop-short | render BLOCKS FILE | cpu MS | golden\n");
        return 2;
    }
    const char* cmd = argv[1];
    if (!std::strcmp(cmd, "play") && argc >= 3) {
        void* h = PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory);
        std::printf("handle %s, threads %d\n", h ? "set" : "null", music::PlaybackThreadsAlive());
        if (!h)
            return Fail("PlayModule returned null");
        Sleep(static_cast<DWORD>(std::atoi(argv[2])));
        const bool playing = music::ModulePlaying();
        StopModule();
        std::printf("stopped, threads %d\n", music::PlaybackThreadsAlive());
        if (!playing)
            return Fail("not playing before the stop");
        return music::PlaybackThreadsAlive() == 0 ? 0 : Fail("thread still running");
    }
    if (!std::strcmp(cmd, "twice")) {
        if (!PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory))
            return Fail("first play");
        Sleep(200);
        if (!PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory))
            return Fail("second play");
        std::printf("threads after the second play %d\n", music::PlaybackThreadsAlive());
        if (music::PlaybackThreadsAlive() != 1)
            return Fail("the first thread still runs");
        Sleep(200);
        StopModule();
        return music::PlaybackThreadsAlive() == 0 ? 0 : Fail("thread still running");
    }
    if (!std::strcmp(cmd, "idle-stop")) {
        StopModule();
        StopModule();
        std::printf("idle, playing %d\n", music::ModulePlaying());
        return music::ModulePlaying() ? Fail("playing") : 0;
    }
    if (!std::strcmp(cmd, "nodevice")) {
        void* h = PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory);
        std::printf("handle %s\n", h ? "set" : "null");
        // The program runs on in silence.
        StopModule();
        std::printf("running on\n");
        return h ? Fail("a handle without a device") : 0;
    }
    if (!std::strcmp(cmd, "noloop-short")) {
        std::vector<unsigned char> m = OneRowModule(music::kTrackFile, music::kTrackFileSize);
        void* h = PlayModule(m.data(), m.size(), SourceMemory | NoLoop);
        std::printf("handle %s, playing %d\n", h ? "set" : "null", music::ModulePlaying());
        return h || music::ModulePlaying() ? Fail("short NoLoop module played") : 0;
    }
    if (!std::strcmp(cmd, "render") && argc >= 4) {
        auto engine = std::make_unique<music::Engine>();
        platform::HeapArena* arena = platform::ArenaCreate();
        if (!music::LoadFromMemory(*engine, music::kTrackFile, music::kTrackFileSize, arena))
            return Fail("load");
        const int blocks = std::atoi(argv[2]);
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(blocks) * music::kBlockFrames * 2);
        for (int b = 0; b < blocks; ++b) {
            music::RenderBlock(*engine, pcm.data() + b * music::kBlockFrames * 2);
        }
        platform::ArenaDestroy(arena);
        std::FILE* f = std::fopen(argv[3], "wb");
        if (!f)
            return Fail("cannot write");
        std::fwrite(pcm.data(), 2, pcm.size(), f);
        std::fclose(f);
        return 0;
    }
    if (!std::strcmp(cmd, "cpu") && argc >= 3) {
        // The process's CPU time while the module plays: the GUI thread only sleeps here.
        auto cpu = [] {
            FILETIME c, e, k, u;
            GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
            auto t = [](FILETIME f) {
                return (ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime;
            };
            return (t(k) + t(u)) / 1e7;
        };
        if (!PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory))
            return Fail("PlayModule");
        const double before = cpu();
        const DWORD ms = static_cast<DWORD>(std::atoi(argv[2]));
        Sleep(ms);
        const double used = cpu() - before;
        StopModule();
        std::printf("cpu while playing: %.2f %% of one core\n", used * 1000.0 / ms * 100.0);
        return 0;
    }
    if (!std::strcmp(cmd, "golden")) {
        std::printf("%016llx\n", static_cast<unsigned long long>(golden::kFirstRing));
        return 0;
    }
    return Fail("unknown command");
}
