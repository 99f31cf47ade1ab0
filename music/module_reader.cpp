// The loader's byte sources: memory and a raw-data resource through the shared reader, a file
// through an 8 KB cache.
#include "music/module_reader.h"

#include "binary/reader.h"

#include <algorithm>
#include <cstring>

namespace music {

ModuleReader MemoryReader(const void* data, std::uint32_t size) {
    ModuleReader r;
    r.kind = ReaderKind::Memory;
    r.base = static_cast<const std::uint8_t*>(data);
    r.size = size;
    return r;
}

ModuleReader FileReader(const char* name, std::uint8_t* cache) {
    ModuleReader r;
    r.kind = ReaderKind::File;
    r.name = name;
    r.cache = cache;
    r.size = 0xFFFFFFFFu;
    return r;
}

ModuleReader ResourceReader(const char* name, std::uintptr_t module) {
    ModuleReader r;
    r.kind = ReaderKind::Resource;
    r.name = name;
    r.module = module;
    return r;
}

void ReaderOpen(ModuleReader& r) {
    switch (r.kind) {
    case ReaderKind::Memory:
        break;
    case ReaderKind::Resource: {
        const void* data = nullptr;
        std::uint32_t size = 0;
        if (platform::FindRawDataResource(r.module, r.name, &data, &size)) {
            r.base = static_cast<const std::uint8_t*>(data);
            r.size = size;
        } else {
            r.base = nullptr;
            r.size = 0;
        }
        break;
    }
    case ReaderKind::File:
        r.file = platform::FileOpenRead(r.name);
        r.cacheValid = 0;
        r.cacheOffset = 0;
        break;
    }
}

namespace {

// Copies what the range holds of [pos, pos + count), as far as it reaches; returns the bytes
// copied.
std::uint32_t CopyFrom(const binary::Reader& range, std::uint64_t pos, std::uint8_t* out,
                       std::uint32_t count) {
    if (pos < range.Base() || !range.Has(pos - range.Base(), 1)) {
        return 0;
    }
    const std::uint64_t at = pos - range.Base();
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, range.Size() - at));
    std::memcpy(out, range.At(at, n), n);
    return n;
}

void ReadMemory(ModuleReader& r, std::uint8_t* out, std::uint32_t count) {
    if (r.base) {
        // However many bytes the source holds: those beyond it leave out as it was.
        (void)CopyFrom(binary::Reader(r.base, r.size), r.position, out, count);
    }
}

// Copies what the cache holds at pos; returns the bytes copied.
std::uint32_t FromCache(const ModuleReader& r, std::uint32_t pos, std::uint8_t* out,
                        std::uint32_t count) {
    return CopyFrom(binary::Reader(r.cache, r.cacheValid, r.cacheOffset), pos, out, count);
}

void ReadFile(ModuleReader& r, std::uint8_t* out, std::uint32_t count) {
    std::uint64_t pos = r.position;
    const std::uint64_t end = pos + count;
    while (pos < end) {
        if (pos > 0xFFFFFFFFu) {
            return; // beyond what a 32-bit position addresses
        }
        auto p32 = static_cast<std::uint32_t>(pos);
        std::uint32_t n = FromCache(r, p32, out, static_cast<std::uint32_t>(end - pos));
        out += n;
        pos += n;
        if (pos >= end) {
            return;
        }
        // The whole 8 KB blocks before the last boundary go straight to the destination.
        std::uint64_t lastBoundary = end & ~std::uint64_t{kFileCacheBytes - 1};
        if (pos < lastBoundary && (pos % kFileCacheBytes) == 0) {
            auto direct = static_cast<std::uint32_t>(lastBoundary - pos);
            std::uint32_t got =
                platform::FileReadAt(r.file, static_cast<std::uint32_t>(pos), out, direct);
            if (got < direct) {
                return; // the file ends here
            }
            out += direct;
            pos += direct;
            continue;
        }
        // Load the cache with the block that holds pos.
        auto block = static_cast<std::uint32_t>(pos & ~std::uint64_t{kFileCacheBytes - 1});
        r.cacheOffset = block;
        r.cacheValid = platform::FileReadAt(r.file, block, r.cache, kFileCacheBytes);
        if (pos - block >= r.cacheValid) {
            return; // nothing more in the file
        }
    }
}

} // namespace

void ReaderRead(ModuleReader& r, void* destination, std::uint32_t count) {
    auto* out = static_cast<std::uint8_t*>(destination);
    if (r.kind == ReaderKind::File) {
        ReadFile(r, out, count);
    } else {
        ReadMemory(r, out, count);
    }
    r.position += count;
}

void ReaderSeek(ModuleReader& r, std::uint32_t offset, SeekFrom from) {
    // Unsigned 32-bit arithmetic: a target "below 0" wraps to a large value, above the size
    // of any memory source, and is ignored; one that wraps back into the source is taken.
    const std::uint32_t target = from == SeekFrom::Start ? offset : r.position + offset;
    if (target <= r.size) {
        r.position = target;
    }
}

void ReaderClose(ModuleReader& r) {
    if (r.kind == ReaderKind::File) {
        platform::FileClose(r.file);
        r.file = nullptr;
        r.cacheValid = 0;
    }
}

} // namespace music
