#include "tests/viewer/picture_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/support/test_support.h"
#include "viewer/core/picture_writer.h"

using namespace imaging;
using namespace viewer;

namespace test_pictures {

void write_rgb_bmp(const std::filesystem::path& path, int32_t width, int32_t height,
                   const std::function<Rgb(int32_t, int32_t)>& color) {
    ImageDesc image{};
    image_alloc(&image, width, height, 24);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image_row(image, static_cast<uint32_t>(y));
        for (int32_t x = 0; x < width; ++x) {
            const Rgb c = color(x, y);
            row[3 * x] = c.blue;
            row[3 * x + 1] = c.green;
            row[3 * x + 2] = c.red;
        }
    }
    EXPECT_EQ(export_picture(image, path.string(), ExportFormat::Bmp), "");
    image_free(&image);
}

void write_indexed_bmp(const std::filesystem::path& path, int32_t width, int32_t height,
                       const PaletteEntry* palette, int32_t count,
                       const std::function<uint8_t(int32_t, int32_t)>& index) {
    ImageDesc image{};
    image_alloc(&image, width, height, 8);
    for (int32_t i = 0; i < count; ++i) {
        image.palette[i] = palette[i];
    }
    image.color_count = count;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image_row(image, static_cast<uint32_t>(y));
        for (int32_t x = 0; x < width; ++x) {
            row[x] = index(x, y);
        }
    }
    EXPECT_EQ(export_picture(image, path.string(), ExportFormat::Bmp), "");
    image_free(&image);
}

void write_empty_rle8_bmp(const std::filesystem::path& path, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes;
    const auto put = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    constexpr uint32_t kTableBytes = 2 * 4;  // two colours
    constexpr uint32_t kDataOffset = 14 + 40 + kTableBytes;
    put(0x4D42, 2);           // "BM"
    put(kDataOffset + 2, 4);  // file size
    put(0, 4);                // reserved
    put(kDataOffset, 4);      // offset of the pixel data
    put(40, 4);               // BITMAPINFOHEADER
    put(static_cast<uint32_t>(width), 4);
    put(static_cast<uint32_t>(height), 4);
    put(1, 2);  // planes
    put(8, 2);  // bits per pixel
    put(1, 4);  // BI_RLE8
    put(2, 4);  // size of the pixel data
    put(2835, 4);
    put(2835, 4);
    put(2, 4);  // colours used
    put(0, 4);
    put(0x000000, 4);  // black
    put(0xFFFFFF, 4);  // white
    put(0x0100, 2);    // 00 01: end of bitmap
    test_support::write_file(path, bytes);
}

std::string phone_image_text(int32_t width, int32_t height,
                             const std::function<int(int32_t, int32_t)>& value,
                             const std::string& extra) {
    std::string text = "<TarvoIPPhoneImage>\n<Width>" + std::to_string(width) +
                       "</Width>\n<Height>" + std::to_string(height) + "</Height>\n" +
                       "<Depth>2</Depth>\n" + extra + "<Data>";
    const int64_t pixels = int64_t{width} * height;
    for (int64_t i = 0; i < pixels; i += 4) {
        int byte = 0;
        for (int k = 0; k < 4 && i + k < pixels; ++k) {
            const auto p = i + k;
            byte |= value(static_cast<int32_t>(p % width), static_cast<int32_t>(p / width))
                    << (2 * k);
        }
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text + "</Data>\n</TarvoIPPhoneImage>\n";
}

}  // namespace test_pictures
