// Mapping pictures onto a given palette, and popularity reduction of palettes.
#pragma once

#include "imaging/image.h"

namespace imaging {

// Maps every pixel of an 8-bit or 24-bit source onto the palette the 8-bit
// destination already carries. Mode 0: colour-tree search; 1: colour tree with
// Floyd-Steinberg diffusion; 2: exact search over the sorted palette; 3: sorted
// palette with diffusion.
ImgStatus map_to_palette(ImageDesc* source, ImageDesc* destination, int32_t mode);

// Reduces an 8-bit palette image to destination->color_count colours chosen
// from its palette by popularity, then maps it with diffusion.
ImgStatus palette_reduce(ImageDesc* source, ImageDesc* destination);

// Deletes the mapping lock (run by library_shutdown).
void mapping_cleanup();

}  // namespace imaging
