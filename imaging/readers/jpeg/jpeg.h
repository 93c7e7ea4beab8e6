// Reader for JPEG files (.jpg): Huffman-coded baseline, extended sequential
// and progressive DCT pictures of 8-bit samples, gray or YCbCr.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// What the information call learns from the markers before the first scan.
struct JpegInfo {
    int32_t process;            // low four bits of the frame marker (0 baseline, 1 extended,
                                // 2 progressive, 3 lossless, 9..11 arithmetic); -1 when no
                                // frame header came before the first scan
    uint32_t width;             // X of the frame header
    uint32_t height;            // Y of the frame header
    uint32_t components;        // Nf
    uint32_t precision;         // P, bits per sample
    uint32_t component_ids[4];  // C1..C4
    uint32_t bits_per_pixel;    // 8 for one component, else 24
};

// Why the last call failed (0 after a successful information pass). Informative
// only: the status returned is what callers act on.
inline constexpr int32_t JPEG_DETAIL_PRECISION = -100;    // sample precision not 8
inline constexpr int32_t JPEG_DETAIL_DATA_ENDED = -101;   // the data (or a segment) ended
inline constexpr int32_t JPEG_DETAIL_READ = -104;         // a read of the file failed
inline constexpr int32_t JPEG_DETAIL_HUFFMAN = -105;      // a code longer than 16 bits, a DHT
                                                          // of more than 256 codes or codes
                                                          // that do not fit their lengths, or
                                                          // a table used but never defined
inline constexpr int32_t JPEG_DETAIL_COMPONENT = -106;    // more than 4 components; a bad
                                                          // sampling factor (outside 1..4 or
                                                          // not dividing the largest), table
                                                          // selector, missing quantization
                                                          // table; a DHT or DQT slot above 3
inline constexpr int32_t JPEG_DETAIL_BLOCKS = -107;       // more than 10 blocks per MCU
inline constexpr int32_t JPEG_DETAIL_COMPONENTS = -109;   // number of components not 1 or 3
inline constexpr int32_t JPEG_DETAIL_PROCESS = -110;      // not baseline, extended or progressive
inline constexpr int32_t JPEG_DETAIL_PROGRESSION = -113;  // bad scan parameters, or more scans
                                                          // than the decoder takes

// Parses the markers up to the first scan. Returns 0, IMG_ERR_OPEN,
// IMG_ERR_MEMORY or IMG_ERR_JPEG.
ImgStatus jpeg_info(const char* path, JpegInfo* info);

// Decodes the picture into an allocated 8-bit (gray) or 24-bit (colour)
// descriptor; rows land in the area of interest from its top row down. A
// failure inside the entropy-coded data returns IMG_ERR_LZW with the MCUs
// decoded before it in place.
ImgStatus jpeg_load(const char* path, ImageDesc* image);

// The detail code of the last failure of jpeg_info or jpeg_load.
int32_t jpeg_last_detail();

// Deletes the reader's lock (run by library_shutdown).
void jpeg_cleanup();

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: the start-of-image marker FF D8 and the first byte of
// the next marker, FF.
bool jpeg_signature(std::span<const uint8_t> head);

}  // namespace imaging
