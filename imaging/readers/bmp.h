// Reader for Windows and OS/2 device-independent bitmap files (.bmp).
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// The information record is the format's own 40-byte information header.
using BmpInfo = BitmapInfoHeader;

// Reads the file's header into info (core headers are widened to the 40-byte
// form, defaults applied). Returns 0 or a negative status: IMG_ERR_RANGE for a
// picture no image can take whole (width outside 1..65535 for 1-bit files and
// 1..32768 for others, height 0 or beyond 32768 rows), before anything is
// allocated for it.
ImgStatus bmp_info(const char* path, BmpInfo* info);

// Fills an allocated descriptor with the file's pixels and palette. The
// descriptor's bits per pixel: the file's, 8 for a 4-bit file, 24 for 16 and 32
// bits. Rows land in the area of interest. Pixel data that ends before the
// picture's last row gives IMG_ERR_LZW, with the rows read stored and the
// palette loaded.
ImgStatus bmp_load(const char* path, ImageDesc* image);

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: "BM".
bool bmp_signature(std::span<const uint8_t> head);

// Deletes the reader's lock (run by library_shutdown).
void bmp_cleanup();

}  // namespace imaging
