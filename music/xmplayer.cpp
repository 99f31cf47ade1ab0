// Player control: the output ring, the playback thread and the stop sequence. The state is
// process-wide; the module lives in one arena that is destroyed whole.
#include "music/xmplayer.h"

#include <atomic>

#include "music/engine.h"
#include "platform/thread.h"
#include "platform/wave_out.h"

namespace music {

namespace {

struct Player {
    platform::WaveOutHandle device;
    platform::ThreadHandle thread;
    std::uint32_t fillIndex;
    std::atomic<std::uint32_t> stop;
    Engine engine;
    alignas(16) std::int16_t outputRing[kRingBytes / 2];
    platform::WaveLoopBuffer buffer;
    ModuleReader reader;
};

Player gPlayer{};
std::atomic<int> gThreadsAlive{0};

// Steps 2 and 3 of the stop sequence: device closed, module freed.
void ReleaseDeviceAndModule() {
    Player& p = gPlayer;
    p.fillIndex = 0;
    if (platform::WaveOutHandle device = p.device) {
        p.device = nullptr;
        platform::WaveOutReset(device);
        platform::WaveOutUnprepare(device, p.buffer);
        platform::WaveOutClose(device);
    }
    if (platform::HeapArena* arena = p.engine.arena) {
        p.engine.arena = nullptr;
        platform::ArenaDestroy(arena);
    }
}

void StopSequence() {
    Player& p = gPlayer;
    // A thread that ended by itself (the song's end) is still joined here, so no thread
    // outlives the module it played or overlaps the next play.
    if (platform::ThreadHandle thread = p.thread) {
        p.stop.store(1);
        platform::ThreadJoinAndClose(thread);
    }
    p.thread = nullptr;
    ReleaseDeviceAndModule();
}

void FillBlock() {
    Player& p = gPlayer;
    if (!RenderBlock(p.engine, p.outputRing + p.fillIndex * (kBlockBytes / 2))) {
        // The song ended under the no-loop flag: the block is abandoned.
        ReleaseDeviceAndModule();
        p.stop.store(1);
        return;
    }
    p.fillIndex = (p.fillIndex + 1) % kRingBlocks;
}

void PlaybackThread() {
    Player& p = gPlayer;
    struct Leave {
        ~Leave() { gThreadsAlive.fetch_sub(1); }
    } leave;
    for (;;) {
        const std::uint32_t playing =
            (platform::WaveOutPosition(p.device) / kBlockBytes) % kRingBlocks;
        for (;;) {
            platform::SleepMilliseconds(5);
            if (p.stop.load()) {
                return;
            }
            if (p.fillIndex == playing) {
                break;
            }
            FillBlock();
        }
    }
}

// The reader of the source the flags name. A file is read through the mix buffer's storage,
// which the engine needs only once the module plays.
ModuleReader SourceReader(const void* source, std::uintptr_t size, std::uint32_t flags) {
    if (flags & SourceMemory) {
        return MemoryReader(source, static_cast<std::uint32_t>(size));
    }
    if (flags & SourceFile) {
        return FileReader(static_cast<const char*>(source),
                          reinterpret_cast<std::uint8_t*>(gPlayer.engine.mixBuffer));
    }
    return ResourceReader(static_cast<const char*>(source), size);
}

// The module from the player's reader into a fresh arena; false, with the device and the
// module released, when it does not load.
bool LoadIntoArena() {
    Player& p = gPlayer;
    p.engine.arena = platform::ArenaCreate();
    if (!p.engine.arena) {
        // Nothing else holds the device open.
        ReleaseDeviceAndModule();
        return false;
    }
    ReaderOpen(p.reader);
    // The player reports through its result only: a module it refuses gives null, whatever
    // the reason.
    const binary::Status loaded = LoadModule(p.engine, p.reader, p.engine.arena);
    ReaderClose(p.reader);
    if (!loaded) {
        ReleaseDeviceAndModule();
        return false;
    }
    return true;
}

// The whole ring rendered and handed to the device, then the playback thread started; false,
// with everything stopped, when the device refuses the ring or the thread does not start.
bool StartPlayback() {
    Player& p = gPlayer;
    p.buffer.data = p.outputRing;
    p.buffer.bytes = kRingBytes;
    platform::WaveOutPrepareLoop(p.device, p.buffer);
    do {
        FillBlock();
    } while (p.fillIndex != 0);

    p.stop.store(0);
    if (!platform::WaveOutWrite(p.device, p.buffer)) {
        StopSequence();
        return false;
    }
    gThreadsAlive.fetch_add(1); // the thread counts itself out when it ends
    p.thread = platform::ThreadStart(PlaybackThread);
    if (!p.thread) {
        gThreadsAlive.fetch_sub(1);
        StopSequence();
        return false;
    }
    platform::ThreadSetTimeCritical(p.thread);
    return true;
}

} // namespace

void* PlayModule(const void* source, std::uintptr_t size, std::uint32_t flags) {
    Player& p = gPlayer;
    StopSequence();
    if (!source) {
        return nullptr;
    }
    p.reader = SourceReader(source, size, flags);
    p.reader.position = 0;
    p.engine.noLoop = (flags & NoLoop) ? 1 : 0;

    // A device that did not open stays null; WaveOutWrite refuses it when playback starts.
    platform::WaveOutOpen(&p.device);
    if (!LoadIntoArena() || !StartPlayback()) {
        return nullptr;
    }
    return &p.device;
}

void StopModule() {
    PlayModule(nullptr, 0, 0);
}

bool ModulePlaying() {
    return gPlayer.device != nullptr && gPlayer.thread != nullptr;
}

int PlaybackThreadsAlive() {
    return gThreadsAlive.load();
}

} // namespace music
