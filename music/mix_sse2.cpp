// The mixer's frame loop four frames at a time in SSE2 registers (see mix_simd.h).
#include <emmintrin.h>

#include <cstring>

#include "music/mix_simd.h"

#ifdef ITR_MIX_X86

namespace music {

namespace {

struct Sse2 {
    using V = __m128i;
    static constexpr int kWidth = 4;
    static constexpr int kLaneFrame[kWidth] = {0, 1, 2, 3};

    static V Load(const std::int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static V Set(std::int32_t v) { return _mm_set1_epi32(v); }
    static V Add(V a, V b) { return _mm_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi32(a, b); }
    static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V Broadcast0(V a) { return _mm_shuffle_epi32(a, 0); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V Slli(V a, int n) { return _mm_slli_epi32(a, n); }
    static V Srli(V a, int n) { return _mm_srli_epi32(a, n); }
    static V Srai(V a, int n) { return _mm_srai_epi32(a, n); }
    static V CmpGt(V a, V b) { return _mm_cmpgt_epi32(a, b); }
    static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    // The low 32 bits of each product: two unsigned 32 x 32 -> 64 products, lanes 0 and 2,
    // then 1 and 3 (the low half of a product does not depend on the signs).
    static V Mul(V a, V b) {
        const V even = _mm_mul_epu32(a, b);
        const V odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    }
    // b * 2,155,905,153 >> 39 in each lane: products of lanes 0 and 2, then 1 and 3.
    static V Div255(V b) {
        const V magic = _mm_set1_epi32(static_cast<std::int32_t>(2155905153u));
        const V even = _mm_srli_epi64(_mm_mul_epu32(b, magic), 39);
        const V odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(b, 32), magic), 7);
        return _mm_or_si128(even, _mm_and_si128(odd, _mm_set1_epi64x(~0xFFFFFFFFll)));
    }
    static void Store16(std::int16_t* out, V a, V b) {
        _mm_storeu_si128(reinterpret_cast<V*>(out), _mm_packs_epi32(a, b));
    }
    static constexpr bool kNearLoads = false; // no permutation across the register
    // (values[i], values[i + 1]) of each lane as one 32-bit word, s0 in the low half.
    static V Pairs(const std::int16_t* values, V i) {
        std::int32_t at[kWidth];
        _mm_storeu_si128(reinterpret_cast<V*>(at), i);
        std::int32_t w[kWidth];
        for (int l = 0; l < kWidth; ++l) {
            std::memcpy(&w[l], values + at[l], sizeof w[l]);
        }
        return _mm_setr_epi32(w[0], w[1], w[2], w[3]);
    }
    // Frames 0..3 left and right into out[0..7].
    static void Accumulate(std::int32_t* out, V l, V r) {
        V* o = reinterpret_cast<V*>(out);
        _mm_storeu_si128(o, _mm_add_epi32(_mm_loadu_si128(o), _mm_unpacklo_epi32(l, r)));
        _mm_storeu_si128(o + 1, _mm_add_epi32(_mm_loadu_si128(o + 1), _mm_unpackhi_epi32(l, r)));
    }
};

} // namespace

void MixSpanSse2(MixSpan& span) {
    MixSpanVector<Sse2>(span);
}

void ConvertSse2(const std::int32_t* in, std::int16_t* out, int count) {
    ConvertVectors<Sse2>(in, out, count);
}

} // namespace music

#endif
