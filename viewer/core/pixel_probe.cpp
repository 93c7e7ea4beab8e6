#include "viewer/core/pixel_probe.h"

#include <cstddef>

using namespace imaging;

namespace viewer {

namespace {

PixelValue indexed(const ImageDesc& image, int32_t index) {
    PixelValue value;
    value.kind = PixelValue::Kind::Indexed;
    value.index = index;
    if (index < palette_entries(image)) {
        const PaletteEntry& entry = image.palette[index];
        value.red = entry.red;
        value.green = entry.green;
        value.blue = entry.blue;
    }
    return value;
}

}  // namespace

PixelValue pixel_value(const ImageDesc& image, int32_t x, int32_t y) {
    if (image.header == nullptr || image.pixels == nullptr || x < 0 || y < 0 ||
        x >= image_width(image) || y >= image_height(image)) {
        return PixelValue{};
    }
    const uint8_t* row = image_row(image, static_cast<uint32_t>(y));
    const auto column = static_cast<size_t>(x);
    switch (image_bits(image)) {
        case 1:
            return indexed(image, (row[column / 8] >> (7 - column % 8)) & 1);
        case 8:
            return indexed(image, row[column]);
        case 16: {
            PixelValue value;
            value.kind = PixelValue::Kind::Gray16;
            value.sample = static_cast<uint16_t>(row[2 * column] | row[2 * column + 1] << 8);
            return value;
        }
        case 24: {
            PixelValue value;
            value.kind = PixelValue::Kind::Color;
            value.blue = row[3 * column];
            value.green = row[3 * column + 1];
            value.red = row[3 * column + 2];
            return value;
        }
        default:
            return PixelValue{};
    }
}

}  // namespace viewer
