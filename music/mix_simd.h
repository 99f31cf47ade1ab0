// The vector frame loop of the mixer, for any register width. Each kernel file includes it
// with its own operations (a struct I below), compiled for its own instruction set; all of
// it has internal linkage, so no code built for one instruction set serves another.
//
// It gives the scalar loop's sums bit for bit, in 32-bit lanes:
// - Interpolation. The reference takes x = 64 * s0 + ((s1 - s0) * t >> 25) with a 64-bit
//   product, t = fraction >> 1 (31 bits). With t = th * 2^16 + tl (th 15 bits) and
//   tl = 2 * tl1 + tl0, nested floors give
//     x = (s0 * 2^15 + d * th + ((d * tl1 + (d * tl0 >> 1)) >> 15)) >> 9,   d = s1 - s0,
//   where every term fits 32 bits. The products come from pmaddwd on the pair (s0, s1) as
//   one 32-bit load and the weights (-w, w) as 16-bit halves.
// - Volume. With vol = 128 * vh + vl (0 <= vl < 128) and c = 64 where x * vol < 0,
//   ((p >> 6) + (p < 0)) >> 1 = (p + c) >> 7 = x * vh + ((x * vl + c) >> 7), p = x * vol.
//   |x| <= 2^21, so this fits 32 bits while |vol| <= 2^16; a span outside that range goes
//   to the scalar loop.
// - Conversion. m = (min(|v|, 534,765,599) + 8,160) / 16,320 = ((... + 8,160) >> 6) / 255,
//   and b / 255 = b * 2,155,905,153 >> 39 while b * 127 < 2^39 (the constant is 2^39 / 255
//   rounded up, 127 / 255 too large); here b < 2^23.
#pragma once

#include <cstdint>

#include "music/mix_kernels.h"

namespace music {
namespace {

constexpr std::int32_t kVectorVolumeLimit = 1 << 16;

// The frame loop. Ramp: volumes move per frame; Fine: a volume is not a multiple of 128;
// Centred: one product serves both sides. The last frames (fewer than a vector) run as a
// vector whose spare lanes read the first lane's values and add nothing.
template <class I, bool Ramp, bool Fine, bool Centred> void MixVectors(MixSpan& span) {
    using V = typename I::V;
    constexpr int W = I::kWidth;
    // Lane l holds frame I::kLaneFrame[l] of each group of W frames.
    std::int32_t index[W], fraction[W], left[W], right[W], laneFrame[W];
    for (int l = 0; l < W; ++l) {
        const std::int64_t p = span.position + span.step * I::kLaneFrame[l];
        index[l] = static_cast<std::int32_t>(p >> 32);
        // Kept with the top bit flipped: a signed compare then orders fractions unsigned.
        fraction[l] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p) ^ 0x80000000u);
        left[l] = span.left + span.leftIncrement * I::kLaneFrame[l];
        right[l] = span.right + span.rightIncrement * I::kLaneFrame[l];
        laneFrame[l] = I::kLaneFrame[l];
    }
    V i = I::Load(index);
    V f = I::Load(fraction);
    V volL = I::Load(left);
    V volR = I::Load(right);
    const std::int64_t advance = span.step * W;
    const V advanceI = I::Set(static_cast<std::int32_t>(advance >> 32));
    const V advanceF = I::Set(static_cast<std::int32_t>(static_cast<std::uint32_t>(advance)));
    const V incL = I::Set(span.leftIncrement * W);
    const V incR = I::Set(span.rightIncrement * W);
    const V bit31 = I::Set(static_cast<std::int32_t>(0x80000000u));
    const V low15 = I::Set(0x7FFF);
    const V minusPlus = I::Set(0x0001FFFF); // 16-bit weights (-1, 1): s1 - s0
    const V low7 = I::Set(127);
    const V half = I::Set(64);
    V highL = I::Srai(volL, 7), lowL = I::And(volL, low7);
    V highR = I::Srai(volR, 7), lowR = I::And(volR, low7);

    // Left and right of the W frames of the lanes' current positions.
    auto frame = [&](V pairs, V& rL, V& rR) {
        const V frac = I::Xor(f, bit31);
        const V th = I::Srli(frac, 17);
        const V a = I::Madd(pairs, I::Sub16(I::Slli(th, 16), th));
        const V tl1 = I::And(I::Srli(frac, 2), low15);
        const V b = I::Madd(pairs, I::Sub16(I::Slli(tl1, 16), tl1));
        const V d = I::Madd(pairs, minusPlus);
        const V tl0 = I::Srai(I::Slli(frac, 30), 31);
        const V bh = I::Srai(I::Add(b, I::Srai(I::And(d, tl0), 1)), 15);
        const V s0 = I::Srai(I::Slli(pairs, 16), 16);
        const V x = I::Srai(I::Add(I::Add(I::Slli(s0, 15), a), bh), 9);
        if constexpr (Ramp) {
            highL = I::Srai(volL, 7);
            lowL = I::And(volL, low7);
            highR = I::Srai(volR, 7);
            lowR = I::And(volR, low7);
        }
        rL = I::Mul(x, highL);
        if constexpr (Fine) {
            const V c = I::And(I::Srai(I::Xor(x, volL), 31), half);
            rL = I::Add(rL, I::Srai(I::Add(I::Mul(x, lowL), c), 7));
        }
        rR = rL;
        if constexpr (!Centred) {
            rR = I::Mul(x, highR);
            if constexpr (Fine) {
                const V c = I::And(I::Srai(I::Xor(x, volR), 31), half);
                rR = I::Add(rR, I::Srai(I::Add(I::Mul(x, lowR), c), 7));
            }
        }
    };

    const int vectors = span.frames / W;
    // Slow steps (below two values per frame, or four) read no more than I::kWindow values
    // per group (or I::kWideWindow): where those lie inside the readable values, loads and
    // permutations replace the gather. groupBase follows the group's lowest frame: the first
    // forward, the last backward.
    int nearGroups = 0;
    bool wide = false;
    std::int64_t groupBase = span.position + (span.step < 0 ? span.step * (W - 1) : 0);
    if constexpr (I::kNearLoads) {
        const std::int64_t magnitude = span.step < 0 ? -span.step : span.step;
        wide = magnitude >= (std::int64_t{2} << 32);
        // A window from here on would reach past the readable values.
        const std::int64_t top = (span.readable - (wide ? I::kWideWindow : I::kWindow)) << 32;
        if (magnitude < (std::int64_t{4} << 32) && groupBase < top) {
            if (span.step > 0) {
                const std::int64_t fit = (top - 1 - groupBase) / advance + 1;
                nearGroups = fit < vectors ? static_cast<int>(fit) : vectors;
            } else {
                nearGroups = vectors; // later groups lie lower
            }
        }
    }
    std::int32_t* out = span.out;
    for (int n = 0; n < vectors; ++n, out += 2 * W) {
        V pairs = i;
        if constexpr (I::kNearLoads) {
            if (n < nearGroups) {
                const auto base = static_cast<std::int32_t>(groupBase >> 32);
                const V offset = I::Sub(i, I::Set(base));
                pairs = wide ? I::PairsNearWide(span.values + base, offset)
                             : I::PairsNear(span.values + base, offset);
            } else {
                pairs = I::Pairs(span.values, i);
            }
        } else {
            pairs = I::Pairs(span.values, i);
        }
        groupBase += advance;
        V rL, rR;
        frame(pairs, rL, rR);
        I::Accumulate(out, rL, rR);
        const V next = I::Add(f, advanceF);
        i = I::Sub(I::Add(i, advanceI), I::CmpGt(f, next)); // plus the carry
        f = next;
        if constexpr (Ramp) {
            volL = I::Add(volL, incL);
            volR = I::Add(volR, incR);
        }
    }
    const int rest = span.frames - vectors * W;
    if (rest > 0) {
        const V spare = I::CmpGt(I::Load(laneFrame), I::Set(rest - 1));
        const V safe = I::Or(I::AndNot(spare, i), I::And(spare, I::Broadcast0(i)));
        V rL, rR;
        frame(I::Pairs(span.values, safe), rL, rR);
        std::int32_t sums[2 * W] = {};
        I::Accumulate(sums, rL, rR);
        for (int k = 0; k < 2 * rest; ++k) {
            out[k] = static_cast<std::int32_t>(static_cast<std::uint32_t>(out[k]) +
                                               static_cast<std::uint32_t>(sums[k]));
        }
    }
    span.position += span.step * span.frames;
    span.left += span.leftIncrement * span.frames;
    span.right += span.rightIncrement * span.frames;
}

template <class I> void MixSpanVector(MixSpan& span) {
    const std::int64_t endL = span.left + std::int64_t{span.leftIncrement} * (span.frames - 1);
    const std::int64_t endR = span.right + std::int64_t{span.rightIncrement} * (span.frames - 1);
    auto inRange = [](std::int64_t v) {
        return v >= -kVectorVolumeLimit && v <= kVectorVolumeLimit;
    };
    if (span.frames < 4 || !inRange(span.left) || !inRange(span.right) || !inRange(endL) ||
        !inRange(endR)) {
        MixSpanScalar(span); // a few frames, or volumes no real ramp reaches
    } else if (span.leftIncrement != 0 || span.rightIncrement != 0) {
        MixVectors<I, true, true, false>(span);
    } else {
        const bool fine = ((span.left | span.right) & 127) != 0;
        const bool centred = span.left == span.right;
        if (fine) {
            centred ? MixVectors<I, false, true, true>(span)
                    : MixVectors<I, false, true, false>(span);
        } else {
            centred ? MixVectors<I, false, false, true>(span)
                    : MixVectors<I, false, false, false>(span);
        }
    }
}

// ConvertSample's rule over whole pairs of vectors, the rest one by one.
template <class I> void ConvertVectors(const std::int32_t* in, std::int16_t* out, int count) {
    using V = typename I::V;
    constexpr int W = I::kWidth;
    const V limit = I::Set(534765599); // every magnitude from 534,765,600 on gives 32,767
    const V round = I::Set(8160);
    auto convert = [&](V v) {
        const V sign = I::Srai(v, 31);
        V a = I::Sub(I::Xor(v, sign), sign); // |v|, 2^31 for the most negative value
        const V over = I::Sub(limit, a);     // fits: a <= 2^31
        a = I::Add(a, I::And(over, I::Srai(over, 31)));
        const V m = I::Div255(I::Srli(I::Add(a, round), 6));
        return I::Sub(I::Xor(m, sign), sign);
    };
    int n = 0;
    for (; n + 2 * W <= count; n += 2 * W) {
        I::Store16(out + n, convert(I::Load(in + n)), convert(I::Load(in + n + W)));
    }
    ConvertScalar(in + n, out + n, count - n);
}

} // namespace
} // namespace music
