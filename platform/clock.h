// Time for the show: a millisecond tick, a sleep, and a seed for re-seeding the generator.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start; wraps like GetTickCount.
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);
// A value that changes faster than TickCount, for seeding a generator from the clock.
std::uint32_t ClockSeed();

} // namespace platform
