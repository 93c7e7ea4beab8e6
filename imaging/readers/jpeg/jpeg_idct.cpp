// The integer inverse DCT (see jpeg_idct.h for the method).

#include "imaging/readers/jpeg/jpeg_idct.h"

#include <cstring>

#include "imaging/simd/jpeg_simd.h"

namespace imaging::jpeg {

namespace {

using namespace simd::jpeg_idct;

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

}  // namespace imaging::jpeg
