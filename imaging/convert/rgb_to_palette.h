// Median-cut reduction of a 24-bit picture to a palette.
#pragma once

#include "imaging/image.h"

namespace imaging {

// Converts a 24-bit source into an 8-bit destination with at most `colours`
// colours (2..256), chosen by median cut and mapped with map_to_palette(mode).
ImgStatus rgb_to_palette(int32_t colours, ImageDesc* source, ImageDesc* destination, int32_t mode);

}  // namespace imaging
