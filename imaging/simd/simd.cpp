// The processor's SIMD features, found once (see simd.h).

#include "imaging/simd/simd.h"

namespace imaging::simd {

namespace {

bool processor_has_avx2() {
#if PELORA_SIMD_X86
    // Also checks that the operating system saves the AVX registers.
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

bool level_available(SimdLevel level) {
    switch (level) {
        case SimdLevel::kPlain:
            return true;
        case SimdLevel::kSse2:
            return PELORA_SIMD_X86 != 0;
        case SimdLevel::kAvx2: {
            static const bool avx2 = processor_has_avx2();
            return avx2;
        }
    }
    return false;
}

SimdLevel best_level() {
    static const SimdLevel best = level_available(SimdLevel::kAvx2)   ? SimdLevel::kAvx2
                                  : level_available(SimdLevel::kSse2) ? SimdLevel::kSse2
                                                                      : SimdLevel::kPlain;
    return best;
}

const char* level_name(SimdLevel level) {
    switch (level) {
        case SimdLevel::kPlain:
            return "plain";
        case SimdLevel::kSse2:
            return "SSE2";
        case SimdLevel::kAvx2:
            return "AVX2";
    }
    return "?";
}

}  // namespace imaging::simd
