// The mixer's frame loop sixteen frames at a time in AVX-512 registers (see mix_simd.h).
// This file alone is compiled for AVX-512 (F, BW and DQ); the mixer calls it only where the
// CPU and the OS have all three.
#include <immintrin.h>

#include "music/mix_simd.h"

#ifdef ITR_MIX_X86

namespace music {

namespace {

struct Avx512 {
    using V = __m512i;
    static constexpr int kWidth = 16;
    // unpacklo/unpackhi interleave within each 128-bit quarter: frames 0, 1, 8, 9 | 2, 3,
    // 10, 11 | ... come out as left and right of frames 0..7 and 8..15 in order.
    static constexpr int kLaneFrame[kWidth] = {0, 1, 8,  9,  2, 3, 10, 11,
                                               4, 5, 12, 13, 6, 7, 14, 15};

    static V Load(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static V Set(std::int32_t v) { return _mm512_set1_epi32(v); }
    static V Add(V a, V b) { return _mm512_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_epi32(a, b); }
    static V Sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V AndNot(V a, V b) { return _mm512_andnot_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V Broadcast0(V a) { return _mm512_broadcastd_epi32(_mm512_castsi512_si128(a)); }
    static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V Slli(V a, int n) { return _mm512_slli_epi32(a, static_cast<unsigned>(n)); }
    static V Srli(V a, int n) { return _mm512_srli_epi32(a, static_cast<unsigned>(n)); }
    static V Srai(V a, int n) { return _mm512_srai_epi32(a, static_cast<unsigned>(n)); }
    static V CmpGt(V a, V b) { return _mm512_movm_epi32(_mm512_cmpgt_epi32_mask(a, b)); }
    static V Madd(V a, V b) { return _mm512_madd_epi16(a, b); }
    static V Mul(V a, V b) { return _mm512_mullo_epi32(a, b); }
    static V Div255(V b) {
        const V magic = _mm512_set1_epi32(static_cast<std::int32_t>(2155905153u));
        const V even = _mm512_srli_epi64(_mm512_mul_epu32(b, magic), 39);
        const V odd = _mm512_srli_epi64(_mm512_mul_epu32(_mm512_srli_epi64(b, 32), magic), 7);
        return _mm512_or_si512(even, _mm512_and_si512(odd, _mm512_set1_epi64(~0xFFFFFFFFll)));
    }
    // packs works within 128-bit quarters: put the eight 64-bit pieces back in order.
    static void Store16(std::int16_t* out, V a, V b) {
        const V order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
        _mm512_storeu_si512(out, _mm512_permutexvar_epi64(order, _mm512_packs_epi32(a, b)));
    }
    // Pairs at offsets 0..31 from window: the 32-bit words at even offsets, at odd offsets,
    // each permuted into place, the odd ones chosen by the offset's low bit.
    static constexpr bool kNearLoads = true;
    static constexpr int kWindow = 32, kWideWindow = 64;
    static V PairsNear(const std::int16_t* window, V offset) {
        const V word = Srli(offset, 1);
        const V even = _mm512_permutexvar_epi32(word, _mm512_loadu_si512(window));
        const V odd = _mm512_permutexvar_epi32(word, _mm512_loadu_si512(window + 1));
        return _mm512_mask_blend_epi32(_mm512_test_epi32_mask(offset, _mm512_set1_epi32(1)), even,
                                       odd);
    }
    // Offsets 0..63: each permutation takes its word from two registers of 16.
    static V PairsNearWide(const std::int16_t* window, V offset) {
        const V word = Srli(offset, 1);
        const V even = _mm512_permutex2var_epi32(_mm512_loadu_si512(window), word,
                                                 _mm512_loadu_si512(window + 32));
        const V odd = _mm512_permutex2var_epi32(_mm512_loadu_si512(window + 1), word,
                                                _mm512_loadu_si512(window + 33));
        return _mm512_mask_blend_epi32(_mm512_test_epi32_mask(offset, _mm512_set1_epi32(1)), even,
                                       odd);
    }
    static V Pairs(const std::int16_t* values, V i) { return _mm512_i32gather_epi32(i, values, 2); }
    static void Accumulate(std::int32_t* out, V l, V r) {
        _mm512_storeu_si512(out,
                            _mm512_add_epi32(_mm512_loadu_si512(out), _mm512_unpacklo_epi32(l, r)));
        _mm512_storeu_si512(
            out + 16, _mm512_add_epi32(_mm512_loadu_si512(out + 16), _mm512_unpackhi_epi32(l, r)));
    }
};

} // namespace

void MixSpanAvx512(MixSpan& span) {
    MixSpanVector<Avx512>(span);
}

void ConvertAvx512(const std::int32_t* in, std::int16_t* out, int count) {
    ConvertVectors<Avx512>(in, out, count);
}

} // namespace music

#endif
