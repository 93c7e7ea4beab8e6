// Resizing and copying pictures between descriptors.
#pragma once

#include "imaging/image.h"

namespace imaging {

// Scales the source's area of interest into the destination's (same bits per
// pixel). Method 0: step-pattern resize; any other value: box averaging or
// bilinear interpolation (pattern resize for 1-bit images).
ImgStatus image_resize(ImageDesc* source, ImageDesc* destination, int32_t method);

// Copies the pixels of the common area, then the palette.
ImgStatus image_copy(ImageDesc* source, ImageDesc* destination);

// Copies the pixels of the common area only.
ImgStatus image_copy_pixels(ImageDesc* source, ImageDesc* destination);

// Copies the colour table and the gray flag (images of at most 8 bits).
void palette_copy(const ImageDesc* source, ImageDesc* destination);

// Writes each 8-bit source pixel's palette colour into a 24-bit destination.
ImgStatus image_expand_to_rgb(ImageDesc* source, ImageDesc* destination);

}  // namespace imaging
