// The program's one pseudo-random generator and its re-seeding from the clock.
#include "show/random.h"

#include "platform/clock.h"

#include <atomic>

namespace show {

namespace {
// Two threads use the generator; an atomic keeps that free of data races. A lost update
// between them only changes which random numbers come out, which is fine.
std::atomic<std::uint32_t> g_seed{0};
std::atomic<SeedSource> g_source{&platform::ClockSeed};
} // namespace

std::uint32_t Random(std::uint32_t n) {
    // The classic 32-bit linear congruential step; the high half of seed * n is the draw.
    std::uint32_t seed = g_seed.load(std::memory_order_relaxed) * 134775813u + 1u;
    g_seed.store(seed, std::memory_order_relaxed);
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed) * n) >> 32);
}

void Randomize() {
    g_seed.store(g_source.load()(), std::memory_order_relaxed);
}

void SetRandSeed(std::uint32_t seed) {
    g_seed.store(seed, std::memory_order_relaxed);
}

std::uint32_t RandSeed() {
    return g_seed.load(std::memory_order_relaxed);
}

SeedSource SetSeedSource(SeedSource source) {
    return g_source.exchange(source ? source : &platform::ClockSeed);
}

} // namespace show
