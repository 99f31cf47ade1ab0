// The program's own XM module, generated at build time by compose_track.py.
#pragma once

#include <cstdint>

extern const unsigned char kTrackFile[];
extern const std::uint32_t kTrackFileSize;
