// Drawing an image on the screen.
//
// image_display draws the visible part of a descriptor at its natural size into
// a drawing surface, from a scroll position on. When the display shows too few
// colours for the picture (a true-colour picture on a 256-colour display, or a
// picture of more than 16 colours on a display of 4 bits or fewer), only the
// visible part is first dithered into a temporary 8-bit copy with a fixed
// display palette (dither.h), and that copy is drawn instead.
//
// Before drawing, a logical palette is made from the picture's colour table,
// selected while the rows are drawn, and handed back to the caller, who owns
// it and deletes it (DisplaySurface::delete_palette) before the next draw.
//
// The window system stays behind DisplaySurface: the library asks it for the
// display's depth and the client size, hands it rows to draw and asks it to
// make, select and delete logical palettes.
#pragma once

#include <cstdint>

#include "imaging/dither.h"
#include "imaging/image.h"

namespace imaging {

// A logical palette made by a surface; null when there is none.
using DisplayPalette = void*;

// The drawing area of a window: it spans 0..right-1 by 0..bottom-1.
struct ClientSize {
    int32_t right;
    int32_t bottom;
};

// A block of picture rows handed to DisplaySurface::draw_rows, in the layout of
// the descriptor it comes from (rows bottom-up, each row_bytes apart).
//
// The block is `height` rows of `width` pixels; its top-left pixel goes to
// (x, y) of the client area. Picture row i of the block (0 = top) starts at
//     row_start + (height - 1 - i) * row_bytes
// and its pixels are columns first_column .. first_column + width - 1 of that
// stored row. `bits` and `source_x` describe the same first pixel the way a
// bitmap transfer takes it: `bits` = row_start + (bits_per_pixel *
// first_column) / 8 and `source_x` = first_column mod 8 for 1-bit rows, else 0.
//
// Pixels: 1 bit, eight to a byte, leftmost in the most significant bit, each an
// index into `colors`; 8 bits, an index into `colors`; 16 bits, a little-endian
// gray sample 0..65535 (no colour table); 24 bits, blue, green, red bytes.
// `colors` is the colour table as the image's header declares it (for 1 and 8
// bits), null with count 0 otherwise; a surface draws indices past color_count
// black.
//
// row_start is the beginning of a stored row, so it is as aligned as the
// descriptor's storage (4 bytes at least) and row_bytes is a multiple of 4: a
// surface can wrap the block in place, width first_column + width, height
// `height`, stride row_bytes, and flip it vertically when drawing.
struct SurfaceRows {
    int32_t x;  // destination of the block's top-left pixel
    int32_t y;
    int32_t width;               // pixels per row, > 0
    int32_t height;              // rows, > 0
    int32_t bits_per_pixel;      // 1, 8, 16 or 24
    const uint8_t* row_start;    // start of the block's bottom row (stored first)
    int32_t first_column;        // column of the block's first pixel in each row
    uint32_t row_bytes;          // distance between stored rows
    const uint8_t* bits;         // byte of the bottom row holding the first pixel
    int32_t source_x;            // pixels to skip within that byte (1 bit only)
    const PaletteEntry* colors;  // blue, green, red, 0; for 1 and 8 bits
    int32_t color_count;         // 2 for 1 bit, up to 256 for 8 bits, else 0
};

// What the library needs from a window and its painter. Implementations must
// not throw. The pointers of SurfaceRows are valid only during draw_rows.
class DisplaySurface {
  public:
    virtual ~DisplaySurface() = default;

    // Bits per pixel of the display: 1, 4, 8, 16, 24, 32...
    virtual int32_t bits_per_pixel() = 0;

    // Size of the window's drawing area.
    virtual ClientSize client_size() = 0;

    // Draws a block of rows at their natural size, clipped to the client area.
    virtual void draw_rows(const SurfaceRows& rows) = 0;

    // Makes a logical palette of `count` colours (1..256); null when refused.
    // The handle belongs to the caller of image_display until delete_palette,
    // and must stay valid across paints: a view keeps it from one paint to the
    // next and may delete it through another surface object than its maker.
    virtual DisplayPalette create_palette(const PaletteColor* colors, uint16_t count) = 0;

    // Selects a palette (null: the default one) as the foreground palette of the
    // painting and realises it. Returns the palette selected before, which the
    // library selects again when it has drawn.
    virtual DisplayPalette select_palette(DisplayPalette palette) = 0;

    // Releases a palette made by create_palette (never null).
    virtual void delete_palette(DisplayPalette palette) = 0;
};

// Ordered dithering, the only method there is.
inline constexpr int32_t kDisplayDither = 1;

// Draws `image` with its pixel (scroll_x, scroll_y) at the surface's
// (dest_x, dest_y), or, when the scroll position lies before the destination,
// with its top-left pixel at (dest_x - scroll_x, dest_y - scroll_y). Sets
// *palette to the new logical palette, or to null (also on failure). `method`
// selects the dithering; every value means ordered dithering. Returns the
// status of the dithering when it fails (nothing is drawn), else of the draw.
ImgStatus image_display(DisplaySurface& surface, DisplayPalette* palette, int32_t scroll_x,
                        int32_t scroll_y, ImageDesc* image, int32_t dest_x, int32_t dest_y,
                        int32_t method);

// Draws `image` from its pixel (first_column, first_row) on, at (dest_x,
// dest_y), as much as fits the client area, with its own logical palette
// (returned in *palette). IMG_ERR_RANGE without a header or for a negative
// first column or row, IMG_ERR_BAD_BUFFER without pixels, IMG_ERR_BPP for a
// depth other than 1, 8, 16 and 24; IMG_ERR_MEMORY when the palette cannot be
// built (the rows are still drawn).
ImgStatus image_draw(DisplaySurface& surface, DisplayPalette* palette, int32_t first_column,
                     int32_t first_row, ImageDesc* image, int32_t dest_x, int32_t dest_y);

// Makes the logical palette of `image` into *palette (null when the image has
// no colours or the surface refuses). An image without colours first receives
// the default gray palette (palette_set_gray). Returns IMG_ERR_MEMORY when the
// palette's colour list cannot be allocated, else IMG_OK.
ImgStatus image_make_palette(DisplaySurface& surface, ImageDesc* image, DisplayPalette* palette);

// Allocates `temporary` as the part of `image` visible from (first_column,
// first_row) in the surface's client area when drawn at (dest_x, dest_y), and
// dithers that part into it for a display of display_bits. IMG_ERR_RANGE when
// nothing of the picture is visible; on a dithering failure the temporary is
// released again.
ImgStatus display_prepare(DisplaySurface& surface, int32_t first_column, int32_t first_row,
                          int32_t dest_x, int32_t dest_y, int32_t display_bits,
                          const ImageDesc* image, ImageDesc* temporary, int32_t method);

}  // namespace imaging
