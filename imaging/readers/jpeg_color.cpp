// Component planes, replication, colour conversion and output rows (see
// jpeg_color.h).

#include "imaging/readers/jpeg_color.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/readers/jpeg_idct.h"

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
            kernels_->ycc_row(source[0], source[1], source[2], destination, n, half_chroma);
        }
    }
}

}  // namespace imaging::jpeg
