// The XM loader: a module's bytes, read through a module reader, into the engine's song in
// the module arena.
#pragma once

#include <cstdint>

#include "binary/error.h"
#include "music/module_reader.h"
#include "platform/heap_arena.h"

namespace music {

struct Engine;

// Loads the module from reader (already opened) into the arena. On failure what was
// allocated stays in the arena; the error says why the module was refused and where.
binary::Status LoadModule(Engine& engine, ModuleReader& reader, platform::HeapArena* arena);

// Opens the reader, loads, closes the reader; the arena is the caller's. For tools and tests.
binary::Status LoadFromMemory(Engine& engine, const void* data, std::uint32_t size,
                              platform::HeapArena* arena);

} // namespace music
