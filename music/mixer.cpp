// The mixer: every voice with a sample adds itself into the mix buffer with linear
// interpolation, a 128-frame volume ramp and its loop, in 32.32 fixed point. A voice moves in
// runs up to its next limit (loop end, sample end or loop start, or a ramp's end), each run
// mixed by the path's kernel.
#include "music/mixer.h"

#include <algorithm>

#include "music/engine.h"
#include "music/mix_kernels.h"

namespace music {

namespace {

constexpr std::uint32_t kSlowStepFraction = 0x369D00; // about 40 Hz at 48 kHz
constexpr std::uint16_t kRampFrames = 128;

std::int64_t VoicePosition(const Voice& v) {
    return static_cast<std::int64_t>(std::uint64_t{v.position} << 32 | v.fraction);
}

void StorePosition(Voice& v, std::int64_t pos) {
    v.position = static_cast<std::uint32_t>(static_cast<std::uint64_t>(pos) >> 32);
    v.fraction = static_cast<std::uint32_t>(pos);
}

// The next limit in the voice's direction: forward the loop end (the sample's end once past
// it), backward the loop start.
std::uint32_t NextLimit(const Voice& v) {
    const SampleRecord& s = *v.sample;
    const std::uint32_t le = s.LoopEnd();
    return v.direction == 0 ? (v.position < le ? le : s.length) : s.loopStart;
}

// The step per frame in 32.32; one too small to count frames in steps of 32 units becomes
// the slowest step the mixer plays.
std::uint64_t VoiceStep(Voice& v) {
    std::uint64_t step = std::uint64_t{v.stepInteger} << 32 | v.stepFraction;
    if (static_cast<std::uint32_t>(step >> 5) == 0) {
        v.stepFraction = kSlowStepFraction;
        step = std::uint64_t{v.stepInteger} << 32 | v.stepFraction;
    }
    return step;
}

// The frames up to the limit, rounded up; more than count where the limit lies beyond this
// run.
std::uint64_t FramesToLimit(std::int64_t distance, std::uint64_t step, int count) {
    // The divisor keeps all its bits: cut to 32 bits, a step of 32 samples per frame or
    // more (an Amiga period below 10, which a portamento up reaches) would make the voice
    // run past the end of its data. Below that step it is the 64-by-32-bit division.
    const std::uint64_t divisor = step >> 5;
    const std::uint64_t scaled = static_cast<std::uint64_t>(distance) >> 5;
    const auto frames = static_cast<std::uint64_t>(count);
    // count is at most a block, so below this bound divisor * frames cannot overflow.
    constexpr std::uint64_t kNoOverflow = UINT64_MAX / kBlockFrames;
    if (divisor <= kNoOverflow && scaled > divisor * frames) {
        return frames + 1; // the limit lies beyond this run: no division needed
    }
    return (scaled + divisor - 1) / divisor;
}

// A ramp of 128 frames toward the voice's targets starts where none runs or the targets
// changed; none starts where the volumes are there already.
void StartRamp(Voice& v) {
    const std::uint32_t targets =
        static_cast<std::uint32_t>(v.leftTarget) << 16 | static_cast<std::uint32_t>(v.rightTarget);
    if (v.rampCounter == 0 || targets != v.rampTargets) {
        v.rampTargets = targets;
        v.rightIncrement = (128 * v.rightTarget - v.rightVolume) >> 7;
        v.leftIncrement = (128 * v.leftTarget - v.leftVolume) >> 7;
        v.rampCounter = (v.rightIncrement != 0 || v.leftIncrement != 0) ? kRampFrames : 0;
    }
}

void AdvanceRamp(Voice& v, int run) {
    if (v.rampCounter != 0) {
        v.rampCounter = static_cast<std::uint16_t>(v.rampCounter - run);
        if (v.rampCounter == 0) {
            v.rightIncrement = 0;
            v.leftIncrement = 0;
        }
    }
}

// Adds run frames of the voice from pos into out; returns the position after them.
std::int64_t MixFrames(Voice& v, std::int64_t pos, std::uint64_t step, std::int32_t* out, int run,
                       MixKernel kernel) {
    const auto sstep = static_cast<std::int64_t>(step);
    if (v.rampCounter == 0 && v.leftVolume == 0 && v.rightVolume == 0) {
        // A silent voice adds exact zeros: only its position moves.
        return pos + (v.direction ? -sstep * run : sstep * run);
    }
    // Outside a ramp both increments are 0.
    const SampleRecord& s = *v.sample;
    MixSpan span{.values = s.Values(),
                 .readable = std::int64_t{s.length} + kGuardValues,
                 .position = pos,
                 .step = v.direction ? -sstep : sstep,
                 .out = out,
                 .frames = run,
                 .left = v.leftVolume,
                 .right = v.rightVolume,
                 .leftIncrement = v.leftIncrement,
                 .rightIncrement = v.rightIncrement};
    kernel(span);
    v.leftVolume = span.left;
    v.rightVolume = span.right;
    return span.position;
}

// Whether a run that was to stop short of the limit reached it all the same. It counted its
// frames on steps cut by 5 bits, so it may have carried the position up to 31 units per frame
// (less than one step) past the limit. Such a position has reached it: the next run would find
// a negative distance and never move the voice again, or take a position at or just past a
// loop end for one in the sample's tail and play on to its end.
bool ReachedLimit(const Voice& v, std::int64_t pos, std::uint32_t limit) {
    const std::int64_t limitPos = std::int64_t{limit} << 32;
    return v.direction == 0 ? pos > limitPos || (pos == limitPos && limit != v.sample->length)
                            : pos < limitPos;
}

void WrapForwardLoop(const SampleRecord& s, std::int64_t& pos) {
    const std::int64_t ls = s.loopStart;
    const std::int64_t le = s.LoopEnd();
    const std::int64_t ll = s.loopLength;
    std::int64_t i = pos >> 32;
    const std::int64_t fraction = pos & 0xFFFFFFFF;
    if (i > le) {
        i = ls + (i - le) % ll;
    } else {
        i -= ll;
        if (i < 0) {
            i = 0;
        }
    }
    pos = (i << 32) | fraction;
}

// The integer mirror 2 * end - 1 - position with the fraction reflected too: an exact
// reflection, so a position exactly on a sample point lands on its mirror image, one sample
// further than the integer mirror. The frames to a limit are counted in steps of 32 units, so
// a run may stop up to 31 units short of it; such a position turns on the limit. At the loop
// end that is the integer mirror's own result (the last value of the loop mirrors to the loop
// end); at the loop start the mirror would give the value before the loop, which no further
// mirror brings back inside, and reflecting exactly would carry the position past the same
// limit again: the voice would turn there forever.
void TurnPingPongLoop(Voice& v, std::int64_t& pos) {
    const SampleRecord& s = *v.sample;
    const std::int64_t S = std::int64_t{s.loopStart} << 32;
    const std::int64_t L = std::int64_t{s.LoopEnd()} << 32;
    if (v.direction == 0) {
        pos = L - std::max<std::int64_t>(pos - L, 0);
    } else {
        pos = S + std::max<std::int64_t>(S - pos, 0);
    }
    v.direction ^= 1;
    while (pos > L || pos < S) {
        pos = pos > L ? 2 * L - pos : 2 * S - pos;
        v.direction ^= 1;
    }
}

// At a limit: a forward loop goes on from its start, a ping-pong loop turns, and a sample
// without a loop (or with loop type 3) ends the voice.
void ApplyLoopRule(Voice& v, std::int64_t& pos) {
    switch (v.sample->loopType) {
    case LoopForward:
        WrapForwardLoop(*v.sample, pos);
        break;
    case LoopPingPong:
        TurnPingPongLoop(v, pos);
        break;
    default:
        v.sample = nullptr;
        pos = 0;
        break;
    }
}

void MixVoice(Voice& v, std::int32_t* out, int count, MixKernel kernel) {
    for (;;) {
        const std::uint32_t limit = NextLimit(v);
        const std::int64_t limitPos = std::int64_t{limit} << 32;
        std::int64_t pos = VoicePosition(v);
        const std::int64_t distance = v.direction == 0 ? limitPos - pos : pos - limitPos;
        if (distance < 0) {
            return;
        }
        const std::uint64_t step = VoiceStep(v);
        const std::uint64_t k = FramesToLimit(distance, step, count);
        if (k != 0) {
            const bool beyond = k > static_cast<std::uint64_t>(count);
            int run = beyond ? count : static_cast<int>(k);
            StartRamp(v);
            const bool cut = v.rampCounter != 0 && run > v.rampCounter;
            if (cut) {
                run = v.rampCounter;
            }
            pos = MixFrames(v, pos, step, out, run, kernel);
            out += 2 * run;
            count -= run;
            StorePosition(v, pos);
            AdvanceRamp(v, run);
            if ((beyond || cut) && !ReachedLimit(v, pos, limit)) {
                if (cut) {
                    continue; // the ramp ended inside the run: go on at the new volume
                }
                return;
            }
        }
        ApplyLoopRule(v, pos);
        StorePosition(v, pos);
        if (!v.sample || count == 0) {
            return;
        }
    }
}

} // namespace

void MixRun(Engine& engine, int frames, int writeFrame) {
    SongState& song = engine.song;
    std::int32_t* out = engine.mixBuffer + 2 * writeFrame;
    const MixKernels* kernels = KernelsFor(engine.mixPath);
    // A path this CPU lacks: the reference gives the same sums.
    const MixKernel kernel = kernels ? kernels->mix : MixSpanScalar;
    for (Voice* v = song.voices; v != reinterpret_cast<Voice*>(song.channels); ++v) {
        if (v->sample) {
            MixVoice(*v, out, frames, kernel);
        }
    }
}

void TriggerVoice(SongState& song, ChannelState& c, SampleRecord* sample) {
    Voice* v = c.voice;
    if (v->sample) {
        const std::ptrdiff_t index = v - song.voices;
        Voice* other = (index & 1) ? v - 1 : v + 1;
        other->finalVolume = v->finalVolume;
        other->finalPanning = v->finalPanning;
        other->startOffset = v->startOffset;
        other->rightTarget = v->rightTarget;
        other->leftTarget = v->leftTarget;
        other->position = v->position;
        other->stepFraction = v->stepFraction;
        other->stepInteger = v->stepInteger;
        other->rampTargets = v->rampTargets;
        other->rightIncrement = v->rightIncrement;
        other->leftIncrement = v->leftIncrement;
        v->finalVolume = 0;
        v->rightTarget = 0;
        v->leftTarget = 0;
        c.voice = other;
        v = other;
    }
    v->sample = sample ? sample : EmptySample();
    v->fraction = 0;
    v->rightVolume = 0;
    v->leftVolume = 0;
    v->rampCounter = 0;
    v->direction = 0;
    v->position = v->startOffset;
    v->startOffset = 0;
}

} // namespace music
