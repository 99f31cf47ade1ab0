// Stand-in for the music player until it joins the build: the window's calls stay in place.
#pragma once
#include <cstdint>
namespace music {
constexpr std::uint32_t SourceResource = 0, SourceMemory = 1, SourceFile = 2, NoLoop = 8;
inline void* PlayModule(const void*, std::uintptr_t, std::uint32_t) { return nullptr; }
inline void StopModule() {}
} // namespace music
