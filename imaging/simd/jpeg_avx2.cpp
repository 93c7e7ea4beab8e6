// AVX2 paths of the JPEG inverse DCT and colour conversion (see jpeg_simd.h):
// the arithmetic of jpeg_lanes.h on 256-bit vectors, two blocks side by side
// (one per 128-bit half) and 32 pixels a step, the pixels' bytes put in order
// by byte shuffles. Compiled for AVX2 and called only where the processor has
// it.
//
// This file includes no header with inline functions the library's other
// files may also use: their AVX2 copies could be the ones the linker keeps.

#include <immintrin.h>

#include "imaging/simd/jpeg_lanes.h"
#include "imaging/simd/jpeg_simd.h"

namespace imaging::simd {

namespace {

// The lanes' operations on 256-bit vectors (see jpeg_lanes.h).
struct Avx2 {
    using Vec = __m256i;
    static Vec zero() { return _mm256_setzero_si256(); }
    static Vec set1_16(int16_t v) { return _mm256_set1_epi16(v); }
    static Vec set1_32(int32_t v) { return _mm256_set1_epi32(v); }
    static Vec unpacklo16(Vec a, Vec b) { return _mm256_unpacklo_epi16(a, b); }
    static Vec unpackhi16(Vec a, Vec b) { return _mm256_unpackhi_epi16(a, b); }
    static Vec unpacklo32(Vec a, Vec b) { return _mm256_unpacklo_epi32(a, b); }
    static Vec unpackhi32(Vec a, Vec b) { return _mm256_unpackhi_epi32(a, b); }
    static Vec unpacklo64(Vec a, Vec b) { return _mm256_unpacklo_epi64(a, b); }
    static Vec unpackhi64(Vec a, Vec b) { return _mm256_unpackhi_epi64(a, b); }
    static Vec madd(Vec a, Vec b) { return _mm256_madd_epi16(a, b); }
    static Vec add16(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
    static Vec add32(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static Vec sub32(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
    static Vec and_(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    template <int kBits>
    static Vec slli32(Vec a) {
        return _mm256_slli_epi32(a, kBits);
    }
    template <int kBits>
    static Vec srai32(Vec a) {
        return _mm256_srai_epi32(a, kBits);
    }
    static Vec packs32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
};

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
    lanes::idct<Avx2>(v);
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
    uint32_t x = 0;
    for (; x + 32 <= n; x += 32) {
        // The offsets as 16-bit lanes, in the order the byte unpacks give:
        // [0] pixels 0..7 and 16..23, [1] pixels 8..15 and 24..31; blue,
        // green, red.
        __m256i offset[2][3];
        if (half_chroma) {
            // 16 chroma samples, in order over the two halves: doubled by the
            // 16-bit unpacks, they land where the luma's byte unpacks put
            // their pixels.
            const auto load16 = [&](const uint8_t* p) {
                return _mm256_sub_epi16(
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                    center);
            };
            __m256i o[3];
            lanes::colour_offsets<Avx2>(load16(cb + x / 2), load16(cr + x / 2), o);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                offset[0][c] = _mm256_unpacklo_epi16(o[c], o[c]);
                offset[1][c] = _mm256_unpackhi_epi16(o[c], o[c]);
            }
        } else {
            const __m256i b8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + x));
            const __m256i r8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + x));
            lanes::colour_offsets<Avx2>(_mm256_sub_epi16(_mm256_unpacklo_epi8(b8, zero), center),
                                        _mm256_sub_epi16(_mm256_unpacklo_epi8(r8, zero), center),
                                        offset[0]);
            lanes::colour_offsets<Avx2>(_mm256_sub_epi16(_mm256_unpackhi_epi8(b8, zero), center),
                                        _mm256_sub_epi16(_mm256_unpackhi_epi8(r8, zero), center),
                                        offset[1]);
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
                channel[c] = _mm256_packus_epi16(_mm256_add_epi16(l_lo, offset[0][c]),
                                                 _mm256_add_epi16(l_hi, offset[1][c]));
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
