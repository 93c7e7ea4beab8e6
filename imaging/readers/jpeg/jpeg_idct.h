// Dequantisation and the integer inverse DCT of JPEG blocks.
//
// Method. The 8 x 8 inverse DCT is separable: a one-dimensional 8-point
// transform over the columns, then over the rows. Each pass follows Loeffler,
// Ligtenberg and Moschytz (11 multiplications per 8 points), with the cosines
// as 13-bit fixed-point constants (scaled by 8192 and rounded). The column pass
// keeps 2 more fraction bits than the samples need (its results are scaled by
// 4, rounded and kept as signed 16-bit numbers); the row pass removes the 13
// constant bits, those 2 bits and the transform's factor 8 in one rounded
// shift by 18. Every product of a coefficient (16 bits) and a constant (at most
// 15 bits) fits in 32 bits, and so does every sum the passes form.
//
// Range limiting: the row pass's result is taken modulo 1024 and looked up in
// a table that adds the level shift of 128 and clamps to 0..255. Results from
// -128 to 895 come out exact and clamped; wilder ones (only corrupt data makes
// them) wrap, which keeps every index inside the table.
//
// The SIMD paths (imaging/simd/, chosen in jpeg_kernels.cpp) compute the same
// sums with multiply-add instructions on pairs of coefficients and give the
// same bytes; this plain version serves the other machines and checks them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace imaging::jpeg {

// The range-limit table: 256 zeros, the values 0..255, 384 of 255, 384 zeros,
// then 0..127. kRangeLimit.data() + 256 is its base, valid from -256 to 1151:
// base[x] clamps x to 0..255 for x in -256..767, and base[128 + (v & 1023)] is
// the inverse DCT's level shift and clamp.
inline constexpr size_t kRangeLimitBase = 256;
inline constexpr std::array<uint8_t, 1408> make_range_limit() {
    std::array<uint8_t, 1408> t{};
    for (int i = 0; i < 256; ++i) {
        t[256 + i] = static_cast<uint8_t>(i);
    }
    for (int i = 512; i < 896; ++i) {
        t[i] = 255;
    }
    for (int i = 0; i < 128; ++i) {
        t[1280 + i] = static_cast<uint8_t>(i);
    }
    return t;
}
inline constexpr std::array<uint8_t, 1408> kRangeLimit = make_range_limit();

// Dequantises the coefficients (natural order; each product kept to 16 bits)
// and writes the 8 x 8 samples, rows `stride` bytes apart.
void idct_islow_plain(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride);

// A block whose only non-zero coefficient is the DC term: 64 equal samples.
void idct_dc_only(int16_t dc, uint16_t quant, uint8_t* out, size_t stride);

}  // namespace imaging::jpeg
