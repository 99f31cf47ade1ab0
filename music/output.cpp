// The engine's output: a block's frames mixed tick by tick, each run of frames up to the
// next tick, then the block's sums converted to 16-bit samples.
#include "music/output.h"

#include "music/engine.h"
#include "music/mix_kernels.h"
#include "music/mixer.h"
#include "music/sequencer.h"

namespace music {

void ConvertBlock(const std::int32_t* in, std::int16_t* out, int count, MixPath path) {
    const MixKernels* kernels = KernelsFor(path);
    // A path this CPU lacks: the scalar rule gives the same values.
    (kernels ? kernels->convert : ConvertScalar)(in, out, count);
}

bool RenderBlock(Engine& engine, std::int16_t* out) {
    SongState& song = engine.song;
    for (std::int32_t& v : engine.mixBuffer) {
        v = 0;
    }
    int remaining = kBlockFrames;
    int write = 0;
    while (remaining > 0) {
        if (song.samplesToNextTick == 0 && !RunTick(engine)) {
            return false;
        }
        const int n = song.samplesToNextTick < static_cast<std::uint32_t>(remaining)
                          ? static_cast<int>(song.samplesToNextTick)
                          : remaining;
        MixRun(engine, n, write);
        write += n;
        song.samplesToNextTick -= static_cast<std::uint32_t>(n);
        remaining -= n;
    }
    ConvertBlock(engine.mixBuffer, out, 2 * kBlockFrames, engine.mixPath);
    return true;
}

} // namespace music
