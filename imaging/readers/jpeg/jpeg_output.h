// The output stage of the JPEG decoder: from the coefficients of one MCU row
// to rows of the picture. Per component, the blocks are dequantised and
// inverse-transformed into a plane of the MCU row's samples; subsampled planes
// are replicated (chroma of half the width by the colour conversion itself),
// converted from YCbCr and stored in the descriptor's area of interest.
//
// What every thread shares (PictureOutput: where the rows go, the tables, the
// kernels) is fixed once the output has started; what each thread owns
// (OutputScratch: its planes) is passed in. MCU rows may thus be output on
// several threads at once, each writing only the picture rows of its own MCU
// rows (jpeg_threads.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/image.h"
#include "imaging/readers/jpeg/jpeg_decoder.h"
#include "imaging/readers/jpeg/jpeg_kernels.h"
#include "imaging/readers/reader_io.h"

namespace imaging::jpeg {

// The coefficients of one MCU row. Component c holds v rows of row_blocks(c)
// blocks, one after the other (the layout of a progressive picture's store
// too); each block 64 coefficients in natural order.
struct CoefficientRow {
    int16_t* blocks[3] = {};
    // Per block, in the same order: the highest zig-zag index decoded (0 for a
    // block of DC only). Null when not known: every block is transformed in full.
    uint8_t* last[3] = {};
};

// One thread's planes: the samples of an MCU row per component, and one
// replicated row per component.
class OutputScratch {
  private:
    friend class PictureOutput;
    std::unique_ptr<uint8_t[]> planes_[3];
    std::unique_ptr<uint8_t[]> wide_[3];
};

class PictureOutput {
  public:
    // Takes the checked frame's geometry and quantization tables, and the
    // descriptor's area of interest.
    void start(const Decoder& d, ImageDesc& image, const Kernels& kernels = jpeg::kernels());

    // Allocates a thread's planes. Returns 0 or IMG_ERR_MEMORY.
    ImgStatus make_scratch(OutputScratch& scratch) const;

    uint32_t components() const { return count_; }
    // Blocks across one row of component c in a CoefficientRow.
    uint32_t row_blocks(uint32_t c) const { return row_blocks_[c]; }
    // Block rows of component c in an MCU row.
    uint32_t block_rows(uint32_t c) const { return v_[c]; }
    // The MCU rows that hold picture rows to place.
    uint32_t mcu_rows_to_place() const { return mcu_rows_; }
    // Picture pixels to place: what decides whether helper threads pay.
    uint64_t pixels_to_place() const { return uint64_t{place_.rows} * place_.columns; }

    // Outputs MCU row mcu_row, of which the picture columns [0, columns) were
    // decoded (the rest of the row stays as it is).
    void output_row(const CoefficientRow& row, uint32_t mcu_row, uint32_t columns,
                    OutputScratch& scratch) const;

  private:
    void transform(const CoefficientRow& row, uint32_t columns, OutputScratch& scratch) const;
    void store_rows(uint32_t mcu_row, uint32_t columns, OutputScratch& scratch) const;

    ImageDesc* image_ = nullptr;
    const Kernels* kernels_ = nullptr;
    RowPlacement place_{};
    uint32_t count_ = 0;  // 1 or 3
    uint32_t mcu_height_ = 8;
    uint32_t mcu_rows_ = 0;
    bool half_chroma_ = false;          // 3 components, chroma of half the luma's width
    bool pair_rows_ = false;            // chroma of half the height of a luma of full size
    uint32_t h_factor_[3] = {1, 1, 1};  // replication across: hmax / h
    uint32_t v_factor_[3] = {1, 1, 1};  // and down: vmax / v
    uint32_t v_[3] = {1, 1, 1};
    uint32_t row_blocks_[3] = {};
    size_t strides_[3] = {};  // of the planes
    const uint16_t* quant_[3] = {};
};

}  // namespace imaging::jpeg
