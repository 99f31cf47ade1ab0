// The program's own XM module, generated at build time by compose_track.py.
#pragma once

#include <cstdint>

namespace music {

extern const unsigned char kTrackFile[];
extern const std::uint32_t kTrackFileSize; // the module's true length

} // namespace music
