// Colour conversion and replication (see jpeg_color.h).

#include "imaging/readers/jpeg/jpeg_color.h"

#include "imaging/readers/jpeg/jpeg_idct.h"

#include "imaging/simd/jpeg_simd.h"

namespace imaging::jpeg {

namespace {

constexpr ColorTables make_color_tables() {
    ColorTables t{};
    for (int i = 0; i < 256; ++i) {
        using namespace simd::jpeg_ycc;
        const int32_t x = i - 128;
        t.cr_r[i] = static_cast<int16_t>((kCrRed * x + 32768) / 65536);
        t.cb_b[i] = static_cast<int16_t>((kCbBlue * x + 32768) / 65536);
        t.cr_g[i] = kCrGreen * x + 32768;
        t.cb_g[i] = kCbGreen * x;
    }
    return t;
}

constexpr ColorTables kColorTables = make_color_tables();

}  // namespace

const ColorTables& color_tables() {
    return kColorTables;
}

void replicate(const uint8_t* in, uint8_t* out, uint32_t n, uint32_t factor) {
    if (factor == 2) {
        for (uint32_t x = 0; x + 1 < n; x += 2) {
            out[x] = out[x + 1] = in[x / 2];
        }
        if (n & 1) {
            out[n - 1] = in[(n - 1) / 2];
        }
        return;
    }
    for (uint32_t x = 0; x < n; ++x) {
        out[x] = in[x / factor];
    }
}

void ycc_to_bgr_row_plain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                          uint32_t n, bool half_chroma) {
    const uint8_t* limit = kRangeLimit.data() + kRangeLimitBase;
    const ColorTables& t = kColorTables;
    const uint32_t shift = half_chroma ? 1 : 0;
    for (uint32_t x = 0; x < n; ++x) {
        const int32_t luma = y[x];
        const uint8_t b = cb[x >> shift];
        const uint8_t r = cr[x >> shift];
        out[3 * x] = limit[luma + t.cb_b[b]];
        out[3 * x + 1] = limit[luma + ((t.cr_g[r] + t.cb_g[b]) >> 16)];
        out[3 * x + 2] = limit[luma + t.cr_r[r]];
    }
}

}  // namespace imaging::jpeg
