// The show's time on Windows: the tick count, sleeps and the performance counter as a seed.
#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::uint32_t TickCount() {
    return GetTickCount();
}

void SleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

std::uint32_t ClockSeed() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint32_t>(counter.QuadPart);
}

} // namespace platform
