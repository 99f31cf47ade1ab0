// The portable XM engine: loader, sequencer, channel update and mixer over one Engine
// value. The player (xmplayer.cpp) keeps one process-wide Engine and drives it from its
// playback thread; xmrender, the tests and the benchmark drive their own.
#pragma once

#include <cstdint>

#include "binary/error.h"
#include "music/module_reader.h"
#include "music/xm_types.h"
#include "platform/heap_arena.h"

namespace music {

inline constexpr int kBlockFrames = 1024;
inline constexpr int kRingBlocks = 16;
inline constexpr int kBlockBytes = kBlockFrames * 4;
inline constexpr int kRingBytes = kRingBlocks * kBlockBytes;
inline constexpr int kOutputRate = 48000;

// How the mixer runs its frame loops; every path gives the same samples bit for bit.
enum class MixPath : std::uint8_t {
    Best = 0, // the fastest this CPU has
    Scalar,   // the plain reference loop
    Sse2,     // x86 with SSE2 (every x86-64 CPU)
    Avx2,     // x86 with AVX2, where the CPU and the OS have it
    Avx512,   // x86 with AVX-512 F, BW and DQ, where the CPU and the OS have them
};

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

// Loads the module from reader (already opened) into the arena. On failure what was
// allocated stays in the arena; the error says why the module was refused and where.
binary::Status LoadModule(Engine& engine, ModuleReader& reader, platform::HeapArena* arena);

// Opens the reader, loads, closes the reader; the arena is the caller's. For tools and tests.
binary::Status LoadFromMemory(Engine& engine, const void* data, std::uint32_t size,
                              platform::HeapArena* arena);

// --- mixer ---
void MixRun(Engine& engine, int frames, int writeFrame);
// Whether this build and CPU can run the path (Best and Scalar always can).
bool MixPathAvailable(MixPath path);
// The path Best stands for here, or the path itself.
MixPath ResolveMixPath(MixPath path);
const char* MixPathName(MixPath path);
void TriggerVoice(SongState& song, ChannelState& channel, SampleRecord* sample);

// --- channel pitch, volume, envelopes ---
std::int32_t NotePeriod(bool linear, int realNote, int finetune);
std::int32_t AmigaPeriod(int note); // the table P(m)
std::uint32_t Frequency(bool linear, std::int32_t period, std::int32_t periodDelta);
void StepFromFrequency(std::uint32_t frequency, std::uint32_t& integer, std::uint32_t& fraction);
int Oscillate(std::uint8_t& position, int speed, int depth, int waveform);
void ApplyVibrato(ChannelState& channel);
void ApplyTremolo(ChannelState& channel);
enum class Envelope { Volume, Panning };
void StepEnvelope(ChannelState& channel, Envelope which, const InstrumentRecord& instrument);
void FadeoutStep(ChannelState& channel, const InstrumentRecord& instrument);
void UpdateChannel(SongState& song, ChannelState& channel, SampleRecord* sample,
                   const InstrumentRecord& instrument);

// --- rows, ticks, effects ---
void SetTempo(SongState& song, std::uint32_t bpm);
// One tick; false when the song ended under the no-loop flag (nothing more of the tick ran).
bool RunTick(Engine& engine);

// --- output ---
std::int16_t ConvertSample(std::int32_t mixed);
void ConvertBlock(const std::int32_t* mixed, std::int16_t* out, int count,
                  MixPath path = MixPath::Best);
// Mixes 1,024 frames into out (2,048 values); false when the song ended during the block
// (the block is then abandoned; mixBuffer keeps what was mixed before the end).
bool RenderBlock(Engine& engine, std::int16_t* out);

} // namespace music
