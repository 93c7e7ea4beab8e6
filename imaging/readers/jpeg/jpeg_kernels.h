// The JPEG decoder's inner loops, chosen once per load for the processor: the
// inverse DCT and the colour conversion, each the plain version of
// jpeg_idct.cpp and jpeg_color.cpp or a SIMD path of imaging/simd/ that gives
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/simd/simd.h"

namespace imaging::jpeg {

struct Kernels {
    // Dequantises and inverse-transforms one block into 8 rows of 8 samples.
    void (*idct)(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride);
    // The same for two blocks side by side: blocks and blocks + 64, with the
    // same table, into out and out + 8.
    void (*idct_pair)(const int16_t* blocks, const uint16_t* quant, uint8_t* out, size_t stride);
    // One row of n pixels from Y, Cb and Cr samples to blue, green, red bytes
    // (with half_chroma, each chroma sample covers two pixels across).
    void (*ycc_row)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                    uint32_t n, bool half_chroma);
    // The same for two rows of luma that share their chroma (4:2:0).
    void (*ycc_row_pair)(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr,
                         uint8_t* out0, uint8_t* out1, uint32_t n, bool half_chroma);
};

// The kernels of a level (the plain ones for a level not available).
const Kernels& kernels(simd::SimdLevel level = simd::best_level());

}  // namespace imaging::jpeg
