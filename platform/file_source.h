// Reading module bytes from a file (8-bit name) and from the program's own raw-data
// resources.
#pragma once

#include <cstdint>

namespace platform {

using ModuleFile = void*; // null: not open

ModuleFile FileOpenRead(const char* name);
// Reads up to count bytes at an absolute offset; returns the bytes actually read.
std::uint32_t FileReadAt(ModuleFile file, std::uint32_t offset, void* destination,
                         std::uint32_t count);
void FileClose(ModuleFile file);

// Finds the raw-data resource (RT_RCDATA) named name in the loaded module; false when it
// is not there (always on POSIX, which has no resources).
bool FindRawDataResource(std::uintptr_t module, const char* name, const void** data,
                         std::uint32_t* size);

} // namespace platform
