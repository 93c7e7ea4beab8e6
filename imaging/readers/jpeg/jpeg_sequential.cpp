// The sequential driver: a scan that holds every component, decoded MCU row
// by MCU row. Each MCU's blocks are Huffman-decoded into a coefficient row;
// each finished row goes to the output stage, on helper threads for a big
// picture (jpeg_threads.h) while the next row is decoded.

#include <algorithm>

#include "imaging/readers/jpeg/jpeg_decoder.h"
#include "imaging/readers/jpeg/jpeg_output.h"
#include "imaging/readers/jpeg/jpeg_threads.h"

namespace imaging::jpeg {

namespace {

// Decodes the MCUs of one MCU row into row (whose coefficients are 0). Returns the MCUs decoded:
// all of them, or those before a bad code or the end of the data (detail set).
uint32_t decode_mcu_row(Decoder& d, const PictureOutput& out, uint32_t& restarts_left,
                        CoefficientRow& row) {
    Frame& f = d.frame;
    const Scan& scan = d.scan;
    BitReader& bits = d.bits;
    for (uint32_t mcu_x = 0; mcu_x < d.mcus_wide; ++mcu_x) {
        if (d.restart_interval != 0) {
            if (restarts_left == 0) {
                bits.restart();
                for (uint32_t i = 0; i < f.count; ++i) {
                    f.components[i].dc_predictor = 0;
                }
                restarts_left = d.restart_interval;
            }
            --restarts_left;
        }
        bool bad_code = false;
        for (uint32_t i = 0; i < scan.count && !bad_code; ++i) {
            const uint32_t ci = scan.components[i];
            Component& c = f.components[ci];
            const HuffmanTable& dc = d.dc[c.dc_slot].table;
            const HuffmanTable& ac = d.ac[c.ac_slot].table;
            const uint32_t row_blocks = out.row_blocks(ci);
            for (uint32_t by = 0; by < c.v && !bad_code; ++by) {
                const size_t first = size_t{by} * row_blocks + size_t{mcu_x} * c.h;
                int16_t* block = row.blocks[ci] + first * 64;
                uint8_t* last = row.last[ci] + first;
                for (uint32_t bx = 0; bx < c.h; ++bx, block += 64) {
                    const int k = decode_block(bits, dc, ac, &c.dc_predictor, block);
                    if (k < 0) {
                        bad_code = true;
                        break;
                    }
                    last[bx] = static_cast<uint8_t>(k);
                }
            }
        }
        if (bad_code || bits.overran()) {
            // Data that ran out explains a bad code that follows it.
            d.detail = bits.overran() ? JPEG_DETAIL_DATA_ENDED : JPEG_DETAIL_HUFFMAN;
            return mcu_x;
        }
    }
    return d.mcus_wide;
}

}  // namespace

ImgStatus decode_sequential(Decoder& d, const PictureOutput& out) {
    const Scan& scan = d.scan;
    for (uint32_t i = 0; i < scan.count; ++i) {
        const Component& c = d.frame.components[scan.components[i]];
        if (!d.dc[c.dc_slot].defined || !d.ac[c.ac_slot].defined) {
            d.detail = JPEG_DETAIL_HUFFMAN;  // a table used but never defined
            return IMG_ERR_LZW;
        }
    }
    RowPipeline pipeline;
    if (pipeline.start(out, helpers_for(out), RowPipeline::Rows::kOwned) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    d.bits.start(d.chunk);
    uint32_t restarts_left = d.restart_interval;
    ImgStatus status = IMG_OK;
    const uint32_t rows = std::min(d.mcus_high, out.mcu_rows_to_place());
    for (uint32_t mcu_y = 0; mcu_y < rows && status == IMG_OK; ++mcu_y) {
        CoefficientRow& row = pipeline.next_free();
        const uint32_t decoded = decode_mcu_row(d, out, restarts_left, row);
        if (decoded < d.mcus_wide) {
            status = IMG_ERR_LZW;
        }
        // The MCUs decoded in this row (all of them unless the data failed).
        pipeline.hand_over(mcu_y, decoded * d.mcu_width);
    }
    pipeline.finish();
    d.bits.finish();
    return status;
}

}  // namespace imaging::jpeg
