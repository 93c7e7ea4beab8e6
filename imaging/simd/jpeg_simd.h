// SIMD paths of the JPEG decoder's inverse DCT and colour conversion (see
// simd.h), and the fixed-point constants they share with the plain versions
// in imaging/readers/jpeg_idct.cpp and jpeg_color.cpp, which describe the
// methods. Every path gives the plain version's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging::simd {

// The integer inverse DCT's cosines, scaled by 8192 and rounded.
namespace jpeg_idct {
inline constexpr int32_t k0_298 = 2446;
inline constexpr int32_t k0_390 = 3196;
inline constexpr int32_t k0_541 = 4433;
inline constexpr int32_t k0_765 = 6270;
inline constexpr int32_t k0_899 = 7373;
inline constexpr int32_t k1_175 = 9633;
inline constexpr int32_t k1_501 = 12299;
inline constexpr int32_t k1_847 = 15137;
inline constexpr int32_t k1_961 = 16069;
inline constexpr int32_t k2_053 = 16819;
inline constexpr int32_t k2_562 = 20995;
inline constexpr int32_t k3_072 = 25172;

// The odd part's outputs as sums of the four odd inputs (1, 3, 5, 7), one
// factor per input: the method's shared products multiplied out.
inline constexpr int32_t kOdd0[4] = {k1_175 - k0_899, k1_175 - k1_961, k1_175,
                                     k0_298 - k0_899 - k1_961 + k1_175};
inline constexpr int32_t kOdd1[4] = {k1_175 - k0_390, k1_175 - k2_562,
                                     k2_053 - k2_562 - k0_390 + k1_175, k1_175};
inline constexpr int32_t kOdd2[4] = {k1_175, k3_072 - k2_562 - k1_961 + k1_175, k1_175 - k2_562,
                                     k1_175 - k1_961};
inline constexpr int32_t kOdd3[4] = {k1_501 - k0_899 - k0_390 + k1_175, k1_175, k1_175 - k0_390,
                                     k1_175 - k0_899};
}  // namespace jpeg_idct

// YCbCr to RGB (JFIF), the factors scaled by 65536: with x = Cr - 128 and
// y = Cb - 128, R = Y + 1.40200 x, G = Y - 0.34414 y - 0.71414 x,
// B = Y + 1.77200 y.
namespace jpeg_ycc {
inline constexpr int32_t kCrRed = 91881;
inline constexpr int32_t kCbBlue = 116130;
inline constexpr int32_t kCrGreen = -46802;
inline constexpr int32_t kCbGreen = -22554;
}  // namespace jpeg_ycc

// Dequantises and inverse-transforms one block into 8 rows of 8 samples,
// `stride` bytes apart.
void jpeg_idct_islow_sse2(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride);

// Converts a leading part of a row of n pixels from Y, Cb and Cr samples to
// blue, green, red bytes (with half_chroma, each chroma sample covers two
// pixels across) and returns the pixels done; the plain version does the rest.
uint32_t jpeg_ycc_to_bgr_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                              uint32_t n, bool half_chroma);

// AVX2: two blocks side by side (blocks and blocks + 64, the same quantization
// table), their samples at out and out + 8.
void jpeg_idct_islow_pair_avx2(const int16_t* blocks, const uint16_t* quant, uint8_t* out,
                               size_t stride);
uint32_t jpeg_ycc_to_bgr_avx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                              uint32_t n, bool half_chroma);
// Two rows of luma sharing one row of chroma (4:2:0), the offsets computed once.
uint32_t jpeg_ycc_to_bgr_pair_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                                   const uint8_t* cr, uint8_t* out0, uint8_t* out1, uint32_t n,
                                   bool half_chroma);

}  // namespace imaging::simd
