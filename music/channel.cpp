// Per-channel pitch, volume and envelopes: turns a channel's state into its voice's
// volumes, panning and step once per tick.
#include "music/channel.h"

#include <cstdlib>

#include "music/engine.h"
#include "music/mixer.h"
#include "music/wrap.h"

namespace music {

namespace {

constexpr int kHalfSine[32] = {0,   12,  25,  37,  49,  60,  71,  81,  90,  98,  106,
                               112, 117, 122, 125, 126, 127, 126, 125, 122, 117, 112,
                               106, 98,  90,  81,  71,  60,  49,  37,  25,  12};
constexpr int kQuarterSine[65] = {
    0,  2,  3,  5,  6,  8,  9,  11, 12, 14, 16, 17, 19, 20, 22, 23, 24, 26, 27, 29, 30, 32,
    33, 34, 36, 37, 38, 39, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56,
    56, 57, 58, 59, 59, 60, 60, 61, 61, 62, 62, 62, 63, 63, 63, 64, 64, 64, 64, 64, 64};

constexpr std::uint32_t kMinFrequency = 40;
constexpr std::int32_t kLinearC4Period = 4608;
constexpr int kPeriodsPerOctave = 768;
constexpr std::uint32_t kC4Rate = 8363;
constexpr std::uint32_t kAmigaClock = 14317456;
constexpr std::int64_t kMaxScaledVolume = 64 * 64 * 255;

// 2^x for 0 <= x < 1, evaluated by the compiler with the same IEEE operations on every
// target, so every build derives bit-identical tables from it.
constexpr double Exp2Fraction(double x) {
    const double y = x * 0.69314718055994530942;
    double sum = 1.0;
    double term = 1.0;
    for (int n = 1; n < 40; ++n) {
        term = term * y / n;
        sum += term;
    }
    return sum;
}

// 8363 * 2^(i/768) in 32.32 fixed point.
struct LinearTable {
    std::uint64_t v[kPeriodsPerOctave];
    constexpr LinearTable() : v() {
        for (int i = 0; i < kPeriodsPerOctave; ++i) {
            v[i] = static_cast<std::uint64_t>(
                kC4Rate * 4294967296.0 * Exp2Fraction(i / double(kPeriodsPerOctave)) + 0.5);
        }
    }
};
constexpr LinearTable kLinear;

// 13.375 * 2^(j/12) in 32.32 fixed point.
struct AmigaTable {
    std::uint64_t v[12];
    constexpr AmigaTable() : v() {
        for (int j = 0; j < 12; ++j) {
            v[j] = static_cast<std::uint64_t>(13.375 * 4294967296.0 * Exp2Fraction(j / 12.0) + 0.5);
        }
    }
};
constexpr AmigaTable kAmiga;

// round(fixed * 2^shift / 2^32) for a positive 32.32 value.
std::uint64_t RoundScaled(std::uint64_t fixed, int shift) {
    int s = 32 - shift;
    if (s <= 0) {
        return fixed << (-s > 20 ? 20 : -s); // far beyond any audible frequency
    }
    if (s >= 63) {
        return 0;
    }
    return (fixed + (std::uint64_t{1} << (s - 1))) >> s;
}

int FloorDiv(int a, int b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::int32_t ClampRange(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return static_cast<std::int32_t>(v < lo ? lo : v > hi ? hi : v);
}

void SetTargets(Voice& v) {
    v.rightTarget = v.finalVolume * v.finalPanning / 255;
    v.leftTarget = v.finalVolume * (255 - v.finalPanning) / 255;
}

int AutoVibratoWave(int type, int q) {
    switch (type) {
    case 0: {
        int i = q % 128;
        if (i > 64) {
            i = 128 - i;
        }
        return q >= 128 ? -kQuarterSine[i] : kQuarterSine[i];
    }
    case 1:
        return q < 128 ? 64 : -64;
    case 2:
        return (128 - ((q - 128) & 255)) >> 1;
    default:
        return (128 - ((128 - q) & 255)) >> 1;
    }
}

// One envelope of a channel: its state on the channel and its points on the instrument.
struct EnvelopeOfChannel {
    EnvelopeState& state;
    std::uint8_t& ended;
    std::int32_t& value;  // 16.16
    std::int32_t& output; // value's whole part
    const EnvelopePoint* points;
    int count, sustain, loopStart, loopEnd, type;
};

EnvelopeOfChannel EnvelopeOf(ChannelState& c, Envelope which, const InstrumentRecord& ins) {
    if (which == Envelope::Volume) {
        return {c.volumeEnv,        c.volumeEnvEnded, c.volumeEnvValue,  c.envelopeVolume,
                ins.volumeEnvelope, ins.volumePoints, ins.volumeSustain, ins.volumeLoopStart,
                ins.volumeLoopEnd,  ins.volumeType};
    }
    return {c.panningEnv,        c.panningEnvEnded, c.panningEnvValue,  c.envelopePanning,
            ins.panningEnvelope, ins.panningPoints, ins.panningSustain, ins.panningLoopStart,
            ins.panningLoopEnd,  ins.panningType};
}

// The segment from the point reached to the next one: the value at that point and the slope
// per tick toward the next.
void StartSegment(EnvelopeOfChannel& env) {
    EnvelopeState& e = env.state;
    const EnvelopePoint& here = env.points[e.index];
    env.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(here.y) << 16);
    e.index += 1;
    const EnvelopePoint& next = env.points[e.index];
    const int dx = next.x - here.x;
    e.slope =
        dx == 0
            ? 0
            : static_cast<std::int32_t>((static_cast<std::int64_t>(next.y - here.y) * 65536) / dx);
}

} // namespace

std::int32_t AmigaPeriod(int m) {
    int k = 132 - m;
    int octave = FloorDiv(k, 12);
    int j = k - octave * 12;
    return static_cast<std::int32_t>(RoundScaled(kAmiga.v[j], octave));
}

std::int32_t NotePeriod(bool linear, int n, int f) {
    if (linear) {
        return 7680 - 64 * n - f / 2;
    }
    int d = f >= 0 ? 1 : -1;
    std::int32_t p = AmigaPeriod(n);
    return p + (std::abs(f) * (AmigaPeriod(n + d) - p)) / 128;
}

std::uint32_t Frequency(bool linear, std::int32_t period, std::int32_t periodDelta) {
    std::int64_t q = std::int64_t{period} + periodDelta;
    if (q <= 0) {
        return kMinFrequency;
    }
    if (!linear) {
        return static_cast<std::uint32_t>(kAmigaClock / q);
    }
    std::int64_t e = kLinearC4Period - std::int64_t{period} + periodDelta;
    if (e < -kPeriodsPerOctave * 64) {
        return 0;
    }
    if (e > kPeriodsPerOctave * 16) {
        e = kPeriodsPerOctave * 16;
    }
    int ei = static_cast<int>(e);
    int octave = FloorDiv(ei, kPeriodsPerOctave);
    int r = ei - octave * kPeriodsPerOctave;
    std::uint64_t f = RoundScaled(kLinear.v[r], octave);
    return f > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(f);
}

void StepFromFrequency(std::uint32_t frequency, std::uint32_t& integer, std::uint32_t& fraction) {
    integer = frequency / kOutputRate;
    fraction =
        static_cast<std::uint32_t>((std::uint64_t{frequency % kOutputRate} << 32) / kOutputRate);
}

int Oscillate(std::uint8_t& position, int speed, int depth, int waveform) {
    const int p = position & 63;
    int wave;
    switch (waveform & 3) {
    case 0:
        wave = p >= 32 ? -kHalfSine[p % 32] : kHalfSine[p % 32];
        break;
    case 1:
        // Falling sawtooth over the 64 positions, +127 down to -127.
        wave = 127 - (254 * p) / 63;
        break;
    default:
        wave = p < 32 ? 127 : -127;
        break;
    }
    position = static_cast<std::uint8_t>((p + speed) & 63);
    return (wave * depth) >> 5;
}

void ApplyVibrato(ChannelState& c) {
    c.periodDelta =
        Oscillate(c.vibratoPosition, c.vibratoSpeed, c.vibratoDepth, c.waveControl & 0x0F) >> 1;
    c.flags |= UpdateFrequency;
}

void ApplyTremolo(ChannelState& c) {
    c.volumeDelta =
        Oscillate(c.tremoloPosition, c.tremoloSpeed, c.tremoloDepth, c.waveControl >> 4);
    c.flags |= UpdateVolume;
}

void ResetOscillators(ChannelState& c) {
    if ((c.waveControl & 0x0C) == 0) {
        c.vibratoPosition = 0;
    }
    if (static_cast<std::int8_t>(c.waveControl) < 0x4F) {
        c.tremoloPosition = 0;
    }
}

void StepEnvelope(ChannelState& c, Envelope which, const InstrumentRecord& ins) {
    EnvelopeOfChannel env = EnvelopeOf(c, which, ins);
    EnvelopeState& e = env.state;
    c.flags |= which == Envelope::Volume ? UpdateVolume : UpdatePanning;
    if (env.ended) {
        return;
    }
    if (e.index >= env.count || e.index < 0) {
        env.output = env.value >> 16;
        e.tick = WrapAdd(e.tick, 1);
        return;
    }
    if (e.tick != env.points[e.index].x) {
        env.value = WrapAdd(env.value, e.slope);
        e.tick = WrapAdd(e.tick, 1);
        env.output = env.value >> 16;
        return;
    }
    if ((env.type & EnvLoop) && e.index == env.loopEnd) {
        e.index = env.loopStart;
        e.tick = env.points[e.index].x;
    }
    env.output = env.points[e.index].y;
    if (e.index == env.count - 1) {
        env.ended = 1;
        return;
    }
    if ((env.type & EnvSustain) && e.index == env.sustain && !c.keyReleased) {
        return;
    }
    StartSegment(env);
    e.tick = WrapAdd(e.tick, 1);
    env.output = env.value >> 16;
}

void ResetEnvelopes(ChannelState& c) {
    c.volumeEnv = EnvelopeState{};
    c.panningEnv = EnvelopeState{};
    c.autoVibratoSweep = 0;
    c.autoVibratoPosition = 0;
    c.keyReleased = 0;
    c.volumeEnvEnded = 0;
    c.panningEnvEnded = 0;
}

void FadeoutStep(ChannelState& c, const InstrumentRecord& ins) {
    c.fadeVolume -= ins.fadeout;
    if (c.fadeVolume < 0) {
        c.fadeVolume = 0;
    }
}

void UpdateChannel(SongState& song, ChannelState& c, SampleRecord* sample,
                   const InstrumentRecord& ins) {
    // Auto-vibrato, every tick.
    {
        const int q = c.autoVibratoPosition & 255;
        std::int64_t v = std::int64_t{ins.vibratoDepth} * AutoVibratoWave(ins.vibratoType, q);
        if (ins.vibratoSweep != 0) {
            v = (v * c.autoVibratoSweep) / ins.vibratoSweep;
        }
        c.periodDelta = WrapAdd(c.periodDelta, static_cast<std::int32_t>(v >> 6));
        c.autoVibratoSweep =
            c.autoVibratoSweep + 1 < ins.vibratoSweep ? c.autoVibratoSweep + 1 : ins.vibratoSweep;
        c.autoVibratoPosition = (q + ins.vibratoRate) & 255;
        c.flags |= UpdateFrequency;
    }
    if (c.flags & UpdateTrigger) {
        TriggerVoice(song, c, sample);
    }
    Voice& v = *c.voice;
    if (c.flags & UpdateVolume) {
        // Both factors are limited first: past these bounds the product is limited anyway.
        std::int64_t vol =
            ClampRange(std::int64_t{c.volume} + c.volumeDelta, -kMaxScaledVolume, kMaxScaledVolume);
        std::int64_t gv = ClampRange(song.globalVolume, -kMaxScaledVolume, kMaxScaledVolume);
        std::int64_t a = ClampRange(vol * 255 * gv, 0, kMaxScaledVolume);
        std::int64_t env = ClampRange(c.envelopeVolume, -kMaxScaledVolume, kMaxScaledVolume);
        std::int64_t fade = c.fadeVolume;
        std::int64_t f = (a * env * fade) >> 35;
        v.finalVolume = ClampRange(f, -0x3FFFFF, 0x3FFFFF);
        SetTargets(v);
    }
    if (c.flags & UpdatePanning) {
        std::int64_t pan = c.panning;
        std::int64_t dist = pan - 128 < 0 ? 128 - pan : pan - 128;
        std::int64_t factor = (128 - dist) >> 5;
        std::int64_t envPan = c.envelopePanning;
        std::int64_t p = pan + (envPan - 32) * factor;
        v.finalPanning = ClampRange(p, 0, 255);
        SetTargets(v);
    }
    if (c.flags & UpdateFrequency) {
        StepFromFrequency(Frequency(song.Linear(), c.period, c.periodDelta), v.stepInteger,
                          v.stepFraction);
    }
}

} // namespace music
