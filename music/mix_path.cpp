// The mixer's paths: which of them this build and CPU have (asked of the CPU at run time), the
// fastest of them, and each path's kernels.
#include "music/mix_path.h"

#include "music/mix_kernels.h"

namespace music {

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

} // namespace music
