// The library's SIMD paths and the choice between them.
//
// Every operation that has a SIMD path keeps a plain C++ version that gives
// the same bytes; the tests compare the two at every level the machine runs.
// Built with PELORA_SIMD (the default) for x86-64, the library carries:
//   - SSE2 paths, which every x86-64 processor runs;
//   - AVX2 paths, chosen at run time where the processor has AVX2.
// Built without it, or for another processor family, only the plain versions
// exist. All intrinsics live in this folder: the *_sse2.cpp and *_avx2.cpp
// files, each compiled for its instruction set, and the SSE2 helpers of
// sse2_pixels.h.
#pragma once

#include <cstdint>

namespace imaging::simd {

enum class SimdLevel : uint8_t {
    kPlain,  // no SIMD
    kSse2,
    kAvx2,
};

// True when this build carries the level's paths and the processor runs them.
bool level_available(SimdLevel level);

// The highest available level: what the library uses.
SimdLevel best_level();

// The level's name, for test and benchmark output.
const char* level_name(SimdLevel level);

}  // namespace imaging::simd
