// Small helpers for the conversion tests: an owned image and pixel access by
// picture coordinates (row 0 = top).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/image.h"

namespace picture {

struct Rgb {
    uint8_t red, green, blue;
    bool operator==(const Rgb&) const = default;
};

// An allocated image, freed at the end of the scope.
class Picture {
  public:
    Picture(int32_t width, int32_t height, int32_t bits) {
        EXPECT_EQ(imaging::image_alloc(&image, width, height, bits), imaging::IMG_OK);
    }
    ~Picture() { imaging::image_free(&image); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    imaging::ImageDesc* operator->() { return &image; }
    imaging::ImageDesc* get() { return &image; }

    uint8_t* row(uint32_t y) const { return imaging::image_row(image, y); }

    Rgb rgb(uint32_t x, uint32_t y) const {
        const uint8_t* p = row(y) + 3 * x;
        return Rgb{p[2], p[1], p[0]};
    }
    void set_rgb(uint32_t x, uint32_t y, Rgb c) {
        uint8_t* p = row(y) + 3 * x;
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
    }
    uint8_t index(uint32_t x, uint32_t y) const { return row(y)[x]; }
    void set_index(uint32_t x, uint32_t y, uint8_t v) { row(y)[x] = v; }
    bool bit(uint32_t x, uint32_t y) const { return (row(y)[x / 8] >> (7 - x % 8)) & 1; }
    void set_bit(uint32_t x, uint32_t y, bool v) {
        const auto mask = static_cast<uint8_t>(0x80 >> (x % 8));
        row(y)[x / 8] = static_cast<uint8_t>(v ? row(y)[x / 8] | mask : row(y)[x / 8] & ~mask);
    }
    void set_entry(int i, Rgb c) {
        image.palette[i] = imaging::PaletteEntry{c.blue, c.green, c.red, 0};
    }
    Rgb entry(int i) const {
        return Rgb{image.palette[i].red, image.palette[i].green, image.palette[i].blue};
    }
    // Every stored byte, padding included.
    std::vector<uint8_t> bytes() const {
        const size_t n = size_t{image.row_bytes} * static_cast<size_t>(image.header->biHeight);
        return std::vector<uint8_t>(image.pixels, image.pixels + n);
    }

    imaging::ImageDesc image{};
};

inline int32_t distance2(Rgb a, Rgb b) {
    const int dr = a.red - b.red, dg = a.green - b.green, db = a.blue - b.blue;
    return dr * dr + dg * dg + db * db;
}

}  // namespace picture
