// Reader for GIF files (.gif), GIF87a and GIF89a: the first image of a file.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// What the information call learns about the first image of a file.
struct GifInfo {
    int32_t width;              // of the first image, from its image descriptor
    int32_t height;             // likewise
    int32_t color_resolution;   // ((screen flags >> 4) & 7) + 1
    int32_t table_bits;         // of the local colour table, else of the screen's flags
    int32_t transparent_index;  // of the last graphic control extension before the
                                // image that has its transparency flag set; -1: none
    int32_t interlaced;         // 1 when the image's rows are stored interlaced
    int32_t lzw_min_code_size;  // the byte before the image data
    int32_t version;            // 87 or 89: the digits after "GIF"
    int32_t bits_per_pixel;     // 1 when table_bits is 1, else 8
};

// Describes the first image of the file. Returns 0 or a negative status.
ImgStatus gif_info(const char* path, GifInfo* info);

// Decodes the first image into an allocated 1 or 8-bit descriptor, its first
// row on the area of interest's top row, and loads its colour table as the
// palette. IMG_ERR_LZW: the image data is damaged or ends before the last row;
// the rows decoded until then stay and the palette is loaded.
ImgStatus gif_load(const char* path, ImageDesc* image);

// Deletes the reader's lock (run by library_shutdown).
void gif_cleanup();

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: "GIF87a" or "GIF89a".
bool gif_signature(std::span<const uint8_t> head);

}  // namespace imaging
