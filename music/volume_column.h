// The volume column of a cell: its high nibble says what it does, its low nibble is the value.
// Each code's handler on a row's first tick and on the row's later ticks, found in one table.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

namespace music {

// The first tick runs with the volume already to be updated.
void VolumeColumnFirstTick(ChannelState& c, std::uint8_t b);
void VolumeColumnLaterTick(ChannelState& c, std::uint8_t b);

} // namespace music
