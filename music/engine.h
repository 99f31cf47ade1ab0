// The portable XM engine's state: one Engine value holds a loaded module and its playback.
// The player (xmplayer.cpp) keeps one process-wide Engine and drives it from its playback
// thread; xmrender, the tests, the benchmark and the fuzzer drive their own. What a driver
// calls comes with this header: loading (loader.h), rendering blocks (output.h) and the
// choice of the mixer's path (mix_path.h).
#pragma once

#include <cstdint>

#include "music/loader.h"
#include "music/mix_path.h"
#include "music/module_reader.h"
#include "music/output.h"
#include "music/xm_types.h"
#include "platform/heap_arena.h"

namespace music {

inline constexpr int kBlockFrames = 1024;
inline constexpr int kRingBlocks = 16;
inline constexpr int kBlockBytes = kBlockFrames * 4;
inline constexpr int kRingBytes = kRingBlocks * kBlockBytes;
inline constexpr int kOutputRate = 48000;

// Watches playback tick by tick without changing it; xmrender finds a song's real end with
// it. The player has none, which costs it one test of a null pointer per tick.
struct PlaybackObserver {
    // Before each tick. On a row's first tick (song.tick 0) the row about to start is the
    // next order position and next row, each where it is not -1, else the current one.
    // false ends playback here as the song's end does: nothing of the tick happens.
    virtual bool TickStarts(const SongState& song) = 0;
    // The row just read was the last of the order list and playback goes on at the restart
    // position after it (only without the no-loop flag, which ends playback there instead).
    virtual void OrderListEnds() = 0;

protected:
    ~PlaybackObserver() = default;
};

struct Engine {
    SongState song;
    platform::HeapArena* arena;
    // Left, right, left, ... accumulators of one block; the file reader's cache while loading.
    alignas(16) std::int32_t mixBuffer[kBlockFrames * 2];
    std::uint8_t noLoop;
    PlaybackObserver* observer = nullptr;
    MixPath mixPath = MixPath::Best; // a test or benchmark may ask for one
};
static_assert(sizeof(Engine::mixBuffer) == kFileCacheBytes);

} // namespace music
