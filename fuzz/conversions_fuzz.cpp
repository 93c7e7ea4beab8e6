// Fuzz target for the colour and size conversions: gray conversion and table
// lookup, palette mapping and reduction, median cut, resize and the copies.
//
// Input layout (bytes past the end read as 0):
//   0        operation (mod 9) and, in bit 7, whether the destination shares the
//            source's storage (a second view of the same picture)
//   1        mode, method or colour count for the operation
//   2..11    source: width - 1, height - 1 (each mod 48), bits selector
//            (1, 8, 16, 24), area corners (4 bytes, any order), colour count,
//            flags (bit 0: gray flag; bit 1: no palette)
//   12..21   destination, the same way
//   22..     palettes of both (3 bytes per entry for their colour counts), then
//            the pixel bytes of both pictures, repeated as needed
// Sizes stay below 48 x 48, so every run allocates a few kilobytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/convert/color_to_gray.h"
#include "imaging/convert/palette_map.h"
#include "imaging/convert/resize.h"
#include "imaging/convert/rgb_to_palette.h"
#include "imaging/image.h"
#include "imaging/parallel.h"

using namespace imaging;

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // The remaining bytes, cycled; zeros when there are none.
    uint8_t fill_byte() {
        if (pos_ >= size_) {
            return 0;
        }
        const uint8_t b = data_[pos_ + fill_++ % (size_ - pos_)];
        return b;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    size_t fill_ = 0;
};

struct Shape {
    int32_t width, height, bits;
    uint8_t corners[4];
    uint8_t colours;
    uint8_t flags;
};

Shape read_shape(Input& in) {
    constexpr int32_t kBits[4] = {1, 8, 16, 24};
    Shape s{};
    s.width = 1 + in.byte() % 48;
    s.height = 1 + in.byte() % 48;
    s.bits = kBits[in.byte() % 4];
    for (uint8_t& c : s.corners) {
        c = in.byte();
    }
    s.colours = in.byte();
    s.flags = in.byte();
    return s;
}

bool make_image(ImageDesc* image, const Shape& s) {
    if (image_alloc(image, s.width, s.height, s.bits) != IMG_OK) {
        return false;
    }
    // Corners within the picture, in whatever order the input gives them.
    image_set_area(image, s.corners[0] % s.width, s.corners[1] % s.height, s.corners[2] % s.width,
                   s.corners[3] % s.height);
    if (image->color_count > 0) {
        image->color_count = s.colours == 255 ? 300 : s.colours;  // 300: beyond the table
    }
    image->type_flags = (s.flags & 1) ? IMAGE_GRAY : 0;
    return true;
}

// Entries the colour table of an image holds: 2 for 1 bit, 256 for 8 bits.
int32_t table_entries(const ImageDesc& image) {
    const int32_t capacity = image_bits(image) == 1 ? 2 : (image_bits(image) == 8 ? 256 : 0);
    return image.palette == nullptr       ? 0
           : image.color_count < capacity ? (image.color_count < 0 ? 0 : image.color_count)
                                          : capacity;
}

void fill_palette(ImageDesc* image, Input& in) {
    const int32_t entries = table_entries(*image);
    for (int32_t i = 0; i < entries; ++i) {
        image->palette[i] = PaletteEntry{in.byte(), in.byte(), in.byte(), 0};
    }
}

void fill_pixels(ImageDesc* image, Input& in) {
    const size_t n = size_t{image->row_bytes} * static_cast<size_t>(image_height(*image));
    for (size_t i = 0; i < n; ++i) {
        image->pixels[i] = in.fill_byte();
    }
}

// Reads every byte of a picture and its palette.
uint32_t checksum(const ImageDesc& image) {
    uint32_t sum = 0;
    const size_t n = size_t{image.row_bytes} * static_cast<size_t>(image_height(image));
    for (size_t i = 0; i < n; ++i) {
        sum = sum * 31 + image.pixels[i];
    }
    const int32_t entries = table_entries(image);
    for (int32_t i = 0; i < entries; ++i) {
        sum = sum * 31 + image.palette[i].red + image.palette[i].green + image.palette[i].blue;
    }
    return sum;
}

// After a successful mapping every pixel of the common area is a palette index.
void check_indices(const ImageDesc& source, const ImageDesc& destination) {
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(&source, &destination, &rows, &columns);
    const int32_t count = destination.color_count > 256 ? 256 : destination.color_count;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* row = image_row(destination, destination.area_top + r);
        for (uint32_t x = 0; x < columns; ++x) {
            if (row[destination.area_left + x] >= count) {
                std::abort();
            }
        }
    }
}

volatile uint32_t g_sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // The threaded paths run whatever the picture's size: two parts each.
    const imaging::ThreadLimit threads(2);
    const uint8_t op_byte = in.byte();
    const int operation = (op_byte & 0x7F) % 9;
    const bool shared = (op_byte & 0x80) != 0;
    const uint8_t parameter = in.byte();
    const Shape source_shape = read_shape(in);
    Shape destination_shape = read_shape(in);

    ImageDesc source{};
    ImageDesc owned_destination{};
    if (!make_image(&source, source_shape)) {
        return 0;
    }
    if (source_shape.flags & 2) {
        source.palette = nullptr;
    }
    ImageDesc* destination = &owned_destination;
    ImageDesc view{};
    if (shared) {
        // A second view of the source's storage with its own area.
        image_copy_desc(&source, &view);
        image_set_area(&view, destination_shape.corners[0] % source_shape.width,
                       destination_shape.corners[1] % source_shape.height,
                       destination_shape.corners[2] % source_shape.width,
                       destination_shape.corners[3] % source_shape.height);
        destination = &view;
    } else if (!make_image(&owned_destination, destination_shape)) {
        image_free(&source);
        return 0;
    }
    if (source.palette != nullptr) {
        fill_palette(&source, in);
    }
    if (!shared) {
        if (destination_shape.flags & 2) {
            owned_destination.palette = nullptr;
        } else {
            fill_palette(&owned_destination, in);
        }
    }
    fill_pixels(&source, in);
    if (!shared) {
        fill_pixels(&owned_destination, in);
    }

    ImgStatus status = IMG_OK;
    switch (operation) {
        case 0:
            status = color_to_gray(&source, (parameter & 1) ? &source : destination);
            break;
        case 1: {
            uint8_t table[256];
            for (int i = 0; i < 256; ++i) {
                table[i] = static_cast<uint8_t>(i * parameter);
            }
            status = image_apply_lut(table, table, table, &source, destination);
            break;
        }
        case 2:
            status = map_to_palette(&source, destination, parameter % 5);
            if (status == IMG_OK) {
                check_indices(source, *destination);
            }
            break;
        case 3:
            status = palette_reduce(&source, destination);
            if (status == IMG_OK) {
                check_indices(source, *destination);
            }
            break;
        case 4:
            status = rgb_to_palette(1 + parameter % 258, &source, destination, parameter % 5);
            if (status == IMG_OK) {
                check_indices(source, *destination);
            }
            break;
        case 5:
            status = image_resize(&source, destination, parameter % 2);
            break;
        case 6:
            status = image_copy(&source, destination);
            break;
        case 7:
            status = image_expand_to_rgb(&source, destination);
            break;
        default:
            palette_copy(&source, destination);
            break;
    }
    g_sink = static_cast<uint32_t>(status) + checksum(source) + checksum(*destination);

    image_free(&source);
    if (!shared) {
        image_free(&owned_destination);
    }
    return 0;
}
