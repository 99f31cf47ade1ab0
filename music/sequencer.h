// The sequencer: the song's rows and ticks, in order-table order.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

namespace music {

struct Engine;

// The tick's length in output frames for the tempo in BPM (0 counts as 1).
void SetTempo(SongState& song, std::uint32_t bpm);
// One tick; false when the song ended under the no-loop flag (nothing more of the tick ran).
bool RunTick(Engine& engine);

} // namespace music
