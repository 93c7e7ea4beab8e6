// Component planes, replication, colour conversion and output rows (see
// jpeg_color.h).

#include "imaging/readers/jpeg/jpeg_color.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/readers/jpeg/jpeg_idct.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imaging::jpeg {

namespace {

constexpr ColorTables make_color_tables() {
    ColorTables t{};
    for (int i = 0; i < 256; ++i) {
        const int32_t x = i - 128;
        t.cr_r[i] = static_cast<int16_t>((91881 * x + 32768) / 65536);
        t.cb_b[i] = static_cast<int16_t>((116130 * x + 32768) / 65536);
        t.cr_g[i] = -46802 * x + 32768;
        t.cb_g[i] = -22554 * x;
    }
    return t;
}

constexpr ColorTables kColorTables = make_color_tables();

// Each sample of in repeated `factor` times: n samples out.
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

}  // namespace

const ColorTables& color_tables() {
    return kColorTables;
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

#if defined(__SSE2__)

namespace {

// (numerator) / 65536 truncated toward zero, in 32-bit lanes.
inline __m128i divide_toward_zero(__m128i n) {
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(n, 31), _mm_set1_epi32(0xFFFF));
    return _mm_srai_epi32(_mm_add_epi32(n, bias), 16);
}

// The red and blue offsets of 8 chroma values (x = c - 128, 16-bit lanes):
// (factor * x + 32768) / 65536 toward zero, with factor = high * 65536 + low.
template <int kHigh, int kLow>
inline __m128i scaled_offset(__m128i x) {
    const __m128i pair = _mm_set1_epi32((16384 << 16) | (kLow & 0xFFFF));  // (low, 16384)
    const __m128i two = _mm_set1_epi16(2);
    __m128i sum[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i x_two = half == 0 ? _mm_unpacklo_epi16(x, two) : _mm_unpackhi_epi16(x, two);
        // x * 65536 as a 32-bit lane: x in the high half, zeros below.
        const __m128i high = half == 0 ? _mm_unpacklo_epi16(_mm_setzero_si128(), x)
                                       : _mm_unpackhi_epi16(_mm_setzero_si128(), x);
        __m128i n = _mm_madd_epi16(x_two, pair);  // low * x + 32768
        for (int i = 0; i < kHigh; ++i) {
            n = _mm_add_epi32(n, high);
        }
        sum[half] = divide_toward_zero(n);
    }
    return _mm_packs_epi32(sum[0], sum[1]);
}

// The green offset: (-46802 * xr - 22554 * xb + 32768) >> 16.
inline __m128i green_offset(__m128i xr, __m128i xb) {
    const __m128i factors = _mm_set1_epi32((-11277 << 16) | (-23401 & 0xFFFF));  // halves
    const __m128i round = _mm_set1_epi32(32768);
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(xr, xb), factors);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(xr, xb), factors);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(lo, 1), round), 16),
                           _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(hi, 1), round), 16));
}

// Four blue, green, red, 0 pixels (a 128-bit lane) to 12 packed bytes,
// stored as 16 (the last 4 are overwritten by the next group).
inline void store_four(uint8_t* out, __m128i bgr0) {
    const __m128i low = _mm_and_si128(bgr0, _mm_set1_epi64x(0xFFFFFF));
    const __m128i high = _mm_and_si128(_mm_srli_epi64(bgr0, 8), _mm_set1_epi64x(0xFFFFFF000000));
    const __m128i six = _mm_or_si128(low, high);  // 6 bytes in each 64-bit half
    const __m128i packed =
        _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
}

}  // namespace

void ycc_to_bgr_row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                    uint32_t n, bool half_chroma) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i center = _mm_set1_epi16(128);
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
            const __m128i o[3] = {scaled_offset<2, 50594 - 65536>(xb), green_offset(xr, xb),
                                  scaled_offset<1, 26345>(xr)};
            for (int c = 0; c < 3; ++c) {
                offset[c][0] = _mm_unpacklo_epi16(o[c], o[c]);
                offset[c][1] = _mm_unpackhi_epi16(o[c], o[c]);
            }
        } else {
            const __m128i b16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
            const __m128i r16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
            for (int half = 0; half < 2; ++half) {
                const __m128i xb = _mm_sub_epi16(
                    half == 0 ? _mm_unpacklo_epi8(b16, zero) : _mm_unpackhi_epi8(b16, zero),
                    center);
                const __m128i xr = _mm_sub_epi16(
                    half == 0 ? _mm_unpacklo_epi8(r16, zero) : _mm_unpackhi_epi8(r16, zero),
                    center);
                offset[0][half] = scaled_offset<2, 50594 - 65536>(xb);
                offset[1][half] = green_offset(xr, xb);
                offset[2][half] = scaled_offset<1, 26345>(xr);
            }
        }
        __m128i channel[3][2];  // blue, green, red
        for (int half = 0; half < 2; ++half) {
            const __m128i l16 =
                half == 0 ? _mm_unpacklo_epi8(luma, zero) : _mm_unpackhi_epi8(luma, zero);
            for (int c = 0; c < 3; ++c) {
                channel[c][half] = _mm_add_epi16(l16, offset[c][half]);
            }
        }
        // Clamped to 0..255 by the saturating packs.
        const __m128i b = _mm_packus_epi16(channel[0][0], channel[0][1]);
        const __m128i g = _mm_packus_epi16(channel[1][0], channel[1][1]);
        const __m128i r = _mm_packus_epi16(channel[2][0], channel[2][1]);
        const __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
        const __m128i r0_lo = _mm_unpacklo_epi8(r, zero), r0_hi = _mm_unpackhi_epi8(r, zero);
        uint8_t* o = out + 3 * size_t{x};
        store_four(o, _mm_unpacklo_epi16(bg_lo, r0_lo));
        store_four(o + 12, _mm_unpackhi_epi16(bg_lo, r0_lo));
        store_four(o + 24, _mm_unpacklo_epi16(bg_hi, r0_hi));
        store_four(o + 36, _mm_unpackhi_epi16(bg_hi, r0_hi));
    }
    const uint32_t shift = half_chroma ? 1 : 0;
    ycc_to_bgr_row_plain(y + x, cb + (x >> shift), cr + (x >> shift), out + 3 * size_t{x}, n - x,
                         half_chroma);
}

#else

void ycc_to_bgr_row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                    uint32_t n, bool half_chroma) {
    ycc_to_bgr_row_plain(y, cb, cr, out, n, half_chroma);
}

#endif

ImgStatus PictureOutput::start(const Decoder& d, ImageDesc& image) {
    image_ = &image;
    const Frame& f = d.frame;
    place_ = place_rows(image, f.height, f.width, RowFill::kFromTop);
    count_ = f.count;
    mcu_height_ = d.mcu_height;
    for (uint32_t c = 0; c < count_; ++c) {
        const Component& comp = f.components[c];
        h_factor_[c] = d.hmax / comp.h;
        v_factor_[c] = d.vmax / comp.v;
        // Whole MCUs across (at least one block), and 16 spare bytes.
        strides_[c] = size_t{std::max(d.mcus_wide, 1u)} * comp.h * 8 + 16;
        planes_[c].reset(new (std::nothrow) uint8_t[strides_[c] * comp.v * 8]());
        wide_[c].reset(new (std::nothrow) uint8_t[size_t{place_.columns} + 16]);
        if (!planes_[c] || !wide_[c]) {
            return IMG_ERR_MEMORY;
        }
    }
    return IMG_OK;
}

void PictureOutput::emit(uint32_t mcu_row, uint32_t columns) {
    const uint32_t n = std::min(columns, place_.columns);
    const uint32_t first = mcu_row * mcu_height_;
    if (n == 0 || first >= place_.rows) {
        return;
    }
    const uint32_t rows = std::min(mcu_height_, place_.rows - first);
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* destination = placed_row(*image_, place_, first + r);
        // Chroma of half the width (4:2:0, 4:2:2) is replicated by the
        // conversion itself.
        const bool half_chroma =
            count_ == 3 && h_factor_[0] == 1 && h_factor_[1] == 2 && h_factor_[2] == 2;
        const uint8_t* source[3] = {};
        for (uint32_t c = 0; c < count_; ++c) {
            const uint8_t* row = planes_[c].get() + size_t{r / v_factor_[c]} * strides_[c];
            if (h_factor_[c] > 1 && !(half_chroma && c > 0)) {
                replicate(row, wide_[c].get(), n, h_factor_[c]);
                row = wide_[c].get();
            }
            source[c] = row;
        }
        if (count_ == 1) {
            std::memcpy(destination, source[0], n);
        } else {
            ycc_to_bgr_row(source[0], source[1], source[2], destination, n, half_chroma);
        }
    }
}

}  // namespace imaging::jpeg
