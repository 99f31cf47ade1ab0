// The engine's output: blocks of 1,024 stereo frames rendered tick by tick through the
// sequencer and the mixer, and converted from the mixer's sums to 16-bit samples.
#pragma once

#include <cstdint>

#include "music/mix_path.h"

namespace music {

struct Engine;

// Converts count accumulators to 16-bit samples (ConvertSample's rule) with the path's
// kernel, or the scalar loop where this CPU lacks the path.
void ConvertBlock(const std::int32_t* mixed, std::int16_t* out, int count,
                  MixPath path = MixPath::Best);
// Mixes 1,024 frames into out (2,048 values); false when the song ended during the block
// (the block is then abandoned; mixBuffer keeps what was mixed before the end).
bool RenderBlock(Engine& engine, std::int16_t* out);

} // namespace music
