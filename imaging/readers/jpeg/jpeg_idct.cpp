// The integer inverse DCT (see jpeg_idct.h for the method).

#include "imaging/readers/jpeg/jpeg_idct.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imaging::jpeg {

namespace {

// The cosine constants, scaled by 8192 and rounded.
constexpr int32_t k0_298 = 2446;
constexpr int32_t k0_390 = 3196;
constexpr int32_t k0_541 = 4433;
constexpr int32_t k0_765 = 6270;
constexpr int32_t k0_899 = 7373;
constexpr int32_t k1_175 = 9633;
constexpr int32_t k1_501 = 12299;
constexpr int32_t k1_847 = 15137;
constexpr int32_t k1_961 = 16069;
constexpr int32_t k2_053 = 16819;
constexpr int32_t k2_562 = 20995;
constexpr int32_t k3_072 = 25172;

// The odd part's outputs as sums of the four odd inputs, one factor per
// input: the method's shared products (z1..z5) multiplied out.
constexpr int32_t kOdd0[4] = {k1_175 - k0_899, k1_175 - k1_961, k1_175,
                              k0_298 - k0_899 - k1_961 + k1_175};  // in1, in3, in5, in7
constexpr int32_t kOdd1[4] = {k1_175 - k0_390, k1_175 - k2_562, k2_053 - k2_562 - k0_390 + k1_175,
                              k1_175};
constexpr int32_t kOdd2[4] = {k1_175, k3_072 - k2_562 - k1_961 + k1_175, k1_175 - k2_562,
                              k1_175 - k1_961};
constexpr int32_t kOdd3[4] = {k1_501 - k0_899 - k0_390 + k1_175, k1_175, k1_175 - k0_390,
                              k1_175 - k0_899};

// The column pass: 8 values (in, `step` apart) to 8 values scaled by 4 (or the
// row pass's 8 sums, unshifted, when shift is 0). `round` is added before the
// shift.
struct Outputs {
    int32_t v[8];
};

inline Outputs transform(const int32_t in[8], int32_t round) {
    const int32_t tmp0 = (in[0] + in[4]) * 8192 + round;
    const int32_t tmp1 = (in[0] - in[4]) * 8192 + round;
    const int32_t tmp2 = in[2] * k0_541 + in[6] * (k0_541 - k1_847);
    const int32_t tmp3 = in[2] * (k0_541 + k0_765) + in[6] * k0_541;
    const int32_t e10 = tmp0 + tmp3, e13 = tmp0 - tmp3, e11 = tmp1 + tmp2, e12 = tmp1 - tmp2;
    const int32_t o0 = in[1] * kOdd0[0] + in[3] * kOdd0[1] + in[5] * kOdd0[2] + in[7] * kOdd0[3];
    const int32_t o1 = in[1] * kOdd1[0] + in[3] * kOdd1[1] + in[5] * kOdd1[2] + in[7] * kOdd1[3];
    const int32_t o2 = in[1] * kOdd2[0] + in[3] * kOdd2[1] + in[5] * kOdd2[2] + in[7] * kOdd2[3];
    const int32_t o3 = in[1] * kOdd3[0] + in[3] * kOdd3[1] + in[5] * kOdd3[2] + in[7] * kOdd3[3];
    return Outputs{
        {e10 + o3, e11 + o2, e12 + o1, e13 + o0, e13 - o0, e12 - o1, e11 - o2, e10 - o3}};
}

inline int16_t to_i16(int32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
}

}  // namespace

void idct_islow_plain(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride) {
    int16_t work[64];
    // Columns: dequantised, scaled by 4 and rounded (13 - 2 = 11 bits off).
    for (int c = 0; c < 8; ++c) {
        int32_t in[8];
        bool ac_zero = true;
        for (int k = 0; k < 8; ++k) {
            in[k] = to_i16(block[8 * k + c] * quant[8 * k + c]);
            ac_zero = ac_zero && (k == 0 || in[k] == 0);
        }
        if (ac_zero) {
            // The full transform gives exactly this: DC x 4 in all places.
            const int16_t dc = to_i16(in[0] * 4);
            for (int k = 0; k < 8; ++k) {
                work[8 * k + c] = dc;
            }
            continue;
        }
        const Outputs o = transform(in, 1024);
        for (int k = 0; k < 8; ++k) {
            work[8 * k + c] = to_i16(o.v[k] >> 11);
        }
    }
    // Rows: 18 bits off, rounded, then level shift and clamp.
    const uint8_t* limit = kRangeLimit.data() + kRangeLimitBase + 128;
    for (int r = 0; r < 8; ++r) {
        int32_t in[8];
        for (int k = 0; k < 8; ++k) {
            in[k] = work[8 * r + k];
        }
        const Outputs o = transform(in, 1 << 17);
        uint8_t* row = out + r * stride;
        for (int k = 0; k < 8; ++k) {
            row[k] = limit[(o.v[k] >> 18) & 1023];
        }
    }
}

void idct_dc_only(int16_t dc, uint16_t quant, uint8_t* out, size_t stride) {
    // Column pass: DC x 4 in 16 bits; row pass: (x * 8192 + 2^17) >> 18.
    const int32_t column = to_i16(to_i16(dc * quant) * 4);
    const uint8_t value = kRangeLimit[kRangeLimitBase + 128 + (((column + 16) >> 5) & 1023)];
    for (int r = 0; r < 8; ++r) {
        std::memset(out + r * stride, value, 8);
    }
}

#if defined(__SSE2__)

namespace {

inline __m128i pair(int32_t a, int32_t b) {
    return _mm_set_epi16(static_cast<int16_t>(b), static_cast<int16_t>(a), static_cast<int16_t>(b),
                         static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(a),
                         static_cast<int16_t>(b), static_cast<int16_t>(a));
}

// Sum of a * f + b * g for each lane of (a, b) interleaved, in 32 bits.
inline __m128i madd(__m128i ab, __m128i fg) {
    return _mm_madd_epi16(ab, fg);
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
// `round` added and shifted right by `shift`, replace them (as 16 bits).
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
    for (int half = 0; half < 2; ++half) {
        const __m128i p04 = half == 0 ? p04_lo : p04_hi;
        const __m128i p26 = half == 0 ? p26_lo : p26_hi;
        const __m128i p13 = half == 0 ? p13_lo : p13_hi;
        const __m128i p57 = half == 0 ? p57_lo : p57_hi;
        const __m128i tmp0 = _mm_add_epi32(madd(p04, c_tmp0), rnd);
        const __m128i tmp1 = _mm_add_epi32(madd(p04, c_tmp1), rnd);
        const __m128i tmp2 = madd(p26, c_tmp2);
        const __m128i tmp3 = madd(p26, c_tmp3);
        const __m128i e10 = _mm_add_epi32(tmp0, tmp3);
        const __m128i e13 = _mm_sub_epi32(tmp0, tmp3);
        const __m128i e11 = _mm_add_epi32(tmp1, tmp2);
        const __m128i e12 = _mm_sub_epi32(tmp1, tmp2);
        const __m128i o0 = _mm_add_epi32(madd(p13, c_o0a), madd(p57, c_o0b));
        const __m128i o1 = _mm_add_epi32(madd(p13, c_o1a), madd(p57, c_o1b));
        const __m128i o2 = _mm_add_epi32(madd(p13, c_o2a), madd(p57, c_o2b));
        const __m128i o3 = _mm_add_epi32(madd(p13, c_o3a), madd(p57, c_o3b));
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
    for (int k = 0; k < 8; ++k) {
        v[k] = truncate_pack(out_lo[k], out_hi[k]);
    }
}

}  // namespace

void idct_islow(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * k));
        v[k] = _mm_mullo_epi16(c, q);  // the product's low 16 bits
    }
    pass<11>(v, 1024);  // columns: v[k] is row k of the work area
    transpose(v);       // v[k]: column k of each row
    pass<18>(v, 1 << 17);
    // Modulo 1024 as a signed 10-bit value, plus 128, clamped: the table's
    // mapping without a look-up.
    for (int k = 0; k < 8; ++k) {
        v[k] = _mm_add_epi16(_mm_srai_epi16(_mm_slli_epi16(v[k], 6), 6), _mm_set1_epi16(128));
    }
    transpose(v);  // back to rows
    for (int r = 0; r < 8; r += 2) {
        const __m128i bytes = _mm_packus_epi16(v[r], v[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride),
                         _mm_srli_si128(bytes, 8));
    }
}

#else

void idct_islow(const int16_t* block, const uint16_t* quant, uint8_t* out, size_t stride) {
    idct_islow_plain(block, quant, out, stride);
}

#endif

}  // namespace imaging::jpeg
