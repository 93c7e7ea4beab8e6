// The image descriptor and its storage.
//
// Every picture in the imaging library lives behind an ImageDesc, a record that
// the caller owns and the library fills. Its storage is one zero-filled block:
//
//   +--------------------+----------------------------+-----------------------+
//   | 40-byte bitmap     | color table: 4 bytes per   | pixel rows, bottom    |
//   | information header | entry (blue, green, red, 0)| row first, each padded|
//   |                    | 2 or 256 entries, or none  | to a multiple of 4    |
//   +--------------------+----------------------------+-----------------------+
//   ^ header             ^ palette                     ^ pixels
//
// Rows are stored bottom-up: picture row y (0 = top) begins at
// pixels + (height - 1 - y) * row_bytes. Within a row, an 8-bit pixel is one
// palette index, a 24-bit pixel three bytes blue, green, red, a 16-bit pixel one
// gray sample, and 1-bit rows hold eight pixels per byte, leftmost in the most
// significant bit.
//
// The area of interest (area_left..area_right, area_top..area_bottom, inclusive,
// rows counted from the top) is the rectangle that readers fill, conversions
// work on and display draws. After allocation it is the whole image.
//
// image_copy_desc duplicates no storage: the copy shares the block and exactly
// one of the two may later be passed to image_free.
#pragma once

#include <bit>
#include <cstdint>

#include "imaging/status.h"

namespace imaging {

static_assert(std::endian::native == std::endian::little,
              "the bitmap header and palette layouts assume a little-endian host");

// The 40-byte device-independent bitmap information header, as BMP files store
// it (little-endian). It heads every image's storage block.
struct BitmapInfoHeader {
    uint32_t biSize;          // 40
    int32_t biWidth;          // pixels
    int32_t biHeight;         // pixels; positive: rows bottom-up
    uint16_t biPlanes;        // 1
    uint16_t biBitCount;      // 1, 8, 16 or 24 for an allocated image
    uint32_t biCompression;   // 0: uncompressed
    uint32_t biSizeImage;     // row_bytes * height
    int32_t biXPelsPerMeter;  // 0
    int32_t biYPelsPerMeter;  // 0
    uint32_t biClrUsed;       // colour-table entries in use
    uint32_t biClrImportant;  // same as biClrUsed
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// One colour-table entry, in the bitmap format's byte order.
struct PaletteEntry {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};
static_assert(sizeof(PaletteEntry) == 4);

// type_flags bit 0: the image is gray-scale. No other bit is used.
inline constexpr uint32_t IMAGE_GRAY = 1;

// Length of the phone-image title and prompt fields: the first 255 bytes of the
// text, zero-filled after a shorter text, not terminated after a longer one.
inline constexpr int kPhoneTextBytes = 255;

struct ImageDesc {
    uint8_t* pixels;     // first byte of the rows (the bottom row)
    uint32_t area_left;  // area of interest, inclusive, rows from the top
    uint32_t area_top;
    uint32_t area_right;
    uint32_t area_bottom;
    uint32_t row_bytes;     // bytes per stored row, a multiple of 4
    PaletteEntry* palette;  // colour table, just after the header
    int32_t color_count;    // entries in use; 0 for 16 and 24 bits
    uint32_t type_flags;    // IMAGE_GRAY or 0
    int32_t location_x;     // phone-image attributes, written only by the
    int32_t location_y;     // phone-image reader and kept by every other
    int32_t depth;          // operation
    char title[kPhoneTextBytes];
    char prompt[kPhoneTextBytes];
    BitmapInfoHeader* header;  // head of the storage block; null when empty
    void* section_bitmap;      // always null: rows live in the block itself
};

// Accepted bits-per-pixel sets for image_check: bit n set when n bits are accepted.
inline constexpr uint32_t kAcceptBpp1_8 = 0x102;
inline constexpr uint32_t kAcceptBpp8_24 = 0x1000100;
inline constexpr uint32_t kAcceptBpp1_8_24 = 0x1000102;
inline constexpr uint32_t kAcceptBpp1_8_16_24 = 0x1010102;

// Library start-up and shutdown.
void platform_detect();
void library_shutdown();
bool use_section_bitmaps();

// Allocation and release.
ImgStatus image_alloc(ImageDesc* image, int32_t width, int32_t height, int32_t bits);
ImgStatus image_alloc_memory(ImageDesc* image, int32_t width, int32_t height, int32_t bits);
// The bytes image_alloc takes for such an image (header, colour table and
// rows), or 0 for a size it refuses.
int64_t image_storage_bytes(int32_t width, int32_t height, int32_t bits);
ImgStatus image_free(ImageDesc* image);
ImgStatus image_zero(ImageDesc* image);
void image_copy_desc(const ImageDesc* source, ImageDesc* destination);
void image_set_area(ImageDesc* image, uint32_t left, uint32_t top, uint32_t right, uint32_t bottom);
ImgStatus image_sync_palette(ImageDesc* image);

// Validation. May reorder the area corners (left <= right, top <= bottom).
ImgStatus image_check(ImageDesc* image, uint32_t accepted_bits);
ImgStatus image_check_8_24(ImageDesc* image);
ImgStatus image_check_1_8_24(ImageDesc* image);
ImgStatus image_check_1_8_16_24(ImageDesc* image);

// Validates the source, then the destination, of a conversion; returns the
// first failure.
ImgStatus image_check_pair(ImageDesc* source, ImageDesc* destination, uint32_t accepted_bits);

// Palettes.
void palette_set_gray(ImageDesc* image);
int32_t gray_step(int32_t bits);
int32_t palette_is_gray(const ImageDesc* image);
int32_t header_color_count(const BitmapInfoHeader* header);

// Colour-table entries the storage of an image of `bits` per pixel holds:
// 2 for 1 bit, 256 for 8 bits, none from 16 bits on.
int32_t palette_capacity(int32_t bits);

// The colour entries in use that the table really holds: color_count kept
// within 0..palette_capacity; 0 without a colour table.
int32_t palette_entries(const ImageDesc& image);

// The rule every reader applies after storing the pixels: colour count from the
// entries read (0 when the file had no colour table), default gray ramp and gray
// flag when there were none, gray flag when the entries form the exact ramp.
void palette_finish(ImageDesc* image, int32_t entries_read);

// Rows and columns of A's area of interest, each lowered to B's when smaller.
void image_common_area(const ImageDesc* a, const ImageDesc* b, uint32_t* rows, uint32_t* columns);

// Small accessors over the header (0 when the descriptor is empty).
inline int32_t image_width(const ImageDesc& image) {
    return image.header ? image.header->biWidth : 0;
}
inline int32_t image_height(const ImageDesc& image) {
    return image.header ? image.header->biHeight : 0;
}
inline int32_t image_bits(const ImageDesc& image) {
    return image.header ? image.header->biBitCount : 0;
}

// Start of picture row y (0 = top). The caller guarantees 0 <= y < height.
inline uint8_t* image_row(const ImageDesc& image, uint32_t y) {
    const uint32_t stored = static_cast<uint32_t>(image.header->biHeight) - 1 - y;
    return image.pixels + static_cast<uint64_t>(stored) * image.row_bytes;
}

}  // namespace imaging
