// Conversion of colour pictures to 8-bit gray, and per-channel table lookup.
//
// The gray level of a colour is (59 G + 30 R + 11 B) / 100 in unsigned integer
// arithmetic, truncated: 0..255. A 24-bit picture is converted pixel by pixel
// into an 8-bit destination. An 8-bit picture is converted through its palette:
// the palette becomes a 256-entry gray table (indices at or above the colour
// count read 0), and the table lookup replaces every index by its gray level,
// in place when source and destination are the same image. Either way the
// destination ends with the full 256-level gray ramp, so pixel value = gray
// level, whatever number of colours the picture declared before.

#include "imaging/convert/color_to_gray.h"

#include <cstddef>

#include "imaging/parallel.h"

namespace imaging {

namespace {

constexpr uint8_t gray_level(uint32_t red, uint32_t green, uint32_t blue) {
    return static_cast<uint8_t>((59 * green + 30 * red + 11 * blue) / 100);
}

// Rows are independent: a big picture's bands convert on all cores.
void rgb_rows_to_gray(const ImageDesc& source, ImageDesc& destination) {
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(&source, &destination, &rows, &columns);
    run_row_bands(rows, parallel_parts(uint64_t{rows} * columns),
                  [&](uint32_t first, uint32_t end, uint32_t) {
                      for (uint32_t r = first; r < end; ++r) {
                          const uint8_t* in =
                              image_row(source, source.area_top + r) + 3 * size_t{source.area_left};
                          uint8_t* out = image_row(destination, destination.area_top + r) +
                                         destination.area_left;
                          for (uint32_t x = 0; x < columns; ++x) {
                              out[x] = gray_level(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
                          }
                      }
                  });
}

// Whether rows of one image's area may lie where the other's other rows are:
// the two share storage without being the very same area.
bool rows_interleave(const ImageDesc& a, const ImageDesc& b) {
    const uint8_t* a_end = a.pixels + size_t{a.row_bytes} * uint32_t(image_height(a));
    const uint8_t* b_end = b.pixels + size_t{b.row_bytes} * uint32_t(image_height(b));
    const bool overlap = a.pixels < b_end && b.pixels < a_end;
    const bool same_area = a.pixels == b.pixels && a.row_bytes == b.row_bytes &&
                           a.area_top == b.area_top && a.area_left == b.area_left;
    return overlap && !same_area;
}

// Gives the 8-bit destination the whole 256-level ramp: a picture that declared
// fewer colours (a phone image declares 4) now holds gray levels up to 255.
void set_full_gray_ramp(ImageDesc* destination) {
    destination->header->biClrUsed = static_cast<uint32_t>(palette_capacity(8));
    palette_set_gray(destination);
}

}  // namespace

ImgStatus color_to_gray(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (image_bits(*destination) != 8) {
        return IMG_ERR_BPP;
    }

    if (image_bits(*source) == 24) {
        rgb_rows_to_gray(*source, *destination);
        set_full_gray_ramp(destination);
        return IMG_OK;
    }

    // 8 bits: the colour table holds 256 entries; only those in use count.
    uint8_t table[256] = {};
    const int32_t entries = palette_entries(*source);
    for (int32_t i = 0; i < entries; ++i) {
        const PaletteEntry& entry = source->palette[i];
        table[i] = gray_level(entry.red, entry.green, entry.blue);
    }
    status = image_apply_lut(table, table, table, source, destination);
    if (status == IMG_OK) {
        set_full_gray_ramp(destination);
    }
    return status;
}

ImgStatus image_apply_lut(const uint8_t* red_table, const uint8_t* green_table,
                          const uint8_t* blue_table, ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    const int32_t bits = image_bits(*source);
    if (bits != image_bits(*destination)) {
        return IMG_ERR_BPP;
    }

    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(source, destination, &rows, &columns);
    const size_t bytes = bits == 24 ? 3 : 1;
    // Within a row each byte is read before it is written, so the lookup also
    // works in place on the values the image had before the call. Bands run
    // at once only where each reads just the rows it writes.
    const uint32_t parts =
        rows_interleave(*source, *destination) ? 1 : parallel_parts(uint64_t{rows} * columns);
    run_row_bands(rows, parts, [&](uint32_t first, uint32_t end, uint32_t) {
        for (uint32_t r = first; r < end; ++r) {
            const uint8_t* in =
                image_row(*source, source->area_top + r) + bytes * source->area_left;
            uint8_t* out =
                image_row(*destination, destination->area_top + r) + bytes * destination->area_left;
            if (bits == 8) {
                for (uint32_t x = 0; x < columns; ++x) {
                    out[x] = red_table[in[x]];
                }
            } else {
                for (uint32_t x = 0; x < columns; ++x) {
                    out[3 * x] = blue_table[in[3 * x]];
                    out[3 * x + 1] = green_table[in[3 * x + 1]];
                    out[3 * x + 2] = red_table[in[3 * x + 2]];
                }
            }
        }
    });
    return IMG_OK;
}

}  // namespace imaging
