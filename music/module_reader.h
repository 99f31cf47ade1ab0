// Byte sources of the loader: module bytes in memory, a file, or a raw-data resource of a
// loaded module. Reads never fail: bytes beyond the source leave the destination as it was.
#pragma once

#include <cstdint>

#include "platform/file_source.h"

namespace music {

inline constexpr std::uint32_t kFileCacheBytes = 8192;

enum class ReaderKind { Memory, File, Resource };
enum class SeekFrom { Start, Current };

struct ModuleReader {
    ReaderKind kind = ReaderKind::Memory;
    const std::uint8_t* base = nullptr; // memory and resource
    const char* name = nullptr;         // file and resource
    std::uintptr_t module = 0;          // resource: the module whose resources hold the bytes
    platform::ModuleFile file = nullptr;
    std::uint32_t size = 0;
    std::uint32_t position = 0;
    // File: 8 KB cache aligned to 8 KB offsets (storage lent by the caller).
    std::uint8_t* cache = nullptr;
    std::uint32_t cacheOffset = 0;
    std::uint32_t cacheValid = 0; // bytes of the cache that hold file data; 0: empty
};

ModuleReader MemoryReader(const void* data, std::uint32_t size);
ModuleReader FileReader(const char* name, std::uint8_t* cache);
ModuleReader ResourceReader(const char* name, std::uintptr_t module);

void ReaderOpen(ModuleReader& r);
void ReaderRead(ModuleReader& r, void* destination, std::uint32_t count);
// Positions are 32-bit: the target wraps modulo 2^32 (a negative offset is its two's
// complement) and is ignored when it lies above the size.
void ReaderSeek(ModuleReader& r, std::uint32_t offset, SeekFrom from);
void ReaderClose(ModuleReader& r);

} // namespace music
