// Reading module bytes from a file (8-bit name) and from the program's own raw-data
// resources.
#pragma once

#include <cstdint>

namespace platform {

using FileHandle = void*; // null: not open

FileHandle FileOpenRead(const char* name);
// Reads up to count bytes at an absolute offset; returns the bytes actually read.
std::uint32_t FileReadAt(FileHandle file, std::uint32_t offset, void* destination,
                         std::uint32_t count);
void FileClose(FileHandle file);

// Finds the raw-data resource (RT_RCDATA) named name in the loaded module; false when it
// is not there (always on POSIX, which has no resources).
bool FindRawDataResource(std::uintptr_t module, const char* name, const void** data,
                         std::uint32_t* size);

} // namespace platform
