// Reader for TIFF files (.tif): the first image of the file, stored in strips
// with one plane, as bilevel, 4-bit, 8-bit or 16-bit gray or palette images or
// 24-bit RGB images, uncompressed or compressed with PackBits, LZW or the CCITT
// fax codings.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// What the directory parse reports about the first image.
struct TiffInfo {
    int32_t byte_order;  // 0x4949 for "II", 0x4D4D for "MM"
    int32_t width;
    int32_t height;
    int32_t bits_per_sample;  // the first BitsPerSample value
    int32_t compression;
    int32_t samples_per_pixel;
    int32_t photometric;
    int32_t planar_config;
    int32_t bits_per_pixel;  // bits_per_sample, or 24 from 3 samples per pixel on
};

// Reads the header and the first image file directory. Returns 0 or a
// negative status.
ImgStatus tiff_info(const char* path, TiffInfo* info);

// Decodes the first image into an allocated descriptor of 1, 8, 16 or 24 bits
// per pixel (8 for 4-bit images) and loads its colour map as the palette. Rows
// land in the area of interest from its top row down. Returns 0, IMG_ERR_LZW
// when the data ends early or is damaged (the rows decoded so far stay and the
// palette is loaded), or another negative status.
ImgStatus tiff_load(const char* path, ImageDesc* image);

// Deletes the reader's lock (run by library_shutdown).
void tiff_cleanup();

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: the byte order "II" or "MM" followed by 42 in that order.
bool tiff_signature(std::span<const uint8_t> head);

}  // namespace imaging
