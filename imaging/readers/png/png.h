// Reader for Portable Network Graphics files (.png).
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// What the chunk walk learns about a file. Multi-byte values are in host
// order. Zeroed entirely by every walk.
struct PngInfo {
    uint32_t width;             // 1..2^31 - 1 once checked
    uint32_t height;            // 1..2^31 - 1 once checked
    uint32_t bit_depth;         // 1, 2, 4, 8 or 16
    uint32_t bits_per_pixel;    // depth of the descriptor to load into: 1, 8 or 24
    uint32_t color_type;        // 0 gray, 2 truecolour, 3 palette, 4 gray+alpha, 6 truecolour+alpha
    uint32_t interlaced;        // 1 for Adam7, else 0
    uint32_t format_index;      // row of the format table, 0..14
    uint32_t channels;          // samples per pixel: 1, 2, 3 or 4
    uint32_t pixel_bits;        // channels x bit depth, 1..64
    uint32_t stored_row_bytes;  // bytes of one unfiltered row, below 2^31
    uint32_t has_transparency;  // 1 once a tRNS chunk has been taken
    // Palette images: byte 0 is the index of the first entry with the smallest
    // alpha. Other types: up to three 16-bit values.
    uint8_t transparency[6];
    uint32_t transparency_count;  // 1 for palette images, else the bytes taken (0..6)
    uint32_t has_background;      // 1 once a bKGD chunk has been taken
    uint8_t background[6];        // bKGD data; 16-bit values for non-palette images
    uint32_t background_count;    // bytes of bKGD data taken (0..6)
    uint32_t gamma;               // gAMA value: gamma x 100000
    uint32_t pixels_per_unit_x;   // pHYs
    uint32_t pixels_per_unit_y;
    uint32_t physical_unit;
    uint8_t significant_bits[4];  // sBIT: 3 bytes for palette images, else one per channel
    int32_t offset_x;             // oFFs
    int32_t offset_y;
    uint8_t offset_unit;
};

// Why the last call of the reader failed with IMG_ERR_PNG, or that its file
// ended before IEND when png_load gave IMG_ERR_LZW (0 after a call that did
// not fail either way).
enum PngDetail : int32_t {
    PNG_DETAIL_NONE = 0,
    PNG_DETAIL_CRITICAL_CHUNK = -100,  // unrecognised critical chunk
    PNG_DETAIL_IHDR_LENGTH = -102,     // IHDR length not 13
    PNG_DETAIL_BIT_DEPTH = -103,       // bit depth not 1, 2, 4, 8, 16
    PNG_DETAIL_COLOR_TYPE = -104,      // colour type not 0, 2, 3, 4, 6
    PNG_DETAIL_FORMAT = -105,          // colour type and bit depth not a valid pair
    PNG_DETAIL_INTERLACE = -106,       // interlace method above 1
    PNG_DETAIL_COMPRESSION = -107,     // compression method not 0
    PNG_DETAIL_FILTER_METHOD = -108,   // filter method not 0
    PNG_DETAIL_SIZE = -109,            // width or height 0 or above 2^31 - 1, or no IHDR
    PNG_DETAIL_SIGNATURE = -110,       // signature wrong
    PNG_DETAIL_CRC = -111,             // stored CRC differs from the computed one
    PNG_DETAIL_STREAM_END = -112,      // no image data, or it ends early or with data left over
    PNG_DETAIL_SHORT_READ = -113,      // short read of chunk data, a failing seek, a length
                                       // above 2^31 - 1
    PNG_DETAIL_INFLATE_INIT = -114,    // the inflate stream cannot be initialised
    PNG_DETAIL_INFLATE = -115,         // inflate failed or can make no further progress
};

// Walks the file's chunks and fills info; decodes no pixels. Returns 0 (also
// for a file that ends early after a whole, valid IHDR), IMG_ERR_OPEN,
// IMG_ERR_MEMORY or IMG_ERR_PNG (see png_last_detail).
ImgStatus png_info(const char* path, PngInfo* info);

// Decodes the file into an allocated descriptor of the bits per pixel that
// png_info reported; rows land in the area of interest from its top row down.
// On a failure during decoding the rows stored so far stay and the palette is
// still set. A file that ends before IEND gives IMG_ERR_LZW with the rows its
// image data reaches (the others untouched). Returns 0 or a negative status.
ImgStatus png_load(const char* path, ImageDesc* image);

// The detail of the reader's last IMG_ERR_PNG.
int32_t png_last_detail();

// Deletes the reader's lock (run by library_shutdown).
void png_cleanup();

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: the eight bytes 137 80 78 71 13 10 26 10.
bool png_signature(std::span<const uint8_t> head);

}  // namespace imaging
