// The program's single pseudo-random generator. The GUI thread (rain, typing pauses) and the
// marquee thread (its pauses) draw from it; the GUI thread re-seeds it from the clock.
#pragma once

#include <cstdint>

namespace show {

// A uniformly distributed integer 0 .. n - 1 (0 when n is 0).
std::uint32_t Random(std::uint32_t n);
// Re-seeds from the clock.
void Randomize();
void SetRandSeed(std::uint32_t seed);
std::uint32_t RandSeed();

// Where Randomize takes its seed from; tests replace the clock to make draws repeatable.
using SeedSource = std::uint32_t (*)();
SeedSource SetSeedSource(SeedSource source);

} // namespace show
