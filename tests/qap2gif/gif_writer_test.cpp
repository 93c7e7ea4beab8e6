#include "qap2gif/gif_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/qap2gif/gif_decode.h"
#include "tests/qap2gif/memory_file.h"

namespace {

using phoneimage::PhoneImage;
using qap2gif::check_phone_image_for_gif;
using qap2gif::GifFileWriter;

PhoneImage make_image(int32_t width, int32_t height, int32_t depth, std::vector<uint8_t> pixels) {
    PhoneImage image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.pixel_values = std::move(pixels);
    return image;
}

std::vector<uint8_t> write_gif(const PhoneImage& image) {
    MemoryFile file;
    GifFileWriter writer(image);
    EXPECT_EQ(writer.write(file.get()), 1);
    EXPECT_EQ(writer.error(), 0);
    return file.bytes();
}

std::string check_message(const PhoneImage& image) {
    try {
        check_phone_image_for_gif(image);
    } catch (const std::string& text) {
        return text;
    }
    return "(accepted)";
}

TEST(GifFileWriter, FourByOneImageBytes) {
    const std::vector<uint8_t> expected = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61,                                      // "GIF89a"
        0x04, 0x00, 0x01, 0x00, 0x91, 0x00, 0x00,                                // screen
        0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0x55, 0x55, 0x55, 0x00, 0x00, 0x00,  // colours
        0x2C, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00,              // image descriptor
        0x02,                    // minimum code size
        0x03, 0x44, 0x34, 0x05,  // the one sub-block
        0x00, 0x3B};
    EXPECT_EQ(write_gif(make_image(4, 1, 2, {0, 1, 2, 3})), expected);
}

TEST(GifFileWriter, DepthThree) {
    const PhoneImage image = make_image(3, 2, 3, {0, 1, 2, 3, 3, 0});
    GifFileWriter writer(image);
    EXPECT_EQ(writer.screen_flags(), 0xA2);
    EXPECT_EQ(writer.color_count(), 8);
    const std::vector<uint8_t> bytes = write_gif(image);
    ASSERT_GT(bytes.size(), 13u + 24 + 11);
    EXPECT_EQ(bytes[10], 0xA2);
    const std::vector<uint8_t> table(bytes.begin() + 13, bytes.begin() + 13 + 24);
    EXPECT_EQ(table, (std::vector<uint8_t>{255, 255, 255, 170, 170, 170, 85, 85, 85, 0, 0, 0,
                                           0,   0,   0,   0,   0,   0,   0,  0,  0,  0, 0, 0}));
    EXPECT_EQ(bytes[13 + 24], 0x2C);           // no extension block before the image
    EXPECT_EQ(bytes[13 + 24 + 10], 3);         // minimum code size
    EXPECT_EQ(bytes[13 + 24 + 12] & 0x0F, 8);  // the first code: clear (8) in 4 bits
    const DecodedGif decoded = decode_gif(bytes);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.colors.size(), 24u);
    EXPECT_EQ(decoded.pixels, image.pixel_values);
}

TEST(GifFileWriter, EveryDepthDecodes) {
    for (int32_t depth = 2; depth <= 8; ++depth) {
        const PhoneImage image = make_image(9, 7, depth, std::vector<uint8_t>(63, 2));
        const std::vector<uint8_t> bytes = write_gif(image);
        const DecodedGif decoded = decode_gif(bytes);
        ASSERT_TRUE(decoded.ok) << depth << ": " << decoded.error;
        EXPECT_EQ(decoded.colors.size(), 3u << depth);
        EXPECT_EQ(decoded.pixels, image.pixel_values) << depth;
        EXPECT_EQ(bytes[13 + 3 * (1 << depth) + 10], depth);
    }
}

TEST(GifFileWriter, ExtraPixelValuesAreLeftOut) {
    const std::vector<uint8_t> bytes = write_gif(make_image(2, 2, 2, {3, 2, 1, 0, 3, 3, 3}));
    const DecodedGif decoded = decode_gif(bytes);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.pixels, (std::vector<uint8_t>{3, 2, 1, 0}));
}

TEST(GifFileWriter, RoundTripThroughGiflib) {
    std::mt19937 rng(2024);
    struct Size {
        int32_t width, height;
    };
    std::vector<Size> sizes = {{1, 1},     {2, 1},    {1, 300},   {255, 1}, {17, 13},
                               {640, 480}, {133, 65}, {65535, 1}, {1, 2000}};
    for (int i = 0; i < 12; ++i) {
        sizes.push_back(
            {static_cast<int32_t>(1 + rng() % 640), static_cast<int32_t>(1 + rng() % 480)});
    }
    for (const Size& size : sizes) {
        const size_t count = static_cast<size_t>(size.width) * size.height;
        // Noise, long runs, and gradients with few distinct strings.
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<uint8_t> pixels(count);
            for (size_t p = 0; p < count; ++p) {
                if (kind == 0) {
                    pixels[p] = static_cast<uint8_t>(rng() & 3);
                } else if (kind == 1) {
                    pixels[p] = p == 0 || rng() % 64 != 0 ? (p ? pixels[p - 1] : 0)
                                                          : static_cast<uint8_t>(rng() & 3);
                } else {
                    pixels[p] = static_cast<uint8_t>((p % size.width) * 4 / size.width);
                }
            }
            const PhoneImage image = make_image(size.width, size.height, 2, pixels);
            const std::vector<uint8_t> bytes = write_gif(image);
            const DecodedGif decoded = decode_gif(bytes);
            ASSERT_TRUE(decoded.ok) << size.width << " x " << size.height << ": " << decoded.error;
            EXPECT_EQ(decoded.screen_width, size.width);
            EXPECT_EQ(decoded.screen_height, size.height);
            EXPECT_EQ(decoded.image_count, 1);
            EXPECT_EQ(decoded.extension_count, 0);
            EXPECT_EQ(decoded.colors,
                      (std::vector<uint8_t>{255, 255, 255, 170, 170, 170, 85, 85, 85, 0, 0, 0}));
            ASSERT_EQ(decoded.pixels, pixels)
                << size.width << " x " << size.height << " kind " << kind;
            ASSERT_EQ(bytes.end()[-1], 0x3B);
            ASSERT_EQ(bytes.end()[-2], 0x00);
        }
    }
}

TEST(GifFileWriter, SizeChecksInOrder) {
    EXPECT_EQ(check_message(make_image(0, 5, 2, {})),
              "Width and Height must be between 1 and 65535, saw 0 x 5.");
    EXPECT_EQ(check_message(make_image(3, 65536, 9, {})),
              "Width and Height must be between 1 and 65535, saw 3 x 65536.");
    EXPECT_EQ(check_message(make_image(-1, -2147483647 - 1, 2, {})),
              "Width and Height must be between 1 and 65535, saw -1 x -2147483648.");
    EXPECT_EQ(check_message(make_image(1, 1, 1, {})), "Depth must be between 2 and 8, saw 1.");
    EXPECT_EQ(check_message(make_image(1, 1, 9, {0})), "Depth must be between 2 and 8, saw 9.");
    EXPECT_EQ(check_message(make_image(2, 2, 2, {0, 1, 2})),
              "Data holds 3 pixels, but 2 x 2 needs 4.");
    EXPECT_EQ(check_message(make_image(65535, 65535, 8, std::vector<uint8_t>(12))),
              "Data holds 12 pixels, but 65535 x 65535 needs 4294836225.");
    EXPECT_EQ(check_message(make_image(2, 2, 8, {0, 1, 2, 3})), "(accepted)");

    const PhoneImage empty = make_image(4, 4, 2, {});
    EXPECT_THROW(GifFileWriter{empty}, std::string);
}

TEST(GifFileWriter, WriteFailureIsReported) {
    std::FILE* read_only = std::fopen("/dev/null", "rb");
    ASSERT_NE(read_only, nullptr);
    GifFileWriter writer(make_image(64, 64, 2, std::vector<uint8_t>(64 * 64, 1)));
    EXPECT_EQ(writer.write(read_only), 0);
    EXPECT_EQ(writer.error(), EBADF);
    std::fclose(read_only);
}

}  // namespace
