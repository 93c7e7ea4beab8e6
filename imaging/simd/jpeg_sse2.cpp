// SSE2 paths of the JPEG inverse DCT and colour conversion (see jpeg_simd.h):
// the arithmetic of jpeg_lanes.h on 128-bit vectors, one block at a time and
// 16 pixels a step.

#include <emmintrin.h>

#include "imaging/simd/jpeg_lanes.h"
#include "imaging/simd/jpeg_simd.h"
#include "imaging/simd/sse2_pixels.h"

namespace imaging::simd {

namespace {

// The lanes' operations on 128-bit vectors (see jpeg_lanes.h).
struct Sse2 {
    using Vec = __m128i;
    static Vec zero() { return _mm_setzero_si128(); }
    static Vec set1_16(int16_t v) { return _mm_set1_epi16(v); }
    static Vec set1_32(int32_t v) { return _mm_set1_epi32(v); }
    static Vec unpacklo16(Vec a, Vec b) { return _mm_unpacklo_epi16(a, b); }
    static Vec unpackhi16(Vec a, Vec b) { return _mm_unpackhi_epi16(a, b); }
    static Vec unpacklo32(Vec a, Vec b) { return _mm_unpacklo_epi32(a, b); }
    static Vec unpackhi32(Vec a, Vec b) { return _mm_unpackhi_epi32(a, b); }
    static Vec unpacklo64(Vec a, Vec b) { return _mm_unpacklo_epi64(a, b); }
    static Vec unpackhi64(Vec a, Vec b) { return _mm_unpackhi_epi64(a, b); }
    static Vec madd(Vec a, Vec b) { return _mm_madd_epi16(a, b); }
    static Vec add16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
    static Vec add32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
    static Vec sub32(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
    static Vec and_(Vec a, Vec b) { return _mm_and_si128(a, b); }
    template <int kBits>
    static Vec slli32(Vec a) {
        return _mm_slli_epi32(a, kBits);
    }
    template <int kBits>
    static Vec srai32(Vec a) {
        return _mm_srai_epi32(a, kBits);
    }
    static Vec packs32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
};

inline __m128i load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

}  // namespace

void jpeg_idct_islow_sse2(const int16_t* block, const uint16_t* quant, uint8_t* out,
                          size_t stride) {
    __m128i v[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        v[k] = _mm_mullo_epi16(load(block + 8 * k), load(quant + 8 * k));  // low 16 bits
    }
    lanes::idct<Sse2>(v);
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        const __m128i bytes = _mm_packus_epi16(v[r], v[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride),
                         _mm_srli_si128(bytes, 8));
    }
}

uint32_t jpeg_ycc_to_bgr_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                              uint32_t n, bool half_chroma) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i center = _mm_set1_epi16(128);
    uint32_t x = 0;
    // 16 pixels a step; the last store of a step writes 4 bytes ahead, which
    // the next step (or the plain tail) overwrites: stop 18 pixels short.
    for (; x + 18 <= n; x += 16) {
        // The three offsets for the 16 pixels, as 16-bit lanes, 8 pixels each.
        __m128i offset[2][3];
        if (half_chroma) {
            // 8 chroma samples: each offset computed once, then doubled.
            const auto load8 = [&](const uint8_t* p) {
                return _mm_sub_epi16(
                    _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero),
                    center);
            };
            __m128i o[3];
            lanes::colour_offsets<Sse2>(load8(cb + x / 2), load8(cr + x / 2), o);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                offset[0][c] = _mm_unpacklo_epi16(o[c], o[c]);
                offset[1][c] = _mm_unpackhi_epi16(o[c], o[c]);
            }
        } else {
            const __m128i b8 = load(cb + x), r8 = load(cr + x);
            lanes::colour_offsets<Sse2>(_mm_sub_epi16(_mm_unpacklo_epi8(b8, zero), center),
                                        _mm_sub_epi16(_mm_unpacklo_epi8(r8, zero), center),
                                        offset[0]);
            lanes::colour_offsets<Sse2>(_mm_sub_epi16(_mm_unpackhi_epi8(b8, zero), center),
                                        _mm_sub_epi16(_mm_unpackhi_epi8(r8, zero), center),
                                        offset[1]);
        }
        const __m128i luma = load(y + x);
        const __m128i l_lo = _mm_unpacklo_epi8(luma, zero), l_hi = _mm_unpackhi_epi8(luma, zero);
        __m128i channel[3];  // blue, green, red, clamped to 0..255 by the packs
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            channel[c] = _mm_packus_epi16(_mm_add_epi16(l_lo, offset[0][c]),
                                          _mm_add_epi16(l_hi, offset[1][c]));
        }
        sse2::store_sixteen_pixels(out + 3 * size_t{x}, channel[0], channel[1], channel[2]);
    }
    return x;
}

}  // namespace imaging::simd
