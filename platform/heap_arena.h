// A private, growable memory arena: every allocation is zero-filled, nothing is freed one by
// one, destroying the arena frees everything at once. A byte limit turns absurd requests
// from a malformed file into an ordinary allocation failure.
#pragma once

#include <cstddef>

namespace platform {

struct HeapArena;

inline constexpr std::size_t kDefaultArenaLimit = std::size_t{1} << 30;

// Null when the arena cannot be created.
HeapArena* ArenaCreate(std::size_t limit = kDefaultArenaLimit);
// Zero-filled block; null when the memory is not there or the arena's limit would be passed.
void* ArenaAlloc(HeapArena* arena, std::size_t bytes);
void ArenaDestroy(HeapArena* arena);

} // namespace platform
