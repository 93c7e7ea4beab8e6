// Small byte kernels over rows of pixels, each with a plain version and an
// SSE2 path (see simd.h): the PCX reader's run finder and plane interleaving,
// and the picture writers' swap of blue and red, which also has an AVX2 path
// (a byte shuffle).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/simd/simd.h"

namespace imaging::simd {

struct ByteRowKernels {
    // Bit i set where byte i of the 64 at block is above threshold.
    uint64_t (*bytes_above)(const uint8_t* block, uint8_t threshold);
    // n pixels of three planes as blue, green, red bytes: 3 n bytes at out.
    void (*planes_to_bgr)(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                          uint8_t* out, uint32_t n);
    // n pixels of three bytes with the first and third swapped (blue, green,
    // red to red, green, blue and back): 3 n bytes at out, which may be in.
    void (*swap_outer_bytes)(const uint8_t* in, uint8_t* out, uint32_t n);
};

// The kernels of a level (the plain ones for a level not available).
const ByteRowKernels& byte_row_kernels(SimdLevel level = best_level());

// The SSE2 paths (byte_rows_sse2.cpp). Each handles a leading part of its
// row and returns how much it did: the plain version finishes the rest.
uint64_t bytes_above_sse2(const uint8_t* block, uint8_t threshold);
uint32_t planes_to_bgr_sse2(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                            uint8_t* out, uint32_t n);
uint32_t swap_outer_bytes_sse2(const uint8_t* in, uint8_t* out, uint32_t n);
uint32_t swap_outer_bytes_avx2(const uint8_t* in, uint8_t* out, uint32_t n);

}  // namespace imaging::simd
