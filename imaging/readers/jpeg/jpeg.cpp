// Reader for JPEG files (.jpg).
//
// The information call runs the marker pass up to the first scan header (see
// jpeg_markers.cpp for the file's layout). The load runs the same pass, checks
// the frame, and then decodes:
//   - a sequential picture whose first scan holds every component streams MCU
//     row by MCU row (jpeg_sequential.cpp);
//   - a progressive picture, or a sequential one coded in several scans, is
//     first decoded scan by scan into a coefficient store per component
//     (jpeg_progressive.cpp);
// and the MCU rows go through the output stage (jpeg_output.h), on helper
// threads for a big picture (jpeg_threads.h).
// Rows land in the descriptor's area of interest from its top row down.

#include "imaging/readers/jpeg/jpeg.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "imaging/module_lock.h"
#include "imaging/readers/jpeg/jpeg_decoder.h"
#include "imaging/readers/jpeg/jpeg_output.h"
#include "imaging/readers/reader_driver.h"

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
    d.file_bytes = file.size();
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
    // A single component is coded block by block whatever its sampling
    // factors (its scans are never interleaved): once checked to lie in 1..4
    // (below), they do not matter.
    bool gray_factors = true;
    if (f.count == 1) {
        Component& c = f.components[0];
        gray_factors = c.h >= 1 && c.h <= 4 && c.v >= 1 && c.v <= 4;
        c.h = c.v = 1;
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
        if (!factors || !gray_factors || c.quant_slot >= defined_tables || c.dc_slot >= kSlots ||
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

// The reader's operations, run by the shared front door (reader_driver.h).
// Every call starts with no detail and keeps its decoder's.
struct JpegReader {
    using Info = JpegInfo;
    struct Header {
        std::unique_ptr<Decoder> decoder;
        JpegInfo info;  // once the header pass reached the first scan
    };
    static constexpr uint32_t kTargets = kAcceptBpp8_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kLockThenOpen;
    static ModuleLock& lock() { return g_lock; }

    static void begin() { g_last_detail = 0; }
    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        header.decoder.reset(new (std::nothrow) Decoder);
        if (!header.decoder) {
            return IMG_ERR_MEMORY;
        }
        const ImgStatus status = read_header(*header.decoder, file);
        if (status == IMG_OK) {
            fill_info(*header.decoder, &header.info);
        }
        return status;
    }
    static const Info& info_of(const Header& header) { return header.info; }
    static ImgStatus check(Header& header, const ImageDesc& image) {
        return check_frame(*header.decoder, image);
    }
    static ImgStatus pixel_pass(ReaderFile& /*file*/, Header& header, ImageDesc& image) {
        Decoder& d = *header.decoder;
        set_geometry(d);
        PictureOutput out;
        out.start(d, image);
        const bool one_pass = d.frame.process != 2 && d.scan.count == d.frame.count;
        return one_pass ? decode_sequential(d, out) : decode_with_store(d, out);
    }
    // The rows hold gray levels or colours: no palette.
    static int32_t palette_pass(ReaderFile& /*file*/, const Header& /*header*/,
                                ImageDesc& /*image*/) {
        return 0;
    }
    static void finish(const Header& header) {
        if (header.decoder) {
            g_last_detail = header.decoder->detail;
        }
    }
};

}  // namespace

ImgStatus jpeg_info(const char* path, JpegInfo* info) {
    return read_info<JpegReader>(path, info);
}

ImgStatus jpeg_load(const char* path, ImageDesc* image) {
    return read_load<JpegReader>(path, image);
}

bool jpeg_signature(std::span<const uint8_t> head) {
    return starts_with(head, "\xFF\xD8\xFF");
}

int32_t jpeg_last_detail() {
    auto lock = g_lock.acquire();
    return g_last_detail;
}

void jpeg_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
