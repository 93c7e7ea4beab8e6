// Reader for Truevision TGA files (.tga).
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace imaging {

// What the 18-byte file header says.
struct TgaInfo {
    int32_t id_length;             // header byte 0
    int32_t width;                 // header offset 12, sign-extended
    int32_t height;                // header offset 14, sign-extended
    int32_t color_map_type;        // header byte 1 (0: no colour map)
    int32_t image_type;            // header byte 2
    int32_t color_map_entry_size;  // header byte 7, bits
    int32_t x_origin;              // header offsets 8 and 10, sign-extended
    int32_t y_origin;
    int32_t pixel_depth;      // header byte 16, bits
    int32_t attribute_bits;   // image descriptor & 0x0F
    int32_t origin_bits;      // image descriptor >> 4: bit 0 right-to-left, bit 1 top-down
    int32_t interleave_bits;  // image descriptor & 0xC0
    int32_t bits_per_pixel;   // the image to allocate: 8 for 8-bit pixels and 16-bit
                              // gray with alpha, else 24
};

// Reads the file header into info. Returns 0 or a negative status.
ImgStatus tga_info(const char* path, TgaInfo* info);

// Fills an allocated descriptor with the file's pixels and palette: 8 bits
// per pixel for colour-mapped and gray files, 24 for true colour.
ImgStatus tga_load(const char* path, ImageDesc* image);

// Deletes the reader's lock (run by library_shutdown).
void tga_cleanup();

}  // namespace imaging
