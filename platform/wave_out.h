// Waveform audio output of one looping ring buffer: 48,000 Hz, stereo, 16-bit PCM. A thin
// layer over winmm's waveOut functions, loaded from the system folder at first use (without
// them there is no device); the POSIX build has a device that "plays" the ring in real time
// into a raw capture file, for the Linux tools and tests.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kWaveRate = 48000;
inline constexpr std::uint32_t kWaveChannels = 2;
inline constexpr std::uint32_t kWaveBytesPerFrame = 4;

using WaveOutHandle = void*; // null: no device

// The ring and the device's buffer header for it (storage kept by the caller).
struct WaveLoopBuffer {
    void* data;
    std::uint32_t bytes;
    alignas(8) unsigned char header[96];
};

// Opens the system's default output (no callback). Writes the handle, null on failure.
void WaveOutOpen(WaveOutHandle* handle);
// Describes the whole ring as one buffer that loops forever and prepares it.
void WaveOutPrepareLoop(WaveOutHandle handle, WaveLoopBuffer& buffer);
// Hands the prepared ring to the device; false when refused (also for a null handle).
bool WaveOutWrite(WaveOutHandle handle, WaveLoopBuffer& buffer);
// Bytes played so far (wraps at 2^32).
std::uint32_t WaveOutPosition(WaveOutHandle handle);
void WaveOutReset(WaveOutHandle handle);
void WaveOutUnprepare(WaveOutHandle handle, WaveLoopBuffer& buffer);
void WaveOutClose(WaveOutHandle handle);

#ifndef _WIN32
// The POSIX device exists only while a capture file is named (null: no device). The
// environment variable ITR_AUDIO_FILE names one too.
void SetWaveOutCaptureFile(const char* path);
#endif

} // namespace platform
