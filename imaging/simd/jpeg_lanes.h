// The JPEG inverse DCT and colour arithmetic written once over vectors of
// 16-bit lanes, for the SSE2 (128-bit) and AVX2 (256-bit) paths. Each path
// supplies a type V with the vector type V::Vec and its operations as static
// members (the names below say what each does), and instantiates these
// templates with it. Only templates here and no intrinsics, so that a file
// compiled for AVX2 and one compiled for SSE2 may both include this header.
//
// Lanes work in groups of eight 16-bit values (one group per 128-bit half):
// the unpacks and multiply-adds never cross a group, so a 256-bit vector
// carries two independent 8 x 8 blocks, or two halves of a row of pixels.
#pragma once

#include <cstdint>

#include "imaging/simd/jpeg_simd.h"

namespace imaging::simd::lanes {

// (a, b) repeated over the 16-bit pairs of the lanes.
template <class V>
inline typename V::Vec pair(int32_t a, int32_t b) {
    return V::set1_32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                           (static_cast<uint32_t>(a) & 0xFFFF)));
}

// Transposes the 8 x 8 matrix of 16-bit values in each group.
template <class V>
inline void transpose(typename V::Vec r[8]) {
    using Vec = typename V::Vec;
    const Vec a0 = V::unpacklo16(r[0], r[1]), a1 = V::unpackhi16(r[0], r[1]);
    const Vec a2 = V::unpacklo16(r[2], r[3]), a3 = V::unpackhi16(r[2], r[3]);
    const Vec a4 = V::unpacklo16(r[4], r[5]), a5 = V::unpackhi16(r[4], r[5]);
    const Vec a6 = V::unpacklo16(r[6], r[7]), a7 = V::unpackhi16(r[6], r[7]);
    const Vec b0 = V::unpacklo32(a0, a2), b1 = V::unpackhi32(a0, a2);
    const Vec b2 = V::unpacklo32(a1, a3), b3 = V::unpackhi32(a1, a3);
    const Vec b4 = V::unpacklo32(a4, a6), b5 = V::unpackhi32(a4, a6);
    const Vec b6 = V::unpacklo32(a5, a7), b7 = V::unpackhi32(a5, a7);
    r[0] = V::unpacklo64(b0, b4);
    r[1] = V::unpackhi64(b0, b4);
    r[2] = V::unpacklo64(b1, b5);
    r[3] = V::unpackhi64(b1, b5);
    r[4] = V::unpacklo64(b2, b6);
    r[5] = V::unpackhi64(b2, b6);
    r[6] = V::unpacklo64(b3, b7);
    r[7] = V::unpackhi64(b3, b7);
}

// One pass of the transform over the lanes: v[k] holds input k of each lane;
// the 32-bit sums, with `round` added, go to lo (lanes 0..3 of each group)
// and hi (lanes 4..7), unshifted. The multiply-adds form the plain version's
// products of pairs of inputs (jpeg_idct.cpp).
template <class V>
inline void idct_pass(const typename V::Vec v[8], typename V::Vec round, typename V::Vec lo[8],
                      typename V::Vec hi[8]) {
    using namespace jpeg_idct;
    using Vec = typename V::Vec;
    const Vec c_tmp0 = pair<V>(8192, 8192);
    const Vec c_tmp1 = pair<V>(8192, -8192);
    const Vec c_tmp2 = pair<V>(k0_541, k0_541 - k1_847);
    const Vec c_tmp3 = pair<V>(k0_541 + k0_765, k0_541);
    const Vec c_o0a = pair<V>(kOdd0[0], kOdd0[1]), c_o0b = pair<V>(kOdd0[2], kOdd0[3]);
    const Vec c_o1a = pair<V>(kOdd1[0], kOdd1[1]), c_o1b = pair<V>(kOdd1[2], kOdd1[3]);
    const Vec c_o2a = pair<V>(kOdd2[0], kOdd2[1]), c_o2b = pair<V>(kOdd2[2], kOdd2[3]);
    const Vec c_o3a = pair<V>(kOdd3[0], kOdd3[1]), c_o3b = pair<V>(kOdd3[2], kOdd3[3]);
#pragma GCC unroll 2
    for (int half = 0; half < 2; ++half) {
        const auto interleave = [half](Vec a, Vec b) {
            return half == 0 ? V::unpacklo16(a, b) : V::unpackhi16(a, b);
        };
        const Vec p04 = interleave(v[0], v[4]);
        const Vec p26 = interleave(v[2], v[6]);
        const Vec p13 = interleave(v[1], v[3]);
        const Vec p57 = interleave(v[5], v[7]);
        const Vec tmp0 = V::add32(V::madd(p04, c_tmp0), round);
        const Vec tmp1 = V::add32(V::madd(p04, c_tmp1), round);
        const Vec tmp2 = V::madd(p26, c_tmp2);
        const Vec tmp3 = V::madd(p26, c_tmp3);
        const Vec e10 = V::add32(tmp0, tmp3), e13 = V::sub32(tmp0, tmp3);
        const Vec e11 = V::add32(tmp1, tmp2), e12 = V::sub32(tmp1, tmp2);
        const Vec o0 = V::add32(V::madd(p13, c_o0a), V::madd(p57, c_o0b));
        const Vec o1 = V::add32(V::madd(p13, c_o1a), V::madd(p57, c_o1b));
        const Vec o2 = V::add32(V::madd(p13, c_o2a), V::madd(p57, c_o2b));
        const Vec o3 = V::add32(V::madd(p13, c_o3a), V::madd(p57, c_o3b));
        Vec* out = half == 0 ? lo : hi;
        out[0] = V::add32(e10, o3);
        out[7] = V::sub32(e10, o3);
        out[1] = V::add32(e11, o2);
        out[6] = V::sub32(e11, o2);
        out[2] = V::add32(e12, o1);
        out[5] = V::sub32(e12, o1);
        out[3] = V::add32(e13, o0);
        out[4] = V::sub32(e13, o0);
    }
}

// Bits [kLow, kLow + kBits) of each 32-bit lane as a signed number, packed to
// 16 bits: one shift up and one down.
template <class V, int kLow, int kBits>
inline typename V::Vec field_pack(typename V::Vec lo, typename V::Vec hi) {
    constexpr int kUp = 32 - kLow - kBits;
    return V::packs32(V::template srai32<32 - kBits>(V::template slli32<kUp>(lo)),
                      V::template srai32<32 - kBits>(V::template slli32<kUp>(hi)));
}

// The inverse DCT of the groups' matrices: v[k] holds the dequantised row k
// (coefficients times table entries, kept to 16 bits); on return, output row
// k as 16-bit samples, which a saturating pack to bytes clamps to 0..255.
template <class V>
inline void idct(typename V::Vec v[8]) {
    using Vec = typename V::Vec;
    Vec lo[8], hi[8];
    // Columns: v[k] is row k of the work area. The plain version's results,
    // (sum + 1024) >> 11 kept to 16 bits, are bits 11..26 of the sums.
    idct_pass<V>(v, V::set1_32(1024), lo, hi);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        v[k] = field_pack<V, 11, 16>(lo[k], hi[k]);
    }
    transpose<V>(v);  // v[k]: column k of each row
    // Rows: the plain version takes (sum + 2^17) >> 18 modulo 1024 as a
    // signed 10-bit value: bits 18..27 of the sums. The rounding 2^17 is 16
    // times the DC term's factor 8192, so it is added to the DC inputs (a
    // 16-bit wrap there moves the sums by multiples of 2^29: bits 18..27 stay).
    v[0] = V::add16(v[0], V::set1_16(16));
    idct_pass<V>(v, V::zero(), lo, hi);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        // Plus 128 (the level shift), clamped by the caller's pack: the
        // range-limit table's mapping without a look-up.
        v[k] = V::add16(field_pack<V, 18, 10>(lo[k], hi[k]), V::set1_16(128));
    }
    transpose<V>(v);  // back to rows
}

// numerator / 65536 truncated toward zero, in 32-bit lanes.
template <class V>
inline typename V::Vec divide_toward_zero(typename V::Vec n) {
    const typename V::Vec bias = V::and_(V::template srai32<31>(n), V::set1_32(0xFFFF));
    return V::template srai32<16>(V::add32(n, bias));
}

// The red or blue offset of chroma values x = c - 128 (16-bit lanes): the
// plain tables' (factor * x + 32768) / 65536 toward zero, with
// factor = kHigh * 65536 + kLow.
template <class V, int kHigh, int kLow>
inline typename V::Vec scaled_offset(typename V::Vec x) {
    static_assert(kHigh * 65536 + kLow == jpeg_ycc::kCrRed ||
                  kHigh * 65536 + kLow == jpeg_ycc::kCbBlue);
    using Vec = typename V::Vec;
    const Vec low_and_half = V::set1_32((16384 << 16) | (kLow & 0xFFFF));
    const Vec two = V::set1_16(2);
    Vec sum[2];
#pragma GCC unroll 2
    for (int half = 0; half < 2; ++half) {
        const Vec x_two = half == 0 ? V::unpacklo16(x, two) : V::unpackhi16(x, two);
        // x * 65536 as a 32-bit lane: x in the high half, zeros below.
        const Vec high = half == 0 ? V::unpacklo16(V::zero(), x) : V::unpackhi16(V::zero(), x);
        Vec n = V::madd(x_two, low_and_half);  // low * x + 32768
#pragma GCC unroll 2
        for (int i = 0; i < kHigh; ++i) {
            n = V::add32(n, high);
        }
        sum[half] = divide_toward_zero<V>(n);
    }
    return V::packs32(sum[0], sum[1]);
}

// The green offset: (kCrGreen * xr + kCbGreen * xb + 32768) >> 16, with the
// (even) factors halved to fit 16 bits and the sum doubled.
template <class V>
inline typename V::Vec green_offset(typename V::Vec xr, typename V::Vec xb) {
    using Vec = typename V::Vec;
    constexpr int32_t kCr = jpeg_ycc::kCrGreen / 2, kCb = jpeg_ycc::kCbGreen / 2;
    static_assert(kCr * 2 == jpeg_ycc::kCrGreen && kCb * 2 == jpeg_ycc::kCbGreen);
    const Vec factors = pair<V>(kCr, kCb);
    const Vec round = V::set1_32(32768);
    const Vec lo = V::madd(V::unpacklo16(xr, xb), factors);
    const Vec hi = V::madd(V::unpackhi16(xr, xb), factors);
    return V::packs32(V::template srai32<16>(V::add32(V::template slli32<1>(lo), round)),
                      V::template srai32<16>(V::add32(V::template slli32<1>(hi), round)));
}

// The blue, green and red offsets of chroma values (x = c - 128, 16-bit lanes).
template <class V>
inline void colour_offsets(typename V::Vec xb, typename V::Vec xr, typename V::Vec offset[3]) {
    offset[0] = scaled_offset<V, 2, jpeg_ycc::kCbBlue - 2 * 65536>(xb);
    offset[1] = green_offset<V>(xr, xb);
    offset[2] = scaled_offset<V, 1, jpeg_ycc::kCrRed - 65536>(xr);
}

}  // namespace imaging::simd::lanes
