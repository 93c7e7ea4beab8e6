// The output stage (see jpeg_output.h).

#include "imaging/readers/jpeg/jpeg_output.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/readers/jpeg/jpeg_color.h"
#include "imaging/readers/jpeg/jpeg_idct.h"

namespace imaging::jpeg {

void PictureOutput::start(const Decoder& d, ImageDesc& image, const Kernels& kernels) {
    image_ = &image;
    kernels_ = &kernels;
    const Frame& f = d.frame;
    place_ = place_rows(image, f.height, f.width, RowFill::kFromTop);
    count_ = f.count;
    mcu_height_ = d.mcu_height;
    // place_.rows <= f.height < 32768: the MCU rows to place lie within the frame's.
    mcu_rows_ = (place_.rows + d.mcu_height - 1) / d.mcu_height;
    for (uint32_t c = 0; c < count_; ++c) {
        const Component& comp = f.components[c];
        h_factor_[c] = d.hmax / comp.h;
        v_factor_[c] = d.vmax / comp.v;
        v_[c] = comp.v;
        row_blocks_[c] = comp.blocks_wide;
        // Whole MCUs across (at least one block), and 16 spare bytes.
        strides_[c] = size_t{std::max(comp.blocks_wide, 1u)} * 8 + 16;
        quant_[c] = comp.quant;
    }
    half_chroma_ = count_ == 3 && h_factor_[0] == 1 && h_factor_[1] == 2 && h_factor_[2] == 2;
    pair_rows_ = count_ == 3 && h_factor_[0] == 1 && v_factor_[0] == 1 && v_factor_[1] == 2 &&
                 v_factor_[2] == 2;
}

ImgStatus PictureOutput::make_scratch(OutputScratch& scratch) const {
    for (uint32_t c = 0; c < count_; ++c) {
        scratch.planes_[c].reset(new (std::nothrow) uint8_t[strides_[c] * v_[c] * 8]());
        scratch.wide_[c].reset(new (std::nothrow) uint8_t[size_t{place_.columns} + 16]);
        if (!scratch.planes_[c] || !scratch.wide_[c]) {
            return IMG_ERR_MEMORY;
        }
    }
    return IMG_OK;
}

void PictureOutput::output_row(const CoefficientRow& row, uint32_t mcu_row, uint32_t columns,
                               OutputScratch& scratch) const {
    const uint32_t n = std::min(columns, place_.columns);
    if (n == 0 || mcu_row >= mcu_rows_) {
        return;
    }
    transform(row, n, scratch);
    store_rows(mcu_row, n, scratch);
}

// Inverse-transforms the blocks that the first n picture columns need.
void PictureOutput::transform(const CoefficientRow& row, uint32_t n, OutputScratch& scratch) const {
    for (uint32_t c = 0; c < count_; ++c) {
        // Column x of the picture takes sample x / h_factor of the component.
        const uint32_t samples = (n + h_factor_[c] - 1) / h_factor_[c];
        const uint32_t blocks = std::min((samples + 7) / 8, row_blocks_[c]);
        const uint16_t* quant = quant_[c];
        const size_t stride = strides_[c];
        for (uint32_t by = 0; by < v_[c]; ++by) {
            const size_t first = size_t{by} * row_blocks_[c];
            const int16_t* block = row.blocks[c] + first * 64;
            const uint8_t* last = row.last[c] != nullptr ? row.last[c] + first : nullptr;
            uint8_t* out = scratch.planes_[c].get() + size_t{by} * 8 * stride;
            // Blocks of DC only are filled with their one value; the others
            // go two at a time where the kernels gain by it.
            uint32_t bx = 0;
            for (; bx + 1 < blocks; bx += 2, block += 128, out += 16) {
                const bool dc_only[2] = {last != nullptr && last[bx] == 0,
                                         last != nullptr && last[bx + 1] == 0};
                if (dc_only[0] && dc_only[1]) {
                    idct_dc_only(block[0], quant[0], out, stride);
                    idct_dc_only(block[64], quant[0], out + 8, stride);
                } else {
                    kernels_->idct_pair(block, quant, out, stride);
                }
            }
            if (bx < blocks) {
                if (last != nullptr && last[bx] == 0) {
                    idct_dc_only(block[0], quant[0], out, stride);
                } else {
                    kernels_->idct(block, quant, out, stride);
                }
            }
        }
    }
}

// Stores the picture rows of MCU row mcu_row, columns [0, n).
void PictureOutput::store_rows(uint32_t mcu_row, uint32_t n, OutputScratch& scratch) const {
    const uint32_t first = mcu_row * mcu_height_;
    const uint32_t rows = std::min(mcu_height_, place_.rows - first);
    for (uint32_t r = 0; r < rows;) {
        uint8_t* destination = placed_row(*image_, place_, first + r);
        const uint8_t* source[3] = {};
        for (uint32_t c = 0; c < count_; ++c) {
            const uint8_t* samples =
                scratch.planes_[c].get() + size_t{r / v_factor_[c]} * strides_[c];
            // Chroma of half the width is replicated by the conversion itself.
            if (h_factor_[c] > 1 && !(half_chroma_ && c > 0)) {
                replicate(samples, scratch.wide_[c].get(), n, h_factor_[c]);
                samples = scratch.wide_[c].get();
            }
            source[c] = samples;
        }
        if (count_ == 1) {
            std::memcpy(destination, source[0], n);
        } else if (pair_rows_ && r + 1 < rows) {
            // Rows r and r + 1 (r even) share their chroma row.
            kernels_->ycc_row_pair(source[0], source[0] + strides_[0], source[1], source[2],
                                   destination, placed_row(*image_, place_, first + r + 1), n,
                                   half_chroma_);
            r += 2;
            continue;
        } else {
            kernels_->ycc_row(source[0], source[1], source[2], destination, n, half_chroma_);
        }
        ++r;
    }
}

}  // namespace imaging::jpeg
