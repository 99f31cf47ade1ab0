// Golden digests of the program's module as the engine renders it (looping, from the
// start). A change here needs a reason: it means the module or the engine's arithmetic
// changed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace golden {

// FNV-1a, 64-bit, over the little-endian 16-bit output samples.
inline std::uint64_t Fnv1a(const void* data, std::size_t bytes,
                           std::uint64_t h = 0xcbf29ce484222325ull) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < bytes; ++i) {
        h = (h ^ p[i]) * 0x100000001b3ull;
    }
    return h;
}

inline constexpr std::uint64_t kFirstRing =
    0x9f2150d4f0f11176ull; // the first 16 blocks (65,536 bytes)
inline constexpr std::uint64_t kFirst30Seconds = 0x4c0f55a73788a075ull; // 1,440,000 frames

} // namespace golden
