// The value of one picture pixel, as the status bar shows it under the pointer:
// a palette picture's index and the colour it stands for, a true-colour
// picture's colour, a 16-bit gray picture's sample.
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace viewer {

struct PixelValue {
    enum class Kind {
        None,     // outside the picture, or a depth without pixels to read
        Indexed,  // `index` into the palette, whose colour is red, green, blue
        Color,    // red, green, blue
        Gray16,   // `sample`, 0..65535
    };
    Kind kind = Kind::None;
    int32_t index = 0;
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint16_t sample = 0;
};

// The pixel at column x, row y (0 = top) of the picture. An index beyond the
// colours the palette holds shows black, as the display draws it.
PixelValue pixel_value(const imaging::ImageDesc& image, int32_t x, int32_t y);

}  // namespace viewer
