// Ordered dithering to the fixed display palettes.
//
// Displays that show only 16 or 256 colours at a time get a dithered 8-bit copy
// of the visible part of a picture, whose indices refer to one of two fixed
// palettes built from the platform's 20 static system colours:
//
//   256 colours   0..9     system colours 0..9
//                 10..225  a 6 x 6 x 6 colour cube, levels 255, 204, .., 0;
//                          red outermost, blue innermost (10 white, 225 black)
//                 226..245 twenty grays 16, 28, .., 244
//                 246..255 system colours 10..19
//   16 colours    system colours 0..7 followed by 12..19
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace imaging {

// One entry of a logical (display) palette, in the window system's order.
struct PaletteColor {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t flags;  // always 0
};

// The 20 static colours of the platform's default palette.
inline constexpr PaletteColor kSystemPalette[20] = {
    {0, 0, 0, 0},        // black
    {128, 0, 0, 0},      // dark red
    {0, 128, 0, 0},      // dark green
    {128, 128, 0, 0},    // dark yellow
    {0, 0, 128, 0},      // dark blue
    {128, 0, 128, 0},    // dark magenta
    {0, 128, 128, 0},    // dark cyan
    {192, 192, 192, 0},  // light gray
    {192, 220, 192, 0},  // money green
    {166, 202, 240, 0},  // sky blue
    {255, 251, 240, 0},  // cream
    {160, 160, 164, 0},  // medium gray
    {128, 128, 128, 0},  // dark gray
    {255, 0, 0, 0},      // red
    {0, 255, 0, 0},      // green
    {255, 255, 0, 0},    // yellow
    {0, 0, 255, 0},      // blue
    {255, 0, 255, 0},    // magenta
    {0, 255, 255, 0},    // cyan
    {255, 255, 255, 0},  // white
};

// Thresholds 0..50 of the ordered dither, row index first: the classic 8 x 8
// recursive index matrix (0..63, first row 0, 48, 12, 60, 3, 51, 15, 63) scaled
// by 51 / 64 and truncated, so that a channel's remainder modulo 51 is compared
// against a threshold of the same range.
inline constexpr uint8_t DITHER_MATRIX[8][8] = {
    {0, 38, 9, 47, 2, 40, 11, 50},  {25, 12, 35, 22, 27, 15, 37, 24},
    {6, 44, 3, 41, 8, 47, 5, 43},   {31, 19, 28, 15, 34, 21, 31, 18},
    {1, 39, 11, 49, 0, 39, 10, 48}, {27, 14, 36, 23, 26, 13, 35, 23},
    {7, 46, 4, 43, 7, 45, 3, 42},   {33, 20, 30, 17, 32, 19, 29, 16},
};

// Palette kinds of dither_ordered.
inline constexpr int32_t kDitherPalette16 = 0;
inline constexpr int32_t kDitherPalette256 = 1;

// Dithers the common area of source (8 or 24 bits) into the 8-bit destination
// and gives the destination the fixed palette of the kind (kDitherPalette16 or
// kDitherPalette256) without the gray flag. Returns the first validation
// failure of source then destination, IMG_ERR_BPP when the destination is not
// 8-bit, IMG_ERR_RANGE when it (or an 8-bit source) has no colour table,
// IMG_ERR_PARAM for another kind, IMG_ERR_MEMORY without a row buffer.
ImgStatus dither_ordered(ImageDesc* source, ImageDesc* destination, int32_t kind);

// Writes the 16-colour display palette into an 8-bit image and sets its
// color_count. Returns the entries written (16), or 0 when the image is not
// 8-bit or has no colour table.
int32_t palette_set_system16(ImageDesc* image);

// Writes the 256-colour display palette into an 8-bit image (the fourth byte of
// each entry is left as it is) and sets its color_count. Returns 256, or 0 when
// the image is not 8-bit or has no colour table.
int32_t palette_set_cube(ImageDesc* image);

}  // namespace imaging
