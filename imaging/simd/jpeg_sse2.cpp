// SSE2 paths of the JPEG inverse DCT and colour conversion (see jpeg_simd.h).
// The inverse DCT computes the plain version's sums with multiply-add
// instructions on pairs of coefficients; the colour conversion computes the
// plain version's table values arithmetically.

#include <emmintrin.h>

#include "imaging/simd/jpeg_simd.h"
#include "imaging/simd/sse2_pixels.h"

namespace imaging::simd {

namespace {

using namespace jpeg_idct;

// (a, b) repeated over the eight 16-bit lanes.
inline __m128i pair(int32_t a, int32_t b) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                               (static_cast<uint32_t>(a) & 0xFFFF)));
}

inline void transpose(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]);
    const __m128i a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]);
    const __m128i a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
    const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
    const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
    const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// 32-bit lanes to 16 bits, truncated (not saturated) like the plain path.
inline __m128i truncate_pack(__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
    return _mm_packs_epi32(lo, hi);
}

// One pass over 8 lanes: v[k] holds input k of each lane; the results, with
// `round` added and shifted right by kShift, replace them (as 16 bits).
template <int kShift>
inline void pass(__m128i v[8], int32_t round) {
    const __m128i rnd = _mm_set1_epi32(round);
    const __m128i p26_lo = _mm_unpacklo_epi16(v[2], v[6]);
    const __m128i p26_hi = _mm_unpackhi_epi16(v[2], v[6]);
    const __m128i p04_lo = _mm_unpacklo_epi16(v[0], v[4]);
    const __m128i p04_hi = _mm_unpackhi_epi16(v[0], v[4]);
    const __m128i p13_lo = _mm_unpacklo_epi16(v[1], v[3]);
    const __m128i p13_hi = _mm_unpackhi_epi16(v[1], v[3]);
    const __m128i p57_lo = _mm_unpacklo_epi16(v[5], v[7]);
    const __m128i p57_hi = _mm_unpackhi_epi16(v[5], v[7]);

    const __m128i c_tmp0 = pair(8192, 8192);
    const __m128i c_tmp1 = pair(8192, -8192);
    const __m128i c_tmp2 = pair(k0_541, k0_541 - k1_847);
    const __m128i c_tmp3 = pair(k0_541 + k0_765, k0_541);
    const __m128i c_o0a = pair(kOdd0[0], kOdd0[1]), c_o0b = pair(kOdd0[2], kOdd0[3]);
    const __m128i c_o1a = pair(kOdd1[0], kOdd1[1]), c_o1b = pair(kOdd1[2], kOdd1[3]);
    const __m128i c_o2a = pair(kOdd2[0], kOdd2[1]), c_o2b = pair(kOdd2[2], kOdd2[3]);
    const __m128i c_o3a = pair(kOdd3[0], kOdd3[1]), c_o3b = pair(kOdd3[2], kOdd3[3]);

    __m128i out_lo[8], out_hi[8];
#pragma GCC unroll 8
    for (int half = 0; half < 2; ++half) {
        const __m128i p04 = half == 0 ? p04_lo : p04_hi;
        const __m128i p26 = half == 0 ? p26_lo : p26_hi;
        const __m128i p13 = half == 0 ? p13_lo : p13_hi;
        const __m128i p57 = half == 0 ? p57_lo : p57_hi;
        // Sums of a * f + b * g over each lane's interleaved (a, b), in 32 bits.
        const __m128i tmp0 = _mm_add_epi32(_mm_madd_epi16(p04, c_tmp0), rnd);
        const __m128i tmp1 = _mm_add_epi32(_mm_madd_epi16(p04, c_tmp1), rnd);
        const __m128i tmp2 = _mm_madd_epi16(p26, c_tmp2);
        const __m128i tmp3 = _mm_madd_epi16(p26, c_tmp3);
        const __m128i e10 = _mm_add_epi32(tmp0, tmp3);
        const __m128i e13 = _mm_sub_epi32(tmp0, tmp3);
        const __m128i e11 = _mm_add_epi32(tmp1, tmp2);
        const __m128i e12 = _mm_sub_epi32(tmp1, tmp2);
        const __m128i o0 = _mm_add_epi32(_mm_madd_epi16(p13, c_o0a), _mm_madd_epi16(p57, c_o0b));
        const __m128i o1 = _mm_add_epi32(_mm_madd_epi16(p13, c_o1a), _mm_madd_epi16(p57, c_o1b));
        const __m128i o2 = _mm_add_epi32(_mm_madd_epi16(p13, c_o2a), _mm_madd_epi16(p57, c_o2b));
        const __m128i o3 = _mm_add_epi32(_mm_madd_epi16(p13, c_o3a), _mm_madd_epi16(p57, c_o3b));
        __m128i* out = half == 0 ? out_lo : out_hi;
        out[0] = _mm_srai_epi32(_mm_add_epi32(e10, o3), kShift);
        out[7] = _mm_srai_epi32(_mm_sub_epi32(e10, o3), kShift);
        out[1] = _mm_srai_epi32(_mm_add_epi32(e11, o2), kShift);
        out[6] = _mm_srai_epi32(_mm_sub_epi32(e11, o2), kShift);
        out[2] = _mm_srai_epi32(_mm_add_epi32(e12, o1), kShift);
        out[5] = _mm_srai_epi32(_mm_sub_epi32(e12, o1), kShift);
        out[3] = _mm_srai_epi32(_mm_add_epi32(e13, o0), kShift);
        out[4] = _mm_srai_epi32(_mm_sub_epi32(e13, o0), kShift);
    }
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        v[k] = truncate_pack(out_lo[k], out_hi[k]);
    }
}

}  // namespace

void jpeg_idct_islow_sse2(const int16_t* block, const uint16_t* quant, uint8_t* out,
                          size_t stride) {
    __m128i v[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * k));
        v[k] = _mm_mullo_epi16(c, q);  // the product's low 16 bits
    }
    pass<11>(v, 1024);  // columns: v[k] is row k of the work area
    transpose(v);       // v[k]: column k of each row
    pass<18>(v, 1 << 17);
// Modulo 1024 as a signed 10-bit value, plus 128, clamped: the
// range-limit table's mapping without a look-up.
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        v[k] = _mm_add_epi16(_mm_srai_epi16(_mm_slli_epi16(v[k], 6), 6), _mm_set1_epi16(128));
    }
    transpose(v);  // back to rows
#pragma GCC unroll 8
    for (int r = 0; r < 8; r += 2) {
        const __m128i bytes = _mm_packus_epi16(v[r], v[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride),
                         _mm_srli_si128(bytes, 8));
    }
}

namespace {

// numerator / 65536 truncated toward zero, in 32-bit lanes.
inline __m128i divide_toward_zero(__m128i n) {
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(n, 31), _mm_set1_epi32(0xFFFF));
    return _mm_srai_epi32(_mm_add_epi32(n, bias), 16);
}

// The red or blue offset of 8 chroma values (x = c - 128, 16-bit lanes):
// (factor * x + 32768) / 65536 toward zero, with factor = high * 65536 + low.
template <int kHigh, int kLow>
inline __m128i scaled_offset(__m128i x) {
    static_assert(kHigh * 65536 + kLow == jpeg_ycc::kCrRed ||
                  kHigh * 65536 + kLow == jpeg_ycc::kCbBlue);
    const __m128i low_and_half = _mm_set1_epi32((16384 << 16) | (kLow & 0xFFFF));
    const __m128i two = _mm_set1_epi16(2);
    __m128i sum[2];
#pragma GCC unroll 8
    for (int half = 0; half < 2; ++half) {
        const __m128i x_two = half == 0 ? _mm_unpacklo_epi16(x, two) : _mm_unpackhi_epi16(x, two);
        // x * 65536 as a 32-bit lane: x in the high half, zeros below.
        const __m128i high = half == 0 ? _mm_unpacklo_epi16(_mm_setzero_si128(), x)
                                       : _mm_unpackhi_epi16(_mm_setzero_si128(), x);
        __m128i n = _mm_madd_epi16(x_two, low_and_half);  // low * x + 32768
#pragma GCC unroll 8
        for (int i = 0; i < kHigh; ++i) {
            n = _mm_add_epi32(n, high);
        }
        sum[half] = divide_toward_zero(n);
    }
    return _mm_packs_epi32(sum[0], sum[1]);
}

// The green offset: (kCrGreen * xr + kCbGreen * xb + 32768) >> 16, with the
// (even) factors halved to fit 16 bits and the sum doubled.
inline __m128i green_offset(__m128i xr, __m128i xb) {
    constexpr int32_t kCr = jpeg_ycc::kCrGreen / 2, kCb = jpeg_ycc::kCbGreen / 2;
    static_assert(kCr * 2 == jpeg_ycc::kCrGreen && kCb * 2 == jpeg_ycc::kCbGreen);
    const __m128i factors = _mm_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(kCb) << 16) | (static_cast<uint32_t>(kCr) & 0xFFFF)));
    const __m128i round = _mm_set1_epi32(32768);
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(xr, xb), factors);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(xr, xb), factors);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(lo, 1), round), 16),
                           _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(hi, 1), round), 16));
}

}  // namespace

uint32_t jpeg_ycc_to_bgr_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                              uint32_t n, bool half_chroma) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i center = _mm_set1_epi16(128);
    constexpr int kBlueLow = jpeg_ycc::kCbBlue - 2 * 65536;
    constexpr int kRedLow = jpeg_ycc::kCrRed - 65536;
    uint32_t x = 0;
    // 16 pixels a step; the last store of a step writes 4 bytes ahead, which
    // the next step (or the plain tail) overwrites: stop 18 pixels short.
    for (; x + 18 <= n; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        // The three offsets for the 16 pixels, as 16-bit lanes, 8 pixels each.
        __m128i offset[3][2];
        if (half_chroma) {
            // 8 chroma samples: each offset computed once, then doubled.
            const __m128i xb = _mm_sub_epi16(
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)),
                                  zero),
                center);
            const __m128i xr = _mm_sub_epi16(
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)),
                                  zero),
                center);
            const __m128i o[3] = {scaled_offset<2, kBlueLow>(xb), green_offset(xr, xb),
                                  scaled_offset<1, kRedLow>(xr)};
#pragma GCC unroll 8
            for (int c = 0; c < 3; ++c) {
                offset[c][0] = _mm_unpacklo_epi16(o[c], o[c]);
                offset[c][1] = _mm_unpackhi_epi16(o[c], o[c]);
            }
        } else {
            const __m128i b16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
            const __m128i r16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
#pragma GCC unroll 8
            for (int half = 0; half < 2; ++half) {
                const __m128i xb = _mm_sub_epi16(
                    half == 0 ? _mm_unpacklo_epi8(b16, zero) : _mm_unpackhi_epi8(b16, zero),
                    center);
                const __m128i xr = _mm_sub_epi16(
                    half == 0 ? _mm_unpacklo_epi8(r16, zero) : _mm_unpackhi_epi8(r16, zero),
                    center);
                offset[0][half] = scaled_offset<2, kBlueLow>(xb);
                offset[1][half] = green_offset(xr, xb);
                offset[2][half] = scaled_offset<1, kRedLow>(xr);
            }
        }
        __m128i channel[3][2];  // blue, green, red
#pragma GCC unroll 8
        for (int half = 0; half < 2; ++half) {
            const __m128i l16 =
                half == 0 ? _mm_unpacklo_epi8(luma, zero) : _mm_unpackhi_epi8(luma, zero);
#pragma GCC unroll 8
            for (int c = 0; c < 3; ++c) {
                channel[c][half] = _mm_add_epi16(l16, offset[c][half]);
            }
        }
        // Clamped to 0..255 by the saturating packs.
        sse2::store_sixteen_pixels(out + 3 * size_t{x},
                                   _mm_packus_epi16(channel[0][0], channel[0][1]),
                                   _mm_packus_epi16(channel[1][0], channel[1][1]),
                                   _mm_packus_epi16(channel[2][0], channel[2][1]));
    }
    return x;
}

}  // namespace imaging::simd
