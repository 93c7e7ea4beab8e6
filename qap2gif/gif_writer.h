// Writing a phone image as a GIF89a file.
//
// File layout, with nothing between the parts and no extension blocks:
//
//   "GIF89a"                     signature and version
//   logical screen descriptor    width, height (16-bit little-endian), flags
//                                0x80 | (depth-1) << 4 | (depth-1), background 0,
//                                aspect 0
//   global colour table          2^depth entries of red, green, blue: white,
//                                170, 85, black, then black
//   image descriptor             0x2C, left 0, top 0, width, height, flags 0
//   minimum code size            depth (2 for a four-level image)
//   LZW data                     sub-blocks of at most 255 bytes (lzw_encoder.h)
//   0x00 0x3B                    block terminator and trailer
//
// Pixel value 0 is white and 3 black, as in the phone-image document.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "phoneimage/phone_image.h"

namespace qap2gif {

// Checks that a record can be written as a GIF file, in this order: width and
// height 1 .. 65535, depth 2 .. 8, at least width x height pixel values. Throws
// the failure's message as std::string.
void check_phone_image_for_gif(const phoneimage::PhoneImage& image);

// One image of the file: its descriptor and pixels.
struct GifImageRecord {
    GifImageRecord(uint16_t image_width, uint16_t image_height, std::vector<uint8_t> image_pixels)
        : width(image_width), height(image_height), pixels(std::move(image_pixels)) {}

    uint8_t separator = 0x2C;
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width;
    uint16_t height;
    uint8_t flags = 0;            // no local colour table, not interlaced
    std::vector<uint8_t> pixels;  // width x height values, row by row
};

class GifFileWriter {
  public:
    // Builds the header, colour table and one image holding a copy of the
    // first width x height pixel values. Throws as check_phone_image_for_gif
    // does for a record that cannot be written.
    explicit GifFileWriter(const phoneimage::PhoneImage& image);

    // Writes the whole file. Returns 1, or 0 when a write failed; error() then
    // holds its errno. Buffered data may still fail when the file is flushed.
    int write(std::FILE* file);
    int error() const { return error_; }

    uint8_t screen_flags() const { return screen_flags_; }
    int32_t color_count() const { return color_count_; }

  private:
    void put(std::FILE* file, const uint8_t* bytes, size_t count);

    uint16_t screen_width_;
    uint16_t screen_height_;
    uint8_t screen_flags_;
    uint8_t background_index_ = 0;
    uint8_t aspect_ratio_ = 0;
    std::vector<uint8_t> color_table_;  // color_count_ entries of red, green, blue
    int32_t color_count_;               // 4 .. 256
    std::vector<std::unique_ptr<GifImageRecord>> images_;
    int error_ = 0;
};

}  // namespace qap2gif
