// The mixer's frame loop eight frames at a time in AVX2 registers (see mix_simd.h). This
// file alone is compiled for AVX2; the mixer calls it only where the CPU has it.
#include <immintrin.h>

#include "music/mix_simd.h"

#ifdef ITR_MIX_X86

namespace music {

namespace {

struct Avx2 {
    using V = __m256i;
    static constexpr int kWidth = 8;
    // unpacklo/unpackhi interleave within each 128-bit half: frames 0, 1, 4, 5 | 2, 3, 6, 7
    // come out as left and right of frames 0..3 and 4..7 in order.
    static constexpr int kLaneFrame[kWidth] = {0, 1, 4, 5, 2, 3, 6, 7};

    static V Load(const std::int32_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
    }
    static V Set(std::int32_t v) { return _mm256_set1_epi32(v); }
    static V Add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Broadcast0(V a) { return _mm256_broadcastd_epi32(_mm256_castsi256_si128(a)); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V Slli(V a, int n) { return _mm256_slli_epi32(a, n); }
    static V Srli(V a, int n) { return _mm256_srli_epi32(a, n); }
    static V Srai(V a, int n) { return _mm256_srai_epi32(a, n); }
    static V CmpGt(V a, V b) { return _mm256_cmpgt_epi32(a, b); }
    static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Mul(V a, V b) { return _mm256_mullo_epi32(a, b); }
    static V Div255(V b) {
        const V magic = _mm256_set1_epi32(static_cast<std::int32_t>(2155905153u));
        const V even = _mm256_srli_epi64(_mm256_mul_epu32(b, magic), 39);
        const V odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(b, 32), magic), 7);
        return _mm256_or_si256(even, _mm256_and_si256(odd, _mm256_set1_epi64x(~0xFFFFFFFFll)));
    }
    // packs works within 128-bit halves: put the four 64-bit quarters back in order.
    static void Store16(std::int16_t* out, V a, V b) {
        _mm256_storeu_si256(reinterpret_cast<V*>(out),
                            _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8));
    }
    // Pairs at offsets 0..15 from window: the 32-bit words at even offsets, at odd offsets,
    // each permuted into place, the odd ones chosen by the offset's low bit.
    static constexpr bool kNearLoads = true;
    static constexpr int kWindow = 16, kWideWindow = 32;
    static V PairsNear(const std::int16_t* window, V offset) {
        const V even = _mm256_loadu_si256(reinterpret_cast<const V*>(window));
        const V odd = _mm256_loadu_si256(reinterpret_cast<const V*>(window + 1));
        const V word = _mm256_srli_epi32(offset, 1);
        const __m256 a = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(even, word));
        const __m256 b = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(odd, word));
        return _mm256_castps_si256(
            _mm256_blendv_ps(a, b, _mm256_castsi256_ps(_mm256_slli_epi32(offset, 31))));
    }
    // The same for offsets 0..31: two windows of 16, the second chosen by the offset's bit 4
    // (the permutation reads only the low three bits of each index).
    static V PairsNearWide(const std::int16_t* window, V offset) {
        const __m256 low = _mm256_castsi256_ps(PairsNear(window, offset));
        const __m256 high = _mm256_castsi256_ps(PairsNear(window + 16, offset));
        return _mm256_castps_si256(
            _mm256_blendv_ps(low, high, _mm256_castsi256_ps(_mm256_slli_epi32(offset, 27))));
    }
    static V Pairs(const std::int16_t* values, V i) {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(values), i, 2);
    }
    static void Accumulate(std::int32_t* out, V l, V r) {
        V* o = reinterpret_cast<V*>(out);
        _mm256_storeu_si256(o,
                            _mm256_add_epi32(_mm256_loadu_si256(o), _mm256_unpacklo_epi32(l, r)));
        _mm256_storeu_si256(
            o + 1, _mm256_add_epi32(_mm256_loadu_si256(o + 1), _mm256_unpackhi_epi32(l, r)));
    }
};

} // namespace

void MixSpanAvx2(MixSpan& span) {
    MixSpanVector<Avx2>(span);
}

void ConvertAvx2(const std::int32_t* in, std::int16_t* out, int count) {
    ConvertVectors<Avx2>(in, out, count);
}

} // namespace music

#endif
