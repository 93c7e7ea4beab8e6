// Conversion of colour pictures to 8-bit gray, and per-channel table lookup.
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace imaging {

// Writes the gray level (30 R + 59 G + 11 B) / 100 of each source pixel into an
// 8-bit destination (which may be the source itself, for an 8-bit source) and
// gives the destination the gray ramp palette.
ImgStatus color_to_gray(ImageDesc* source, ImageDesc* destination);

// Per-channel table lookup from source to destination (same bits per pixel, 8
// or 24). An 8-bit image uses only the first table.
ImgStatus image_apply_lut(const uint8_t* red_table, const uint8_t* green_table,
                          const uint8_t* blue_table, ImageDesc* source, ImageDesc* destination);

}  // namespace imaging
