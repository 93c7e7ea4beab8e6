// Test pictures written to files: BMP files through the bitmap encoder and
// phone images as XML text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "imaging/image.h"

namespace test_pictures {

struct Rgb {
    uint8_t red, green, blue;
};

// A 24-bit BMP of width x height whose pixel (x, y) (y = 0 at the top) is color(x, y).
void write_rgb_bmp(const std::filesystem::path& path, int32_t width, int32_t height,
                   const std::function<Rgb(int32_t, int32_t)>& color);

// An 8-bit BMP with the given palette (count entries) and index(x, y) pixels.
void write_indexed_bmp(const std::filesystem::path& path, int32_t width, int32_t height,
                       const imaging::PaletteEntry* palette, int32_t count,
                       const std::function<uint8_t(int32_t, int32_t)>& index);

// An 8-bit run-length BMP (RLE8) that declares width x height and holds only
// the end-of-bitmap code: a file of some bytes for a picture of any size.
void write_empty_rle8_bmp(const std::filesystem::path& path, int32_t width, int32_t height);

// A phone image of width x height whose pixel (x, y) has the phone value
// value(x, y) (0 white .. 3 black), with optional extra elements before Data.
std::string phone_image_text(int32_t width, int32_t height,
                             const std::function<int(int32_t, int32_t)>& value,
                             const std::string& extra = std::string());

}  // namespace test_pictures
