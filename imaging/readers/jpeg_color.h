// From decoded blocks to the descriptor's rows: the component planes of one
// MCU row, replication of subsampled components, YCbCr to RGB conversion with
// integer tables, and the placement of the rows in the area of interest.
//
// Colour conversion (JFIF): with x = Cr - 128 and y = Cb - 128,
//   R = Y + 1.40200 x,  G = Y - 0.34414 y - 0.71414 x,  B = Y + 1.77200 y.
// The factors are scaled by 65536 and held in four 256-entry tables, so a pixel
// costs four look-ups and no multiplication: CrR and CbB give the rounded red
// and blue offsets (divisions truncating toward zero), CrG and CbG the green
// offset still scaled (with the rounding half in CrG), summed and shifted down
// by 16. The range-limit table clamps the sums to 0..255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/image.h"
#include "imaging/readers/jpeg_decoder.h"
#include "imaging/readers/jpeg_kernels.h"
#include "imaging/readers/reader_io.h"

namespace imaging::jpeg {

struct ColorTables {
    int16_t cr_r[256];
    int16_t cb_b[256];
    int32_t cr_g[256];
    int32_t cb_g[256];
};
const ColorTables& color_tables();

// One row of n pixels from Y, Cb and Cr samples to blue, green, red bytes.
// With half_chroma, each Cb and Cr sample covers two pixels across (else one).
// The SIMD paths (jpeg_kernels.h) compute the tables' values arithmetically
// and give the same bytes.
void ycc_to_bgr_row_plain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                          uint32_t n, bool half_chroma = false);

// The planes of one MCU row and the way out to the descriptor.
class PictureOutput {
  public:
    // Sizes the planes for the decoder's geometry. Returns 0 or IMG_ERR_MEMORY.
    ImgStatus start(const Decoder& d, ImageDesc& image);

    // Where the 8 x 8 samples of block (bx, by) of component c go: bx counts
    // blocks across the whole MCU row, by the block rows of the MCU (0..v-1).
    uint8_t* block_at(uint32_t c, uint32_t bx, uint32_t by) {
        return planes_[c].get() + size_t{by} * 8 * strides_[c] + size_t{bx} * 8;
    }
    size_t stride(uint32_t c) const { return strides_[c]; }

    // The inner loops chosen for this processor.
    const Kernels& kernels() const { return *kernels_; }

    // Rows of the picture to store (the area of interest's height at most).
    uint32_t rows_to_place() const { return place_.rows; }

    // Stores the picture rows of MCU row mcu_row, columns [0, columns) of the
    // picture (cut to the area of interest).
    void emit(uint32_t mcu_row, uint32_t columns);

  private:
    ImageDesc* image_ = nullptr;
    const Kernels* kernels_ = &jpeg::kernels();
    RowPlacement place_{};
    uint32_t count_ = 0;  // 1 or 3
    uint32_t mcu_height_ = 8;
    uint32_t h_factor_[3] = {1, 1, 1};  // replication across: hmax / h
    uint32_t v_factor_[3] = {1, 1, 1};  // and down: vmax / v
    size_t strides_[3] = {};
    std::unique_ptr<uint8_t[]> planes_[3];
    std::unique_ptr<uint8_t[]> wide_[3];  // one replicated row per component
};

}  // namespace imaging::jpeg
