// Reader for ZSoft PC Paintbrush files (.pcx).
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

// What the 128-byte file header says.
struct PcxInfo {
    int32_t version;         // header byte 1
    int32_t width;           // xmax - xmin + 1
    int32_t height;          // ymax - ymin + 1
    int32_t bits;            // bits per pixel per plane
    int32_t planes;          // number of planes
    int32_t bytes_per_line;  // per plane
    int32_t palette_info;    // header field at offset 68 (not used)
    int32_t bits_per_pixel;  // the image to allocate: bits x planes, but 8 for
                             // the two 16-colour layouts
};

// Reads the file header into info. Returns 0 or a negative status.
ImgStatus pcx_info(const char* path, PcxInfo* info);

// Fills an allocated descriptor (1, 8 or 24 bits per pixel, as PcxInfo's
// bits_per_pixel says) with the file's pixels, from the area's top row down,
// and sets its palette.
ImgStatus pcx_load(const char* path, ImageDesc* image);

// Whether head, the first bytes of a file (fewer in a short file), are the
// format's signature: the manufacturer byte 0x0A, a known version (0, 2, 3, 4
// or 5), run-length encoding (1) and 1, 2, 4 or 8 bits per pixel per plane.
bool pcx_signature(std::span<const uint8_t> head);

}  // namespace imaging
