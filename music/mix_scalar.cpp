// The mixer's reference kernels: the frame loop and the conversion to 16-bit samples exactly
// as the mixer's arithmetic states them, one value at a time. The vector kernels give the same
// results bit for bit.
#include "music/mix_kernels.h"

namespace music {

namespace {

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

std::int16_t ConvertSample(std::int32_t v) {
    // |v| / 16320 rounded half up (one division), limited to 32,767, with the sign of v.
    const std::uint32_t a =
        v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    const std::uint32_t limited = a < 534765600u ? a : 534765600u;
    std::uint32_t m = (limited + 8160) / 16320;
    m = m < 32767 ? m : 32767;
    const std::int32_t s = static_cast<std::int32_t>(m);
    return static_cast<std::int16_t>(v < 0 ? -s : s);
}

void ConvertScalar(const std::int32_t* in, std::int16_t* out, int count) {
    for (int i = 0; i < count; ++i) {
        out[i] = ConvertSample(in[i]);
    }
}

} // namespace music
