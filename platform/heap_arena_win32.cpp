// The memory arena on Windows: a private heap, destroyed whole.
#include "platform/heap_arena.h"

#include <windows.h>

namespace platform {

// The bookkeeping lives in the heap's first block, so the arena owns no memory of its own.
struct HeapArena {
    HANDLE heap;
    std::size_t used;
    std::size_t limit;
};

HeapArena* ArenaCreate(std::size_t limit) {
    HANDLE heap = HeapCreate(0, 0, 0);
    if (!heap) {
        return nullptr;
    }
    auto* arena = static_cast<HeapArena*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(HeapArena)));
    if (!arena) {
        HeapDestroy(heap);
        return nullptr;
    }
    arena->heap = heap;
    arena->limit = limit;
    return arena;
}

void* ArenaAlloc(HeapArena* arena, std::size_t bytes) {
    if (!arena || bytes > arena->limit - arena->used) {
        return nullptr;
    }
    void* p = HeapAlloc(arena->heap, HEAP_ZERO_MEMORY, bytes ? bytes : 1);
    if (p) {
        arena->used += bytes;
    }
    return p;
}

void ArenaDestroy(HeapArena* arena) {
    if (arena) {
        HeapDestroy(arena->heap);
    }
}

} // namespace platform
