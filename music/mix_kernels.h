// The mixer's frame loops: one scalar reference (mix_scalar.cpp) and vector versions of it
// (mix_sse2.cpp, mix_avx2.cpp, mix_avx512.cpp) that give the same sums bit for bit. Internal to
// the engine; the tests call the kernels directly.
#pragma once

#include <cstdint>

#include "music/mix_path.h"

namespace music {

// One stretch of a voice between two limits (loop end, ramp end, end of the run).
struct MixSpan {
    const std::int16_t* values; // the sample's values (index 0 is its first)
    std::int64_t readable;      // values[-1] to values[readable - 1] may be read
    std::int64_t position;      // 32.32, moved on by the kernel
    std::int64_t step;          // 32.32 per frame; negative moves backward
    std::int32_t* out;          // left, right, left, ... accumulators
    int frames;
    std::int32_t left, right; // current volumes in 1/128 units, moved on by the kernel
    std::int32_t leftIncrement, rightIncrement; // per frame; both 0 outside a ramp
};

// Adds the span's frames into out and moves the position and the volumes on.
using MixKernel = void (*)(MixSpan& span);
// Converts count accumulators to 16-bit samples (ConvertSample's rule).
using ConvertKernel = void (*)(const std::int32_t* in, std::int16_t* out, int count);

// The frame loop exactly as the mixer's arithmetic states it, 64-bit products and all.
void MixSpanScalar(MixSpan& span);
// One accumulator to a 16-bit sample: the rule every conversion kernel follows.
std::int16_t ConvertSample(std::int32_t mixed);
void ConvertScalar(const std::int32_t* in, std::int16_t* out, int count);

#if defined(__x86_64__) || defined(__i386__)
#define ITR_MIX_X86 1
// Four frames at a time in SSE2 registers; needs an x86 CPU with SSE2.
void MixSpanSse2(MixSpan& span);
void ConvertSse2(const std::int32_t* in, std::int16_t* out, int count);
// Eight frames at a time in AVX2 registers; needs a CPU (and OS) with AVX2.
void MixSpanAvx2(MixSpan& span);
void ConvertAvx2(const std::int32_t* in, std::int16_t* out, int count);
// Sixteen frames at a time in AVX-512 registers; needs AVX-512 F, BW and DQ (CPU and OS).
void MixSpanAvx512(MixSpan& span);
void ConvertAvx512(const std::int32_t* in, std::int16_t* out, int count);
#endif

// A path's kernels (KernelsFor in mix_path.h).
struct MixKernels {
    MixKernel mix;
    ConvertKernel convert;
};

} // namespace music
