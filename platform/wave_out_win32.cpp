// The audio output on Windows: waveOut, from winmm loaded from the system folder at first use.
#include "platform/system_library_win32.h"
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

// winmm is not among the system's known libraries: it is loaded from the system folder at
// first use, never imported (an import would take a winmm.dll beside the program first).
struct Winmm {
    decltype(&::waveOutOpen) open = nullptr;
    decltype(&::waveOutPrepareHeader) prepareHeader = nullptr;
    decltype(&::waveOutWrite) write = nullptr;
    decltype(&::waveOutGetPosition) getPosition = nullptr;
    decltype(&::waveOutReset) reset = nullptr;
    decltype(&::waveOutUnprepareHeader) unprepareHeader = nullptr;
    decltype(&::waveOutClose) close = nullptr;

    bool Complete() const {
        return open && prepareHeader && write && getPosition && reset && unprepareHeader && close;
    }
};

// All of winmm's functions, or null: without the library (or one of them) there is no device
// and so no sound. A device exists only when this is not null.
const Winmm* Functions() {
    static const Winmm loaded = [] {
        const HMODULE library = LoadSystemLibrary(L"winmm.dll");
        Winmm f;
        f.open = LibraryFunction<decltype(f.open)>(library, "waveOutOpen");
        f.prepareHeader =
            LibraryFunction<decltype(f.prepareHeader)>(library, "waveOutPrepareHeader");
        f.write = LibraryFunction<decltype(f.write)>(library, "waveOutWrite");
        f.getPosition = LibraryFunction<decltype(f.getPosition)>(library, "waveOutGetPosition");
        f.reset = LibraryFunction<decltype(f.reset)>(library, "waveOutReset");
        f.unprepareHeader =
            LibraryFunction<decltype(f.unprepareHeader)>(library, "waveOutUnprepareHeader");
        f.close = LibraryFunction<decltype(f.close)>(library, "waveOutClose");
        return f;
    }();
    return loaded.Complete() ? &loaded : nullptr;
}

} // namespace

void WaveOutOpen(WaveOutHandle* handle) {
    *handle = nullptr;
    const Winmm* winmm = Functions();
    if (!winmm) {
        return;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kWaveChannels;
    format.nSamplesPerSec = kWaveRate;
    format.nAvgBytesPerSec = kWaveRate * kWaveBytesPerFrame;
    format.nBlockAlign = kWaveBytesPerFrame;
    format.wBitsPerSample = 16;
    HWAVEOUT device = nullptr;
    if (winmm->open(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
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
    if (handle) {
        Functions()->prepareHeader(Device(handle), h, sizeof(*h));
    }
}

bool WaveOutWrite(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    return handle &&
           Functions()->write(Device(handle), Header(buffer), sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

std::uint32_t WaveOutPosition(WaveOutHandle handle) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (handle) {
        Functions()->getPosition(Device(handle), &time, sizeof(time));
    }
    return time.u.cb;
}

void WaveOutReset(WaveOutHandle handle) {
    if (handle) {
        Functions()->reset(Device(handle));
    }
}

void WaveOutUnprepare(WaveOutHandle handle, WaveLoopBuffer& buffer) {
    if (handle) {
        Functions()->unprepareHeader(Device(handle), Header(buffer), sizeof(WAVEHDR));
    }
}

void WaveOutClose(WaveOutHandle handle) {
    if (handle) {
        Functions()->close(Device(handle));
    }
}

} // namespace platform
