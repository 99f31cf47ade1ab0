// The background music player: plays one XM module at a time on a playback thread of its
// own, through the system's default wave output (48 kHz, stereo, 16-bit).
#pragma once

#include <cstdint>

namespace music {

// Flags of PlayModule, to be added together.
inline constexpr std::uint32_t SourceResource =
    0; // source names an RT_RCDATA resource of module `size`
inline constexpr std::uint32_t SourceMemory =
    1;                                         // source addresses `size` module bytes; wins over 2
inline constexpr std::uint32_t SourceFile = 2; // source is a file name (8-bit characters)
inline constexpr std::uint32_t NoLoop = 8;     // stop at the end of the order list

// Stops whatever plays, then loads and starts the module. Returns the address at which the
// player keeps its output device handle, or null (null source, no device, a module that does
// not load). Call from one thread only (the GUI thread).
void* PlayModule(const void* source, std::uintptr_t size, std::uint32_t flags);
// PlayModule(nullptr, 0, 0): ends the playback thread, closes the device, frees the module.
void StopModule();

// For tests and tools: true while a module plays; the number of playback threads that have
// started and not yet ended.
bool ModulePlaying();
int PlaybackThreadsAlive();

} // namespace music
