// The mixer: every voice with a sample adds itself into the mix buffer with linear
// interpolation, a 128-frame volume ramp and its loop, in 32.32 fixed point.
#include "music/engine.h"
#include "music/mix_kernels.h"

#include <algorithm>

namespace music {

namespace {

constexpr std::uint32_t kSlowStepFraction = 0x369D00; // about 40 Hz at 48 kHz
constexpr std::uint16_t kRampFrames = 128;

// Adds ((p >> 6) + (p < 0)) >> 1, that is p / 128 with the mixer's rounding, with the
// wrap-around of a 32-bit accumulator.
inline std::uint32_t Scaled(std::int64_t p) {
    return static_cast<std::uint32_t>(((p >> 6) + (p < 0 ? 1 : 0)) >> 1);
}
inline void Accumulate(std::int32_t& acc, std::uint32_t add) {
    acc = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc) + add);
}

// The value at the 32.32 position, linearly interpolated, times 64.
inline std::int64_t Interpolated(const std::int16_t* d, std::int64_t pos) {
    const std::int64_t i = pos >> 32;
    const std::int32_t s0 = d[i];
    const std::int32_t s1 = d[i + 1];
    const std::int64_t t = static_cast<std::uint32_t>(pos) >> 1;
    return 64 * std::int64_t{s0} + ((std::int64_t{s1 - s0} * t) >> 25);
}

template <bool Ramp> void MixFrames(MixSpan& span) {
    const std::int16_t* d = span.values;
    std::int64_t pos = span.position;
    const std::int64_t step = span.step;
    std::int32_t* out = span.out;
    std::int32_t left = span.left;
    std::int32_t right = span.right;
    const std::int32_t incL = span.leftIncrement;
    const std::int32_t incR = span.rightIncrement;
    for (int j = 0; j < span.frames; ++j) {
        const std::int64_t x = Interpolated(d, pos);
        Accumulate(out[2 * j], Scaled(x * left));
        Accumulate(out[2 * j + 1], Scaled(x * right));
        if constexpr (Ramp) {
            left += incL;
            right += incR;
        }
        pos += step;
    }
    span.position = pos;
    span.left = left;
    span.right = right;
}

// Constant and equal volumes on both sides (a centred voice between ramps): one product
// serves both.
void MixFramesCentred(MixSpan& span) {
    const std::int16_t* d = span.values;
    std::int64_t pos = span.position;
    const std::int64_t step = span.step;
    std::int32_t* out = span.out;
    const std::int32_t volume = span.left;
    for (int j = 0; j < span.frames; ++j) {
        const std::uint32_t add = Scaled(Interpolated(d, pos) * volume);
        Accumulate(out[2 * j], add);
        Accumulate(out[2 * j + 1], add);
        pos += step;
    }
    span.position = pos;
}

void ApplyLoopRule(Voice& v, std::int64_t& pos) {
    const SampleRecord& s = *v.sample;
    const std::int64_t ls = s.loopStart;
    const std::int64_t le = s.LoopEnd();
    const std::int64_t ll = s.loopLength;
    switch (s.loopType) {
    case LoopForward: {
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
        break;
    }
    case LoopPingPong: {
        // The integer mirror 2 * end - 1 - position with the fraction reflected too: an exact
        // reflection, so a position exactly on a sample point lands on its mirror image, one
        // sample further than the integer mirror. The frames to a limit are counted in steps
        // of 32 units, so a run may stop up to 31 units short of it; such a position turns on
        // the limit. At the loop end that is the integer mirror's own result (the last value
        // of the loop mirrors to the loop end); at the loop start the mirror would give the
        // value before the loop, which no further mirror brings back inside, and reflecting
        // exactly would carry the position past the same limit again: the voice would turn
        // there forever.
        const std::int64_t S = ls << 32;
        const std::int64_t L = le << 32;
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
        break;
    }
    default:
        v.sample = nullptr;
        pos = 0;
        break;
    }
}

void MixVoice(Voice& v, std::int32_t* out, int count, MixKernel kernel) {
    for (;;) {
        const SampleRecord& s = *v.sample;
        const std::int16_t* d = s.Values();
        std::int64_t pos = static_cast<std::int64_t>(std::uint64_t{v.position} << 32 | v.fraction);
        const std::uint32_t le = s.LoopEnd();
        const std::uint32_t limit =
            v.direction == 0 ? (v.position < le ? le : s.length) : s.loopStart;
        const std::int64_t limitPos = std::int64_t{limit} << 32;
        const std::int64_t distance = v.direction == 0 ? limitPos - pos : pos - limitPos;
        if (distance < 0) {
            return;
        }
        std::uint64_t step = std::uint64_t{v.stepInteger} << 32 | v.stepFraction;
        if (static_cast<std::uint32_t>(step >> 5) == 0) {
            v.stepFraction = kSlowStepFraction;
            step = std::uint64_t{v.stepInteger} << 32 | v.stepFraction;
        }
        // The divisor keeps all its bits: cut to 32 bits, a step of 32 samples per frame or
        // more (an Amiga period below 10, which a portamento up reaches) would make the voice
        // run past the end of its data. Below that step it is the 64-by-32-bit division.
        const std::uint64_t divisor = step >> 5;
        const std::uint64_t scaled = static_cast<std::uint64_t>(distance) >> 5;
        const auto frames = static_cast<std::uint64_t>(count);
        std::uint64_t k;
        // count is at most a block, so below this bound divisor * frames cannot overflow.
        constexpr std::uint64_t kNoOverflow = UINT64_MAX / kBlockFrames;
        if (divisor <= kNoOverflow && scaled > divisor * frames) {
            k = frames + 1; // the limit lies beyond this run: no division needed
        } else {
            k = (scaled + divisor - 1) / divisor;
        }
        bool beyond = false;
        if (k != 0) {
            beyond = k > static_cast<std::uint64_t>(count);
            int run = beyond ? count : static_cast<int>(k);
            const std::uint32_t targets = static_cast<std::uint32_t>(v.leftTarget) << 16 |
                                          static_cast<std::uint32_t>(v.rightTarget);
            if (v.rampCounter == 0 || targets != v.rampTargets) {
                v.rampTargets = targets;
                v.rightIncrement = (128 * v.rightTarget - v.rightVolume) >> 7;
                v.leftIncrement = (128 * v.leftTarget - v.leftVolume) >> 7;
                v.rampCounter = (v.rightIncrement != 0 || v.leftIncrement != 0) ? kRampFrames : 0;
            }
            bool cut = false;
            if (v.rampCounter != 0 && run > v.rampCounter) {
                run = v.rampCounter;
                cut = true;
            }
            const auto sstep = static_cast<std::int64_t>(step);
            if (v.rampCounter == 0 && v.leftVolume == 0 && v.rightVolume == 0) {
                // A silent voice adds exact zeros: only its position moves.
                pos += v.direction ? -sstep * run : sstep * run;
            } else {
                // Outside a ramp both increments are 0.
                MixSpan span{.values = d,
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
                pos = span.position;
                v.leftVolume = span.left;
                v.rightVolume = span.right;
            }
            out += 2 * run;
            count -= run;
            v.position = static_cast<std::uint32_t>(static_cast<std::uint64_t>(pos) >> 32);
            v.fraction = static_cast<std::uint32_t>(pos);
            if (v.rampCounter != 0) {
                v.rampCounter = static_cast<std::uint16_t>(v.rampCounter - run);
                if (v.rampCounter == 0) {
                    v.rightIncrement = 0;
                    v.leftIncrement = 0;
                }
            }
            // A run meant to stop short of the limit counted its frames on steps cut by 5
            // bits, so it may have carried the position up to 31 units per frame (less than
            // one step) past the limit. That position has reached it: the next run would
            // find a negative distance and never move the voice again, or take a position
            // at or just past a loop end for one in the sample's tail and play on to its end.
            if (beyond || cut) {
                const bool overran = v.direction == 0
                                         ? pos > limitPos || (pos == limitPos && limit != s.length)
                                         : pos < limitPos;
                if (!overran) {
                    if (cut) {
                        continue; // the ramp ended inside the run: go on at the new volume
                    }
                    return;
                }
            }
        }
        ApplyLoopRule(v, pos);
        v.position = static_cast<std::uint32_t>(static_cast<std::uint64_t>(pos) >> 32);
        v.fraction = static_cast<std::uint32_t>(pos);
        if (!v.sample || count == 0) {
            return;
        }
    }
}

} // namespace

void MixSpanScalar(MixSpan& span) {
    if (span.leftIncrement != 0 || span.rightIncrement != 0) {
        MixFrames<true>(span);
    } else if (span.left == span.right) {
        MixFramesCentred(span);
    } else {
        MixFrames<false>(span);
    }
}

bool MixPathAvailable(MixPath path) {
#ifdef ITR_MIX_X86
    __builtin_cpu_init(); // done at start-up already, unless a static constructor asks first
#endif
    switch (path) {
    case MixPath::Best:
    case MixPath::Scalar:
        return true;
#ifdef ITR_MIX_X86
    case MixPath::Sse2:
        // Every x86-64 CPU; 32-bit builds need one that runs current Windows or better.
        return __builtin_cpu_supports("sse2");
    case MixPath::Avx2:
        return __builtin_cpu_supports("avx2"); // also asks whether the OS saves the registers
    case MixPath::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq");
#endif
    default:
        return false;
    }
}

MixPath ResolveMixPath(MixPath path) {
    if (path != MixPath::Best) {
        return path;
    }
    static const MixPath best = MixPathAvailable(MixPath::Avx512) ? MixPath::Avx512
                                : MixPathAvailable(MixPath::Avx2) ? MixPath::Avx2
                                : MixPathAvailable(MixPath::Sse2) ? MixPath::Sse2
                                                                  : MixPath::Scalar;
    return best;
}

const char* MixPathName(MixPath path) {
    switch (path) {
    case MixPath::Best:
        return "best";
    case MixPath::Scalar:
        return "scalar";
    case MixPath::Sse2:
        return "sse2";
    case MixPath::Avx2:
        return "avx2";
    case MixPath::Avx512:
        return "avx512";
    }
    return "?";
}

const MixKernels* KernelsFor(MixPath path) {
    static constexpr MixKernels kScalar{MixSpanScalar, ConvertScalar};
#ifdef ITR_MIX_X86
    static constexpr MixKernels kSse2{MixSpanSse2, ConvertSse2};
    static constexpr MixKernels kAvx2{MixSpanAvx2, ConvertAvx2};
    static constexpr MixKernels kAvx512{MixSpanAvx512, ConvertAvx512};
#endif
    path = ResolveMixPath(path);
    if (!MixPathAvailable(path)) {
        return nullptr;
    }
    switch (path) {
#ifdef ITR_MIX_X86
    case MixPath::Sse2:
        return &kSse2;
    case MixPath::Avx2:
        return &kAvx2;
    case MixPath::Avx512:
        return &kAvx512;
#endif
    default:
        return &kScalar;
    }
}

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
