// The row stages of the PNG reader after inflate: undoing the row filters and
// storing a row's pixels into the descriptor at 1, 8 or 24 bits per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging {

// One accepted pair of colour type and bit depth, and what its pixels become.
struct PngFormat {
    uint8_t color_type;      // 0, 2, 3, 4 or 6
    uint8_t bit_depth;       // 1, 2, 4, 8 or 16
    uint8_t bits_per_pixel;  // of the descriptor: 1, 8 or 24
    uint8_t channels;        // samples per pixel: 1..4
};

// The accepted pairs; a file's format index is its row here (0..14).
inline constexpr PngFormat kPngFormats[] = {
    {0, 1, 1, 1},  {0, 2, 8, 1},   {0, 4, 8, 1},  {0, 8, 8, 1},  {0, 16, 8, 1},
    {2, 8, 24, 3}, {2, 16, 24, 3}, {3, 1, 1, 1},  {3, 2, 8, 1},  {3, 4, 8, 1},
    {3, 8, 8, 1},  {4, 8, 8, 2},   {4, 16, 8, 2}, {6, 8, 24, 4}, {6, 16, 24, 4},
};
inline constexpr uint32_t kPngFormatCount = sizeof kPngFormats / sizeof kPngFormats[0];

// Undoes the filter of one row of length bytes: row[0] is the filter type
// (1 Sub, 2 Up, 3 Average, 4 Paeth; 0 and every type above 4 leave the row as
// it is), row[1 .. length) the filtered bytes. previous is the unfiltered
// previous row of the same pass in the same layout (zeros before the pass's
// first row). distance is the bytes of one pixel, rounded up: 1, 2, 3, 4, 6
// or 8; for distances above 1, length - 1 is a multiple of it.
void png_unfilter_row(uint8_t* row, const uint8_t* previous, size_t length, uint32_t distance);

// Where the pixels of one decoded row land in a descriptor row.
struct PngRowTarget {
    uint8_t* row;    // start of the descriptor row
    uint32_t first;  // descriptor column of the row's first pixel
    uint32_t step;   // columns between two pixels of the row: 1, 2, 4 or 8
    uint32_t count;  // pixels to store
};

// Stores the first target.count pixels of an unfiltered row (the bytes after
// its filter type) as the format's descriptor pixels: 16-bit samples keep
// their high byte, alpha is dropped, 2 and 4-bit gray is scaled to 0..255,
// palette indexes are kept, 24-bit pixels are written blue, green, red.
// Destination bits and bytes outside the stored pixels keep their values.
void png_store_row(const PngFormat& format, const uint8_t* pixels, const PngRowTarget& target);

}  // namespace imaging
