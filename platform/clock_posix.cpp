// The show's time off Windows: the monotonic clock's milliseconds, sleeps and seeds.
#include "platform/clock.h"

#include <time.h>

namespace platform {

namespace {
std::uint64_t Nanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
}
} // namespace

std::uint32_t TickCount() {
    return static_cast<std::uint32_t>(Nanoseconds() / 1000000u);
}

void SleepMs(std::uint32_t milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

std::uint32_t ClockSeed() {
    return static_cast<std::uint32_t>(Nanoseconds() / 100u);
}

} // namespace platform
