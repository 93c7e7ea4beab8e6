// AVX2 paths of the JPEG inverse DCT and colour conversion (see jpeg_simd.h).
// Compiled for AVX2 and called only where the processor has it. The inverse
// DCT is the SSE2 path's method on two blocks at once, one per 128-bit half;
// the colour conversion that of the SSE2 path on 32 pixels a step, with the
// pixels' bytes put in order by byte shuffles.
//
// This file includes no header with inline functions the library's other
// files may also use: their AVX2 copies could be the ones the linker keeps.

#include <immintrin.h>

#include "imaging/simd/jpeg_simd.h"

namespace imaging::simd {

namespace {

using namespace jpeg_idct;

inline __m256i pair(int32_t a, int32_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                                  (static_cast<uint32_t>(a) & 0xFFFF)));
}

// Transposes the 8 x 8 matrix of 16-bit values in each 128-bit half.
inline void transpose(__m256i r[8]) {
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]);
    const __m256i a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]);
    const __m256i a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]);
    const __m256i a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]);
    const __m256i a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2);
    const __m256i b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3);
    const __m256i b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6);
    const __m256i b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7);
    const __m256i b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
}

// One pass over 16 lanes (8 in each half): v[k] holds input k of each lane;
// the 32-bit sums, with `round` added, go to out_lo (lanes 0..3 of each half)
// and out_hi (lanes 4..7), unshifted.
inline void pass(const __m256i v[8], __m256i round, __m256i out_lo[8], __m256i out_hi[8]) {
    const __m256i c_tmp0 = pair(8192, 8192);
    const __m256i c_tmp1 = pair(8192, -8192);
    const __m256i c_tmp2 = pair(k0_541, k0_541 - k1_847);
    const __m256i c_tmp3 = pair(k0_541 + k0_765, k0_541);
    const __m256i c_o0a = pair(kOdd0[0], kOdd0[1]), c_o0b = pair(kOdd0[2], kOdd0[3]);
    const __m256i c_o1a = pair(kOdd1[0], kOdd1[1]), c_o1b = pair(kOdd1[2], kOdd1[3]);
    const __m256i c_o2a = pair(kOdd2[0], kOdd2[1]), c_o2b = pair(kOdd2[2], kOdd2[3]);
    const __m256i c_o3a = pair(kOdd3[0], kOdd3[1]), c_o3b = pair(kOdd3[2], kOdd3[3]);
#pragma GCC unroll 8
    for (int half = 0; half < 2; ++half) {
        const auto interleave = [half](__m256i a, __m256i b) {
            return half == 0 ? _mm256_unpacklo_epi16(a, b) : _mm256_unpackhi_epi16(a, b);
        };
        const __m256i p04 = interleave(v[0], v[4]);
        const __m256i p26 = interleave(v[2], v[6]);
        const __m256i p13 = interleave(v[1], v[3]);
        const __m256i p57 = interleave(v[5], v[7]);
        const __m256i tmp0 = _mm256_add_epi32(_mm256_madd_epi16(p04, c_tmp0), round);
        const __m256i tmp1 = _mm256_add_epi32(_mm256_madd_epi16(p04, c_tmp1), round);
        const __m256i tmp2 = _mm256_madd_epi16(p26, c_tmp2);
        const __m256i tmp3 = _mm256_madd_epi16(p26, c_tmp3);
        const __m256i e10 = _mm256_add_epi32(tmp0, tmp3);
        const __m256i e13 = _mm256_sub_epi32(tmp0, tmp3);
        const __m256i e11 = _mm256_add_epi32(tmp1, tmp2);
        const __m256i e12 = _mm256_sub_epi32(tmp1, tmp2);
        const __m256i o0 =
            _mm256_add_epi32(_mm256_madd_epi16(p13, c_o0a), _mm256_madd_epi16(p57, c_o0b));
        const __m256i o1 =
            _mm256_add_epi32(_mm256_madd_epi16(p13, c_o1a), _mm256_madd_epi16(p57, c_o1b));
        const __m256i o2 =
            _mm256_add_epi32(_mm256_madd_epi16(p13, c_o2a), _mm256_madd_epi16(p57, c_o2b));
        const __m256i o3 =
            _mm256_add_epi32(_mm256_madd_epi16(p13, c_o3a), _mm256_madd_epi16(p57, c_o3b));
        __m256i* out = half == 0 ? out_lo : out_hi;
        out[0] = _mm256_add_epi32(e10, o3);
        out[7] = _mm256_sub_epi32(e10, o3);
        out[1] = _mm256_add_epi32(e11, o2);
        out[6] = _mm256_sub_epi32(e11, o2);
        out[2] = _mm256_add_epi32(e12, o1);
        out[5] = _mm256_sub_epi32(e12, o1);
        out[3] = _mm256_add_epi32(e13, o0);
        out[4] = _mm256_sub_epi32(e13, o0);
    }
}

// Bits [kLow, kLow + kBits) of each 32-bit lane as a signed number, packed to
// 16 bits: one shift up and one down.
template <int kLow, int kBits>
inline __m256i field_pack(__m256i lo, __m256i hi) {
    constexpr int kUp = 32 - kLow - kBits;
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(lo, kUp), 32 - kBits),
                              _mm256_srai_epi32(_mm256_slli_epi32(hi, kUp), 32 - kBits));
}

}  // namespace

void jpeg_idct_islow_pair_avx2(const int16_t* blocks, const uint16_t* quant, uint8_t* out,
                               size_t stride) {
    __m256i v[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const __m256i c = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 8 * k))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 64 + 8 * k)), 1);
        const __m256i q = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * k)));
        v[k] = _mm256_mullo_epi16(c, q);  // the product's low 16 bits
    }
    __m256i lo[8], hi[8];
    // Columns: v[k] is row k of the work area. The plain version's results,
    // sum >> 11 kept to 16 bits, are bits 11..26 of the sums.
    pass(v, _mm256_set1_epi32(1024), lo, hi);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        v[k] = field_pack<11, 16>(lo[k], hi[k]);
    }
    transpose(v);  // v[k]: column k of each row
    // Rows: the plain version takes (sum + 2^17) >> 18 modulo 1024 as a
    // signed 10-bit value: bits 18..27 of the sums. The rounding 2^17 is 16
    // times the DC term's factor 8192, so it is added to the DC inputs (a
    // 16-bit wrap there moves the sums by multiples of 2^29: bits 18..27 stay).
    v[0] = _mm256_add_epi16(v[0], _mm256_set1_epi16(16));
    pass(v, _mm256_setzero_si256(), lo, hi);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        // Plus 128, clamped by the pack to bytes below: the range-limit
        // table's mapping without a look-up.
        v[k] = _mm256_add_epi16(field_pack<18, 10>(lo[k], hi[k]), _mm256_set1_epi16(128));
    }
    transpose(v);  // back to rows
#pragma GCC unroll 8
    for (int r = 0; r < 8; r += 2) {
        // Quad words: first block row r, r + 1, second block row r, r + 1;
        // put in picture order, rows r and r + 1 of the two blocks side by side.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(v[r], v[r + 1]), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * stride),
                         _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (r + 1) * stride),
                         _mm256_extracti128_si256(bytes, 1));
    }
}

namespace {

// numerator / 65536 truncated toward zero, in 32-bit lanes.
inline __m256i divide_toward_zero(__m256i n) {
    const __m256i bias = _mm256_and_si256(_mm256_srai_epi32(n, 31), _mm256_set1_epi32(0xFFFF));
    return _mm256_srai_epi32(_mm256_add_epi32(n, bias), 16);
}

// The red or blue offset of 16 chroma values (x = c - 128, 16-bit lanes):
// (factor * x + 32768) / 65536 toward zero, with factor = high * 65536 + low.
template <int kHigh, int kLow>
inline __m256i scaled_offset(__m256i x) {
    static_assert(kHigh * 65536 + kLow == jpeg_ycc::kCrRed ||
                  kHigh * 65536 + kLow == jpeg_ycc::kCbBlue);
    const __m256i low_and_half = _mm256_set1_epi32((16384 << 16) | (kLow & 0xFFFF));
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i zero = _mm256_setzero_si256();
    __m256i sum[2];
#pragma GCC unroll 8
    for (int half = 0; half < 2; ++half) {
        const __m256i x_two =
            half == 0 ? _mm256_unpacklo_epi16(x, two) : _mm256_unpackhi_epi16(x, two);
        // x * 65536 as a 32-bit lane: x in the high half, zeros below.
        const __m256i high =
            half == 0 ? _mm256_unpacklo_epi16(zero, x) : _mm256_unpackhi_epi16(zero, x);
        __m256i n = _mm256_madd_epi16(x_two, low_and_half);  // low * x + 32768
#pragma GCC unroll 8
        for (int i = 0; i < kHigh; ++i) {
            n = _mm256_add_epi32(n, high);
        }
        sum[half] = divide_toward_zero(n);
    }
    return _mm256_packs_epi32(sum[0], sum[1]);
}

// The green offset: (kCrGreen * xr + kCbGreen * xb + 32768) >> 16, with the
// (even) factors halved to fit 16 bits and the sum doubled.
inline __m256i green_offset(__m256i xr, __m256i xb) {
    constexpr int32_t kCr = jpeg_ycc::kCrGreen / 2, kCb = jpeg_ycc::kCbGreen / 2;
    static_assert(kCr * 2 == jpeg_ycc::kCrGreen && kCb * 2 == jpeg_ycc::kCbGreen);
    const __m256i factors = _mm256_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(kCb) << 16) | (static_cast<uint32_t>(kCr) & 0xFFFF)));
    const __m256i round = _mm256_set1_epi32(32768);
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(xr, xb), factors);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(xr, xb), factors);
    return _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_slli_epi32(lo, 1), round), 16),
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_slli_epi32(hi, 1), round), 16));
}

// The byte shuffles that interleave 16 blue, green and red bytes (in each
// 128-bit half) into 48 bytes of pixels: part k of the 48 takes from colour c
// the bytes kInterleave[k][c] names (-1: none), the same in both halves.
struct InterleaveMasks {
    int8_t bytes[3][3][32];
};

constexpr InterleaveMasks make_interleave_masks() {
    InterleaveMasks t{};
    for (int part = 0; part < 3; ++part) {
        for (int colour = 0; colour < 3; ++colour) {
            for (int i = 0; i < 16; ++i) {
                const int byte = 16 * part + i;  // of the 48
                const int8_t source = byte % 3 == colour ? static_cast<int8_t>(byte / 3) : -1;
                t.bytes[part][colour][i] = t.bytes[part][colour][16 + i] = source;
            }
        }
    }
    return t;
}

alignas(32) constexpr InterleaveMasks kInterleave = make_interleave_masks();

struct Interleave {
    __m256i masks[3][3];  // [part][colour]
};

inline Interleave load_interleave() {
    Interleave t;
#pragma GCC unroll 8
    for (int part = 0; part < 3; ++part) {
#pragma GCC unroll 8
        for (int colour = 0; colour < 3; ++colour) {
            t.masks[part][colour] = _mm256_load_si256(
                reinterpret_cast<const __m256i*>(kInterleave.bytes[part][colour]));
        }
    }
    return t;
}

// 32 pixels from their blue, green and red bytes: 96 bytes at out.
inline void store_32_pixels(uint8_t* out, __m256i blue, __m256i green, __m256i red,
                            const Interleave& t) {
    __m256i part[3];  // in each half, bytes 16k.. of that half's 48
#pragma GCC unroll 8
    for (int k = 0; k < 3; ++k) {
        part[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(blue, t.masks[k][0]),
                                                  _mm256_shuffle_epi8(green, t.masks[k][1])),
                                  _mm256_shuffle_epi8(red, t.masks[k][2]));
    }
    // The low halves hold pixels 0..15, the high halves 16..31.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permute2x128_si256(part[0], part[1], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_permute2x128_si256(part[2], part[0], 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64),
                        _mm256_permute2x128_si256(part[1], part[2], 0x31));
}

}  // namespace

namespace {

// Converts kRows rows of luma that share their chroma samples (of one row of
// the chroma planes), 32 pixels a step; returns the pixels done.
template <int kRows>
uint32_t ycc_rows(const uint8_t* const y[kRows], const uint8_t* cb, const uint8_t* cr,
                  uint8_t* const out[kRows], uint32_t n, bool half_chroma) {
    const Interleave interleave = load_interleave();
    const __m256i zero = _mm256_setzero_si256();
    const __m256i center = _mm256_set1_epi16(128);
    constexpr int kBlueLow = jpeg_ycc::kCbBlue - 2 * 65536;
    constexpr int kRedLow = jpeg_ycc::kCrRed - 65536;
    uint32_t x = 0;
    for (; x + 32 <= n; x += 32) {
        // The offsets as 16-bit lanes, in the order the byte unpacks give:
        // [0] pixels 0..7 and 16..23, [1] pixels 8..15 and 24..31.
        __m256i offset[3][2];
        if (half_chroma) {
            // 16 chroma samples, in order over the two halves: doubled by the
            // 16-bit unpacks, they land where the luma's byte unpacks put
            // their pixels.
            const auto load16 = [](const uint8_t* p) {
                return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
            };
            const __m256i xb = _mm256_sub_epi16(load16(cb + x / 2), center);
            const __m256i xr = _mm256_sub_epi16(load16(cr + x / 2), center);
            const __m256i o[3] = {scaled_offset<2, kBlueLow>(xb), green_offset(xr, xb),
                                  scaled_offset<1, kRedLow>(xr)};
#pragma GCC unroll 8
            for (int c = 0; c < 3; ++c) {
                offset[c][0] = _mm256_unpacklo_epi16(o[c], o[c]);
                offset[c][1] = _mm256_unpackhi_epi16(o[c], o[c]);
            }
        } else {
            const __m256i b8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + x));
            const __m256i r8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + x));
#pragma GCC unroll 8
            for (int half = 0; half < 2; ++half) {
                const __m256i xb = _mm256_sub_epi16(
                    half == 0 ? _mm256_unpacklo_epi8(b8, zero) : _mm256_unpackhi_epi8(b8, zero),
                    center);
                const __m256i xr = _mm256_sub_epi16(
                    half == 0 ? _mm256_unpacklo_epi8(r8, zero) : _mm256_unpackhi_epi8(r8, zero),
                    center);
                offset[0][half] = scaled_offset<2, kBlueLow>(xb);
                offset[1][half] = green_offset(xr, xb);
                offset[2][half] = scaled_offset<1, kRedLow>(xr);
            }
        }
#pragma GCC unroll 8
        for (int row = 0; row < kRows; ++row) {
            const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y[row] + x));
            const __m256i l_lo = _mm256_unpacklo_epi8(luma, zero);
            const __m256i l_hi = _mm256_unpackhi_epi8(luma, zero);
            __m256i channel[3];  // blue, green, red: 32 bytes each, in pixel order
#pragma GCC unroll 8
            for (int c = 0; c < 3; ++c) {
                // Clamped to 0..255 by the saturating pack, which also undoes
                // the unpacks' order.
                channel[c] = _mm256_packus_epi16(_mm256_add_epi16(l_lo, offset[c][0]),
                                                 _mm256_add_epi16(l_hi, offset[c][1]));
            }
            store_32_pixels(out[row] + 3 * size_t{x}, channel[0], channel[1], channel[2],
                            interleave);
        }
    }
    return x;
}

}  // namespace

uint32_t jpeg_ycc_to_bgr_avx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                              uint32_t n, bool half_chroma) {
    const uint8_t* const rows[1] = {y};
    uint8_t* const outs[1] = {out};
    return ycc_rows<1>(rows, cb, cr, outs, n, half_chroma);
}

uint32_t jpeg_ycc_to_bgr_pair_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                                   const uint8_t* cr, uint8_t* out0, uint8_t* out1, uint32_t n,
                                   bool half_chroma) {
    const uint8_t* const rows[2] = {y0, y1};
    uint8_t* const outs[2] = {out0, out1};
    return ycc_rows<2>(rows, cb, cr, outs, n, half_chroma);
}

}  // namespace imaging::simd
