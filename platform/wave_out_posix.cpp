// The audio output off Windows: a device that plays the ring in real time into a capture
// file.
#include "platform/wave_out.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// One device at a time, like the player that uses it.
struct CaptureDevice {
    std::FILE* file = nullptr;
    const unsigned char* ring = nullptr;
    std::uint32_t ringBytes = 0;
    bool playing = false;
    Clock::time_point start;
    std::uint64_t copied = 0; // bytes of the ring already written to the file
};

CaptureDevice gDevice;
std::mutex gPathMutex;
std::string gPath;
bool gPathSet = false;

std::string CapturePath() {
    std::lock_guard lock(gPathMutex);
    if (gPathSet) {
        return gPath;
    }
    const char* env = std::getenv("ITR_AUDIO_FILE");
    return env ? env : "";
}

// Writes what the device has played since the last call into the capture file.
std::uint64_t Advance(CaptureDevice& d) {
    if (!d.playing) {
        return d.copied;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - d.start);
    std::uint64_t played =
        static_cast<std::uint64_t>(elapsed.count()) * kWaveRate / 1000000 * kWaveBytesPerFrame;
    while (d.copied < played && d.ringBytes) {
        std::uint32_t at = static_cast<std::uint32_t>(d.copied % d.ringBytes);
        std::uint64_t n = played - d.copied;
        if (n > d.ringBytes - at) {
            n = d.ringBytes - at;
        }
        std::fwrite(d.ring + at, 1, n, d.file);
        d.copied += n;
    }
    return d.copied;
}

} // namespace

void SetWaveOutCaptureFile(const char* path) {
    std::lock_guard lock(gPathMutex);
    gPathSet = path != nullptr;
    gPath = path ? path : "";
}

void WaveOutOpen(WaveOutHandle* handle) {
    *handle = nullptr;
    std::string path = CapturePath();
    if (path.empty() || gDevice.file) {
        return;
    }
    gDevice = CaptureDevice{};
    gDevice.file = std::fopen(path.c_str(), "wb");
    if (gDevice.file) {
        *handle = &gDevice;
    }
}

void WaveOutPrepareLoop(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    if (auto* d = static_cast<CaptureDevice*>(handle)) {
        d->ring = static_cast<const unsigned char*>(buffer.data);
        d->ringBytes = buffer.bytes;
    }
}

bool WaveOutWrite(WaveOutHandle handle, WaveLoopBuffer&) {
    auto* d = static_cast<CaptureDevice*>(handle);
    if (!d || !d->ring || d->playing) {
        return false;
    }
    d->playing = true;
    d->start = Clock::now();
    d->copied = 0;
    return true;
}

std::uint32_t WaveOutPosition(WaveOutHandle handle) {
    auto* d = static_cast<CaptureDevice*>(handle);
    return d ? static_cast<std::uint32_t>(Advance(*d)) : 0;
}

void WaveOutReset(WaveOutHandle handle) {
    if (auto* d = static_cast<CaptureDevice*>(handle)) {
        Advance(*d);
        d->playing = false;
    }
}

void WaveOutUnprepare(WaveOutHandle handle, WaveLoopBuffer&) {
    if (auto* d = static_cast<CaptureDevice*>(handle)) {
        d->ring = nullptr;
    }
}

void WaveOutClose(WaveOutHandle handle) {
    if (auto* d = static_cast<CaptureDevice*>(handle)) {
        std::fclose(d->file);
        *d = CaptureDevice{};
    }
}

} // namespace platform
