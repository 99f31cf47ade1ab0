// The memory arena off Windows: zero-filled blocks linked to each other and freed together.
#include "platform/heap_arena.h"

#include <cstdlib>
#include <new>

namespace platform {

namespace {
// Each block is preceded by a link to the previous one.
struct BlockHeader {
    BlockHeader* previous;
    std::max_align_t align;
};
} // namespace

struct HeapArena {
    BlockHeader* last;
    std::size_t used;
    std::size_t limit;
};

HeapArena* ArenaCreate(std::size_t limit) {
    auto* arena = static_cast<HeapArena*>(std::calloc(1, sizeof(HeapArena)));
    if (arena) {
        arena->limit = limit;
    }
    return arena;
}

void* ArenaAlloc(HeapArena* arena, std::size_t bytes) {
    if (!arena || bytes > arena->limit - arena->used) {
        return nullptr;
    }
    auto* block = static_cast<BlockHeader*>(std::calloc(1, offsetof(BlockHeader, align) + bytes));
    if (!block) {
        return nullptr;
    }
    block->previous = arena->last;
    arena->last = block;
    arena->used += bytes;
    return &block->align;
}

void ArenaDestroy(HeapArena* arena) {
    if (!arena) {
        return;
    }
    for (BlockHeader* b = arena->last; b;) {
        BlockHeader* previous = b->previous;
        std::free(b);
        b = previous;
    }
    std::free(arena);
}

} // namespace platform
