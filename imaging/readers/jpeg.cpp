// Reader for JPEG files (.jpg).
//
// The information call runs the marker pass up to the first scan header (see
// jpeg_markers.cpp for the file's layout). The load runs the same pass, checks
// the frame, and then decodes:
//   - a sequential picture whose first scan holds every component streams MCU
//     row by MCU row: each MCU's blocks are Huffman-decoded, dequantised and
//     inverse-transformed into the component planes of the MCU row, which are
//     then replicated, converted to RGB and stored;
//   - a progressive picture, or a sequential one coded in several scans, is
//     first decoded scan by scan into a coefficient store per component and
//     then output the same way (jpeg_progressive.cpp).
// Rows land in the descriptor's area of interest from its top row down.

#include "imaging/readers/jpeg.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/module_lock.h"
#include "imaging/readers/jpeg_color.h"
#include "imaging/readers/jpeg_decoder.h"
#include "imaging/readers/jpeg_idct.h"

namespace imaging {

namespace {

using namespace jpeg;

// Serialises the calls of the reader; guards g_last_detail.
ModuleLock g_lock;
int32_t g_last_detail = 0;

// Size of the input buffer and of the segment buffer.
constexpr size_t kInputBytes = 65536;

// Sets up the decoder on the open file and runs the header pass to the first
// scan header. Returns 0, IMG_ERR_MEMORY or IMG_ERR_JPEG.
ImgStatus read_header(Decoder& d, ReaderFile& file) {
    d.segment.reset(new (std::nothrow) uint8_t[kInputBytes]);
    if (!d.segment || d.chunk.start(file, 1, kInputBytes) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    return marker_pass(d, PassMode::kHeader) == MarkerStop::kScan ? IMG_OK : IMG_ERR_JPEG;
}

ImgStatus refuse(Decoder& d, int32_t detail) {
    d.detail = detail;
    return IMG_ERR_JPEG;
}

// Checks the frame against what the decoder supports and the descriptor, in
// this order: the process (IMG_ERR_JPEG, detail -110), the size
// (IMG_ERR_RANGE), the number of components (-109), the precision (-100), the
// blocks per MCU (-107), each component's sampling factors, quantization slot
// and table and Huffman slots (-106), then the descriptor's depth
// (IMG_ERR_BPP).
ImgStatus check_frame(Decoder& d, const ImageDesc& image) {
    Frame& f = d.frame;
    if (!f.seen || f.process < 0 || f.process > 2) {
        return refuse(d, JPEG_DETAIL_PROCESS);
    }
    if (f.width >= 32768 || f.height >= 32768 || f.height == 0) {
        return IMG_ERR_RANGE;
    }
    if (f.count != 1 && f.count != 3) {
        return refuse(d, JPEG_DETAIL_COMPONENTS);
    }
    if (f.precision != 8) {
        return refuse(d, JPEG_DETAIL_PRECISION);
    }
    if (f.count == 1) {
        // A single component is coded block by block whatever its sampling
        // factors (its scans are never interleaved): they do not matter.
        f.components[0].h = f.components[0].v = 1;
    }
    uint32_t blocks = 0;
    uint32_t hmax = 1, vmax = 1;
    for (uint32_t i = 0; i < f.count; ++i) {
        blocks += f.components[i].h * f.components[i].v;  // at most 3 * 225
        hmax = std::max(hmax, f.components[i].h);
        vmax = std::max(vmax, f.components[i].v);
    }
    if (blocks > kMaxBlocksPerMcu) {
        return refuse(d, JPEG_DETAIL_BLOCKS);
    }
    uint32_t defined_tables = 0;  // slots 0 up to the first one no DQT defined
    while (defined_tables < kSlots && d.quant[defined_tables].defined) {
        ++defined_tables;
    }
    for (uint32_t i = 0; i < f.count; ++i) {
        const Component& c = f.components[i];
        // Factors that do not divide the largest one would need fractional
        // replication: refused.
        const bool factors =
            c.h >= 1 && c.h <= 4 && c.v >= 1 && c.v <= 4 && hmax % c.h == 0 && vmax % c.v == 0;
        if (!factors || c.quant_slot >= defined_tables || c.dc_slot >= kSlots ||
            c.ac_slot >= kSlots) {
            return refuse(d, JPEG_DETAIL_COMPONENT);
        }
    }
    if (image_bits(image) != (f.count == 1 ? 8 : 24)) {
        return IMG_ERR_BPP;
    }
    return IMG_OK;
}

// The MCU geometry of a checked frame, and each component's quantization table.
void set_geometry(Decoder& d) {
    Frame& f = d.frame;
    d.hmax = d.vmax = 1;
    for (uint32_t i = 0; i < f.count; ++i) {
        d.hmax = std::max(d.hmax, f.components[i].h);
        d.vmax = std::max(d.vmax, f.components[i].v);
    }
    d.mcu_width = 8 * d.hmax;
    d.mcu_height = 8 * d.vmax;
    d.mcus_wide = (f.width + d.mcu_width - 1) / d.mcu_width;
    d.mcus_high = (f.height + d.mcu_height - 1) / d.mcu_height;
    for (uint32_t i = 0; i < f.count; ++i) {
        Component& c = f.components[i];
        c.blocks_wide = d.mcus_wide * c.h;
        c.blocks_high = d.mcus_high * c.v;
        const uint32_t samples_wide = (f.width * c.h + d.hmax - 1) / d.hmax;
        const uint32_t samples_high = (f.height * c.v + d.vmax - 1) / d.vmax;
        c.scan_blocks_wide = (samples_wide + 7) / 8;
        c.scan_blocks_high = (samples_high + 7) / 8;
        c.quant = d.quant[c.quant_slot].natural;
    }
}

// Decodes a sequential scan that holds every component, MCU row by MCU row,
// storing each finished row. Returns 0 or IMG_ERR_LZW (detail set).
ImgStatus decode_sequential(Decoder& d, PictureOutput& out) {
    Frame& f = d.frame;
    const Scan& scan = d.scan;
    for (uint32_t i = 0; i < scan.count; ++i) {
        const Component& c = f.components[scan.components[i]];
        if (!d.dc[c.dc_slot].defined || !d.ac[c.ac_slot].defined) {
            d.detail = JPEG_DETAIL_HUFFMAN;  // a table used but never defined
            return IMG_ERR_LZW;
        }
    }
    alignas(16) int16_t block[64];
    BitReader& bits = d.bits;
    bits.start(d.chunk);
    uint32_t restarts_left = d.restart_interval;
    ImgStatus status = IMG_OK;
    for (uint32_t mcu_y = 0; mcu_y < d.mcus_high && status == IMG_OK; ++mcu_y) {
        if (mcu_y * d.mcu_height >= out.rows_to_place()) {
            break;
        }
        uint32_t mcu_x = 0;
        for (; mcu_x < d.mcus_wide; ++mcu_x) {
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
                for (uint32_t by = 0; by < c.v && !bad_code; ++by) {
                    for (uint32_t bx = 0; bx < c.h; ++bx) {
                        std::memset(block, 0, sizeof block);
                        const int last = decode_block(bits, dc, ac, &c.dc_predictor, block);
                        if (last < 0) {
                            bad_code = true;
                            break;
                        }
                        uint8_t* samples = out.block_at(ci, mcu_x * c.h + bx, by);
                        if (last == 0) {
                            idct_dc_only(block[0], c.quant[0], samples, out.stride(ci));
                        } else {
                            out.kernels().idct(block, c.quant, samples, out.stride(ci));
                        }
                    }
                }
            }
            if (bad_code || bits.overran()) {
                // Data that ran out explains a bad code that follows it.
                d.detail = bits.overran() ? JPEG_DETAIL_DATA_ENDED : JPEG_DETAIL_HUFFMAN;
                status = IMG_ERR_LZW;
                break;
            }
        }
        // The MCUs decoded in this row (all of them unless the data failed).
        out.emit(mcu_y, mcu_x * d.mcu_width);
    }
    bits.finish();
    return status;
}

// The load after the file is open. The caller holds the lock.
ImgStatus load(Decoder& d, ReaderFile& file, ImageDesc& image) {
    ImgStatus status = read_header(d, file);
    if (status != IMG_OK) {
        return status;
    }
    status = check_frame(d, image);
    if (status != IMG_OK) {
        return status;
    }
    set_geometry(d);
    PictureOutput out;
    if (out.start(d, image) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    const bool one_pass = d.frame.process != 2 && d.scan.count == d.frame.count;
    status = one_pass ? decode_sequential(d, out) : decode_with_store(d, out);
    if (status == IMG_OK || status == IMG_ERR_LZW) {
        palette_finish(&image, 0);
    }
    return status;
}

}  // namespace

ImgStatus jpeg_info(const char* path, JpegInfo* info) {
    if (info == nullptr) {
        return IMG_ERR_RANGE;
    }
    auto lock = g_lock.acquire();
    g_last_detail = 0;
    *info = JpegInfo{};
    info->process = -1;
    ReaderFile file;
    if (!file.open(path)) {
        return IMG_ERR_OPEN;
    }
    auto d = std::unique_ptr<Decoder>(new (std::nothrow) Decoder);
    if (!d) {
        return IMG_ERR_MEMORY;
    }
    const ImgStatus status = read_header(*d, file);
    if (status == IMG_OK) {
        fill_info(*d, info);
    }
    g_last_detail = d->detail;
    return status;
}

ImgStatus jpeg_load(const char* path, ImageDesc* image) {
    if (image == nullptr) {
        return IMG_ERR_BAD_BUFFER;
    }
    ImgStatus status = image_check_8_24(image);
    if (status != IMG_OK) {
        return status;
    }
    auto lock = g_lock.acquire();
    g_last_detail = 0;
    ReaderFile file;
    if (!file.open(path)) {
        return IMG_ERR_OPEN;
    }
    auto d = std::unique_ptr<Decoder>(new (std::nothrow) Decoder);
    if (!d) {
        return IMG_ERR_MEMORY;
    }
    status = load(*d, file, *image);
    g_last_detail = d->detail;
    return status;
}

int32_t jpeg_last_detail() {
    auto lock = g_lock.acquire();
    return g_last_detail;
}

void jpeg_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
