// The mixer: every voice with a sample adds itself into the mix buffer with linear
// interpolation, a 128-frame volume ramp and its loop, in 32.32 fixed point.
#include "music/engine.h"

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

template <bool Backward, bool Ramp>
std::int64_t MixFrames(const std::int16_t* d, std::int64_t pos, std::int64_t step,
                       std::int32_t* out, int run, Voice& v) {
    std::int32_t left = v.leftVolume;
    std::int32_t right = v.rightVolume;
    const std::int32_t incL = v.leftIncrement;
    const std::int32_t incR = v.rightIncrement;
    for (int j = 0; j < run; ++j) {
        const std::int64_t i = pos >> 32;
        const std::int32_t s0 = d[i];
        const std::int32_t s1 = d[i + 1];
        const std::int64_t t = static_cast<std::uint32_t>(pos) >> 1;
        const std::int64_t x = 64 * std::int64_t{s0} + ((std::int64_t{s1 - s0} * t) >> 25);
        Accumulate(out[2 * j], Scaled(x * left));
        Accumulate(out[2 * j + 1], Scaled(x * right));
        if constexpr (Ramp) {
            left += incL;
            right += incR;
        }
        if constexpr (Backward) {
            pos -= step;
        } else {
            pos += step;
        }
    }
    v.leftVolume = left;
    v.rightVolume = right;
    return pos;
}

// Constant and equal volumes on both sides (a centred voice between ramps): one product
// serves both.
template <bool Backward>
std::int64_t MixFramesCentred(const std::int16_t* d, std::int64_t pos, std::int64_t step,
                              std::int32_t* out, int run, std::int32_t volume) {
    for (int j = 0; j < run; ++j) {
        const std::int64_t i = pos >> 32;
        const std::int32_t s0 = d[i];
        const std::int32_t s1 = d[i + 1];
        const std::int64_t t = static_cast<std::uint32_t>(pos) >> 1;
        const std::int64_t x = 64 * std::int64_t{s0} + ((std::int64_t{s1 - s0} * t) >> 25);
        const std::uint32_t add = Scaled(x * volume);
        Accumulate(out[2 * j], add);
        Accumulate(out[2 * j + 1], add);
        if constexpr (Backward) {
            pos -= step;
        } else {
            pos += step;
        }
    }
    return pos;
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
        // reflection, so a position exactly on a sample point lands on its mirror image. The
        // frames to a limit are counted in steps of 32 units, so a run may stop up to 31 units
        // short of it; such a position turns as if it stood on the limit, since reflecting it
        // exactly would carry it past the same limit again and the voice would never move on.
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

void MixVoice(Voice& v, std::int32_t* out, int count) {
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
        // more would make the voice run past the end of its data.
        const std::uint64_t divisor = step >> 5;
        const std::uint64_t scaled = static_cast<std::uint64_t>(distance) >> 5;
        const auto frames = static_cast<std::uint64_t>(count);
        std::uint64_t k;
        if (divisor <= UINT64_MAX / frames && scaled > divisor * frames) {
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
            if (v.rampCounter != 0) {
                pos = v.direction ? MixFrames<true, true>(d, pos, sstep, out, run, v)
                                  : MixFrames<false, true>(d, pos, sstep, out, run, v);
            } else if (v.leftVolume == 0 && v.rightVolume == 0) {
                // A silent voice adds exact zeros: only its position moves.
                pos += v.direction ? -sstep * run : sstep * run;
            } else if (v.leftVolume == v.rightVolume) {
                pos = v.direction ? MixFramesCentred<true>(d, pos, sstep, out, run, v.leftVolume)
                                  : MixFramesCentred<false>(d, pos, sstep, out, run, v.leftVolume);
            } else {
                pos = v.direction ? MixFrames<true, false>(d, pos, sstep, out, run, v)
                                  : MixFrames<false, false>(d, pos, sstep, out, run, v);
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

void MixRun(Engine& engine, int frames, int writeFrame) {
    SongState& song = engine.song;
    std::int32_t* out = engine.mixBuffer + 2 * writeFrame;
    for (Voice* v = song.voices; v != reinterpret_cast<Voice*>(song.channels); ++v) {
        if (v->sample) {
            MixVoice(*v, out, frames);
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
