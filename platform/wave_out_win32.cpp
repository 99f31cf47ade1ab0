#include "platform/wave_out.h"

#include <windows.h>

#include <mmsystem.h>

namespace platform {

static_assert(sizeof(WAVEHDR) <= sizeof(WaveLoopBuffer::header));

namespace {
WAVEHDR* Header(WaveLoopBuffer& buffer) {
    return reinterpret_cast<WAVEHDR*>(buffer.header);
}
HWAVEOUT Device(WaveOutHandle handle) {
    return static_cast<HWAVEOUT>(handle);
}
} // namespace

void WaveOutOpen(WaveOutHandle* handle) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kWaveChannels;
    format.nSamplesPerSec = kWaveRate;
    format.nAvgBytesPerSec = kWaveRate * kWaveBytesPerFrame;
    format.nBlockAlign = kWaveBytesPerFrame;
    format.wBitsPerSample = 16;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        device = nullptr;
    }
    *handle = device;
}

void WaveOutPrepareLoop(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    WAVEHDR* h = Header(buffer);
    ZeroMemory(h, sizeof(*h));
    h->lpData = static_cast<LPSTR>(buffer.data);
    h->dwBufferLength = buffer.bytes;
    h->dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    h->dwLoops = 0xFFFFFFFF;
    waveOutPrepareHeader(Device(handle), h, sizeof(*h));
}

bool WaveOutWrite(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    return handle &&
           waveOutWrite(Device(handle), Header(buffer), sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

std::uint32_t WaveOutPosition(WaveOutHandle handle) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    waveOutGetPosition(Device(handle), &time, sizeof(time));
    return time.u.cb;
}

void WaveOutReset(WaveOutHandle handle) {
    waveOutReset(Device(handle));
}

void WaveOutUnprepare(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    waveOutUnprepareHeader(Device(handle), Header(buffer), sizeof(WAVEHDR));
}

void WaveOutClose(WaveOutHandle handle) {
    waveOutClose(Device(handle));
}

} // namespace platform
