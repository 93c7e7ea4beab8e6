// Drawing an image on the screen through a DisplaySurface.
//
// A picture is drawn as it is stored whenever the display can show it: an
// 8-bit picture keeps its own palette on a 256-colour display, and displays of
// more than 8 bits take every depth. Only a true-colour picture on a 256-colour
// display, and a picture of 8 or more bits with more than 16 colours (or none)
// on a display of 4 bits or fewer, go through a dithered 8-bit copy, and that
// copy covers just the part of the picture the client area shows.

#include "imaging/display.h"

#include <algorithm>
#include <memory>
#include <new>

#include "imaging/checked_math.h"

namespace imaging {

namespace {

// Colour-table entries the storage block of an image with this header holds.
bool drawable_depth(int bits) {
    return bits == 1 || bits == 8 || bits == 16 || bits == 24;
}

// True when the display cannot show the picture as stored.
bool needs_dithered_copy(const ImageDesc& image, int32_t display_bits) {
    const int bits = image.header->biBitCount;
    if (bits == 24 && display_bits == 8) {
        return true;
    }
    const bool few_colors = image.color_count >= 1 && image.color_count <= 16;
    return display_bits <= 4 && bits >= 8 && !few_colors;
}

}  // namespace

ImgStatus image_make_palette(DisplaySurface& surface, ImageDesc* image, DisplayPalette* palette) {
    *palette = nullptr;
    if (image->header == nullptr) {
        return IMG_OK;
    }
    if (image->color_count == 0) {
        palette_set_gray(image);
    }
    // Never more entries than the storage holds.
    const int32_t count = palette_entries(*image);
    if (count <= 0 || image->palette == nullptr) {
        return IMG_OK;
    }
    std::unique_ptr<PaletteColor[]> colors(new (std::nothrow) PaletteColor[count]);
    if (!colors) {
        return IMG_ERR_MEMORY;
    }
    for (int32_t i = 0; i < count; ++i) {
        const PaletteEntry& e = image->palette[i];
        colors[i] = PaletteColor{e.red, e.green, e.blue, 0};
    }
    *palette = surface.create_palette(colors.get(), static_cast<uint16_t>(count));
    return IMG_OK;
}

ImgStatus image_draw(DisplaySurface& surface, DisplayPalette* palette, int32_t first_column,
                     int32_t first_row, ImageDesc* image, int32_t dest_x, int32_t dest_y) {
    *palette = nullptr;
    const BitmapInfoHeader* header = image->header;
    if (header == nullptr) {
        return IMG_ERR_RANGE;
    }
    if (image->pixels == nullptr) {
        return IMG_ERR_BAD_BUFFER;
    }
    const int bits = header->biBitCount;
    if (!drawable_depth(bits)) {
        return IMG_ERR_BPP;
    }
    const int64_t width = header->biWidth;
    const int64_t height = header->biHeight;
    if (first_column < 0 || first_row < 0 || width <= 0 || height <= 0 ||
        (width * bits + 7) / 8 > int64_t{image->row_bytes}) {
        return IMG_ERR_RANGE;
    }

    const ImgStatus status = image_make_palette(surface, image, palette);
    DisplayPalette previous = nullptr;
    const bool selected = status == IMG_OK && *palette != nullptr;
    if (selected) {
        previous = surface.select_palette(*palette);
    }

    // The visible block: what is left of the picture from the first column and
    // row on, cut at the client area's right and bottom edges.
    const ClientSize client = surface.client_size();
    const int64_t w = std::min(width - first_column, int64_t{client.right} - dest_x);
    const int64_t h = std::min(height - first_row, int64_t{client.bottom} - dest_y);
    if (w > 0 && h > 0) {
        // The block's bottom picture row, first_row + h - 1, is stored row
        // height - first_row - h (rows are stored bottom-up).
        const int64_t stored_row = height - first_row - h;
        SurfaceRows rows{};
        rows.x = dest_x;
        rows.y = dest_y;
        rows.width = static_cast<int32_t>(w);
        rows.height = static_cast<int32_t>(h);
        rows.bits_per_pixel = bits;
        rows.row_start = image->pixels + stored_row * image->row_bytes;
        rows.first_column = first_column;
        rows.row_bytes = image->row_bytes;
        rows.bits = rows.row_start + (int64_t{bits} * first_column) / 8;
        rows.source_x = bits == 1 ? first_column % 8 : 0;
        if (bits <= 8 && image->palette != nullptr) {
            rows.colors = image->palette;
            rows.color_count =
                std::min(header_color_count(header), palette_capacity(header->biBitCount));
        }
        surface.draw_rows(rows);
    }

    if (selected) {
        surface.select_palette(previous);
    }
    return status;
}

ImgStatus display_prepare(DisplaySurface& surface, int32_t first_column, int32_t first_row,
                          int32_t dest_x, int32_t dest_y, int32_t display_bits,
                          const ImageDesc* image, ImageDesc* temporary,
                          [[maybe_unused]] int32_t method) {
    if (image->header == nullptr || first_column < 0 || first_row < 0) {
        return IMG_ERR_RANGE;
    }
    ImageDesc work;
    image_copy_desc(image, &work);
    const ClientSize client = surface.client_size();

    // The visible part, at most the client area's size and never past the
    // picture's right and bottom edges.
    const int64_t left = first_column;
    const int64_t top = first_row;
    const int64_t right =
        std::min(left + (int64_t{client.right} - dest_x) - 1, int64_t{image->header->biWidth} - 1);
    const int64_t bottom =
        std::min(top + (int64_t{client.bottom} - dest_y) - 1, int64_t{image->header->biHeight} - 1);
    if (right < left || bottom < top) {
        return IMG_ERR_RANGE;  // nothing of the picture is visible
    }
    image_set_area(&work, static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                   static_cast<uint32_t>(right), static_cast<uint32_t>(bottom));

    ImgStatus status = image_alloc(temporary, static_cast<int32_t>(right - left + 1),
                                   static_cast<int32_t>(bottom - top + 1), 8);
    if (status != IMG_OK) {
        return status;
    }
    status =
        dither_ordered(&work, temporary, display_bits >= 8 ? kDitherPalette256 : kDitherPalette16);
    if (status != IMG_OK) {
        image_free(temporary);
    }
    return status;
}

ImgStatus image_display(DisplaySurface& surface, DisplayPalette* palette, int32_t scroll_x,
                        int32_t scroll_y, ImageDesc* image, int32_t dest_x, int32_t dest_y,
                        int32_t method) {
    // The caller has deleted the previous palette: never leave it behind, not
    // even when nothing is drawn.
    *palette = nullptr;
    if (image->header == nullptr) {
        return IMG_ERR_RANGE;
    }
    const int32_t display_bits = surface.bits_per_pixel();

    // A scroll position before the destination leaves a margin; past it, the
    // picture's first visible pixel goes to the client area's edge.
    int32_t first_column = 0;
    int32_t first_row = 0;
    int32_t x = 0;
    int32_t y = 0;
    if (scroll_x < dest_x) {
        x = clamp_to_i32(int64_t{dest_x} - scroll_x);
    } else {
        first_column = clamp_to_i32(int64_t{scroll_x} - dest_x);
    }
    if (scroll_y < dest_y) {
        y = clamp_to_i32(int64_t{dest_y} - scroll_y);
    } else {
        first_row = clamp_to_i32(int64_t{scroll_y} - dest_y);
    }

    if (!needs_dithered_copy(*image, display_bits)) {
        return image_draw(surface, palette, first_column, first_row, image, x, y);
    }
    ImageDesc temporary{};
    ImgStatus status = display_prepare(surface, first_column, first_row, x, y, display_bits, image,
                                       &temporary, method);
    if (status == IMG_OK) {
        status = image_draw(surface, palette, 0, 0, &temporary, x, y);
    }
    image_free(&temporary);
    return status;
}

}  // namespace imaging
