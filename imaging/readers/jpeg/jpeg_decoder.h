// The JPEG decoder's shared state and the stages that work on it:
//
//   jpeg_markers.cpp      the marker pass: frame, tables, restart interval, scan
//                         headers, read from the chunk buffer
//   jpeg_huffman.*        derived Huffman tables, the bit reader, block decoding
//                         for sequential and progressive scans
//   jpeg_idct.*           dequantisation and the integer inverse DCT
//   jpeg_color.*          range limiting, YCbCr to RGB, replication of
//                         subsampled components
//   jpeg_kernels.*        the inverse DCT and colour conversion chosen for the
//                         processor (the SIMD paths are in imaging/simd/)
//   jpeg_output.*         the output stage: an MCU row's coefficients to rows
//                         of the picture
//   jpeg_threads.*        helper threads that run the output stage of big
//                         pictures beside the entropy decoding
//   jpeg_sequential.cpp   the driver of a scan that holds every component
//   jpeg_progressive.cpp  the coefficient store and the series of scans of
//                         progressive (and multi-scan sequential) pictures
//   jpeg.cpp              the entry points and validation
//
// One Decoder lives for one call; the reader's lock serialises the calls. The
// helper threads see only the output stage's shared part and the coefficient
// rows handed to them.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/readers/jpeg/jpeg.h"
#include "imaging/readers/jpeg/jpeg_huffman.h"
#include "imaging/readers/reader_io.h"

namespace imaging::jpeg {

inline constexpr uint32_t kSlots = 4;                        // quantization and Huffman slots 0..3
inline constexpr uint32_t kMaxComponents = 4;                // a frame header names at most 4
inline constexpr uint32_t kMaxBlocksPerMcu = 10;             // T.81's limit for an interleaved MCU
inline constexpr uint32_t kMaxScans = 500;                   // scans a picture may have
inline constexpr int64_t kMaxStoreBytes = int64_t{1} << 31;  // the library's block limit

struct QuantSlot {
    bool defined = false;
    uint16_t natural[64] = {};  // entries in natural order; 0 stored as 1
};

struct HuffmanSlot {
    bool defined = false;
    HuffmanTable table;
};

struct Component {
    uint32_t id = 0;
    uint32_t h = 1;  // sampling factors: 1..4 once checked (1 for a gray picture)
    uint32_t v = 1;
    uint32_t quant_slot = 0;  // 0..3 once checked
    uint32_t dc_slot = 0;     // of the current scan, 0..3 once checked
    uint32_t ac_slot = 0;
    int16_t dc_predictor = 0;
    const uint16_t* quant = nullptr;  // the slot's natural-order entries, once latched
    // Blocks of the component in whole MCUs (store layout, row by row).
    uint32_t blocks_wide = 0;
    uint32_t blocks_high = 0;
    // Blocks a scan of this component alone covers (the picture, not whole MCUs).
    uint32_t scan_blocks_wide = 0;
    uint32_t scan_blocks_high = 0;
    int16_t* store = nullptr;  // 64 coefficients per block; store path only
    uint8_t* last = nullptr;   // per block of the store, the highest index that may be non-zero
};

struct Frame {
    bool seen = false;
    int32_t process = -1;
    uint32_t precision = 0;
    uint32_t width = 0;   // 0..65535
    uint32_t height = 0;  // 0..65535
    uint32_t count = 0;   // Nf, 0..4
    Component components[kMaxComponents];
};

struct Scan {
    uint32_t count = 0;           // Ns, 0..3
    uint32_t components[3] = {};  // frame component of each scan component
    uint32_t ss = 0, se = 0, ah = 0, al = 0;
};

// How a marker pass ended.
enum class MarkerStop {
    kScan,        // a scan header was read; the entropy-coded data follows
    kEndOfImage,  // EOI
    kFailed,      // detail says why
};

// Header pass (information rules: SOI first, the first APP0 must be JFIF, the
// frame header and quantization tables are recorded) or a pass between scans
// (frame headers and quantization tables are no longer taken).
enum class PassMode { kHeader, kBetweenScans };

struct Decoder {
    ChunkReader chunk;
    std::unique_ptr<uint8_t[]> segment;  // 65536 bytes: one marker segment
    Frame frame;
    QuantSlot quant[kSlots];
    HuffmanSlot dc[kSlots];
    HuffmanSlot ac[kSlots];
    uint32_t restart_interval = 0;
    Scan scan;
    uint32_t scans = 0;          // scans decoded
    uint8_t pending_marker = 0;  // a marker the bit reader stopped at
    int32_t detail = 0;
    bool seen_app0 = false;
    uint64_t file_bytes = 0;  // the file's size: what bounds the work of its scans
    BitReader bits;

    // MCU geometry, set by set_geometry once the frame is checked.
    uint32_t hmax = 1, vmax = 1;
    uint32_t mcu_width = 8, mcu_height = 8;  // pixels
    uint32_t mcus_wide = 0, mcus_high = 0;
};

// Runs the marker pass from the chunk's position (jpeg_markers.cpp).
MarkerStop marker_pass(Decoder& d, PassMode mode);

// Fills info from a header pass that ended at a scan.
void fill_info(const Decoder& d, JpegInfo* info);

class PictureOutput;

// Decodes the scan just read, which holds every component of a sequential
// picture, and outputs it (jpeg_sequential.cpp). Returns 0, IMG_ERR_MEMORY or
// IMG_ERR_LZW (detail set) with the MCU rows decoded before the failure output.
ImgStatus decode_sequential(Decoder& d, const PictureOutput& out);

// Decodes a progressive or multi-scan sequential picture into per-component
// coefficient stores, starting with the scan header just read, then outputs it
// (jpeg_progressive.cpp). Returns 0, IMG_ERR_MEMORY, IMG_ERR_JPEG or IMG_ERR_LZW.
ImgStatus decode_with_store(Decoder& d, const PictureOutput& out);

}  // namespace imaging::jpeg
