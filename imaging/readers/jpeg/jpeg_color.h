// YCbCr to RGB conversion with integer tables, and replication of subsampled
// components.
//
// Colour conversion (JFIF): with x = Cr - 128 and y = Cb - 128,
//   R = Y + 1.40200 x,  G = Y - 0.34414 y - 0.71414 x,  B = Y + 1.77200 y.
// The factors are scaled by 65536 and held in four 256-entry tables, so a pixel
// costs four look-ups and no multiplication: CrR and CbB give the rounded red
// and blue offsets (divisions truncating toward zero), CrG and CbG the green
// offset still scaled (with the rounding half in CrG), summed and shifted down
// by 16. The range-limit table clamps the sums to 0..255.
#pragma once

#include <cstdint>

namespace imaging::jpeg {

struct ColorTables {
    int16_t cr_r[256];
    int16_t cb_b[256];
    int32_t cr_g[256];
    int32_t cb_g[256];
};
const ColorTables& color_tables();

// One row of n pixels from Y, Cb and Cr samples to blue, green, red bytes.
// With half_chroma, each Cb and Cr sample covers two pixels across (else one).
// The SIMD paths (jpeg_kernels.h) compute the tables' values arithmetically
// and give the same bytes.
void ycc_to_bgr_row_plain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                          uint32_t n, bool half_chroma = false);

// Each sample of in repeated `factor` times: n samples out.
void replicate(const uint8_t* in, uint8_t* out, uint32_t n, uint32_t factor);

}  // namespace imaging::jpeg
