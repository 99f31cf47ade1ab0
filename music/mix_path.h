// How the mixer runs its frame loops: the paths, which of them this build and CPU have, and
// each path's kernels.
#pragma once

#include <cstdint>

namespace music {

// Every path gives the same samples bit for bit.
enum class MixPath : std::uint8_t {
    Best = 0, // the fastest this CPU has
    Scalar,   // the plain reference loop
    Sse2,     // x86 with SSE2 (every x86-64 CPU)
    Avx2,     // x86 with AVX2, where the CPU and the OS have it
    Avx512,   // x86 with AVX-512 F, BW and DQ, where the CPU and the OS have them
};

// Whether this build and CPU can run the path (Best and Scalar always can).
bool MixPathAvailable(MixPath path);
// The path Best stands for here, or the path itself.
MixPath ResolveMixPath(MixPath path);
const char* MixPathName(MixPath path);

struct MixKernels; // mix_kernels.h
// The kernels of a path, or null when this build or this CPU has none.
const MixKernels* KernelsFor(MixPath path);

} // namespace music
