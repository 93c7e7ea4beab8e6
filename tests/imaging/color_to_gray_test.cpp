#include "imaging/convert/color_to_gray.h"

#include <gtest/gtest.h>

#include "tests/imaging/picture.h"

using namespace imaging;

namespace {

using picture::Picture;
using picture::Rgb;

TEST(ColorToGray, WeighsPrimariesAndTruncates) {
    struct Case {
        Rgb colour;
        uint8_t gray;
    };
    const Case cases[] = {
        {{255, 0, 0}, 76}, {{0, 255, 0}, 150}, {{0, 0, 255}, 28}, {{255, 255, 255}, 255},
        {{0, 0, 0}, 0},    {{1, 1, 1}, 1},     {{2, 0, 0}, 0},    {{10, 20, 30}, 18},
    };
    Picture source(8, 1, 24);
    Picture destination(8, 1, 8);
    for (uint32_t i = 0; i < 8; ++i) {
        source.set_rgb(i, 0, cases[i].colour);
    }
    destination->type_flags = 0;
    ASSERT_EQ(color_to_gray(source.get(), destination.get()), IMG_OK);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(destination.index(i, 0), cases[i].gray) << i;
    }
    EXPECT_EQ(destination->type_flags, IMAGE_GRAY);
    EXPECT_EQ(destination->color_count, 256);
    EXPECT_EQ(palette_is_gray(destination.get()), 1);
}

TEST(ColorToGray, EightBitConvertsInPlaceThroughPalette) {
    Picture image(5, 3, 8);
    image->color_count = 16;
    image->header->biClrUsed = 16;  // a picture declaring fewer colours than it can hold
    image->type_flags = 0;
    for (int i = 0; i < 16; ++i) {
        image.set_entry(i, Rgb{static_cast<uint8_t>(16 * i), 0, 0});
    }
    image.set_index(0, 0, 1);    // red 16 -> 4
    image.set_index(1, 0, 15);   // red 240 -> 72
    image.set_index(2, 2, 200);  // beyond the colour count -> 0
    image.set_index(3, 2, 16);   // first index beyond the count -> 0
    // Every other pixel is index 0 (black).
    ASSERT_EQ(color_to_gray(image.get(), image.get()), IMG_OK);
    EXPECT_EQ(image.index(0, 0), 4);
    EXPECT_EQ(image.index(1, 0), 72);
    EXPECT_EQ(image.index(2, 2), 0);
    EXPECT_EQ(image.index(3, 2), 0);
    EXPECT_EQ(image.index(4, 1), 0);
    EXPECT_EQ(image_width(image.image), 5);
    EXPECT_EQ(image_height(image.image), 3);
    EXPECT_EQ(image->color_count, 256);
    EXPECT_EQ(image->palette[255].red, 255);  // the whole ramp, not 16 entries of it
    EXPECT_EQ(image->type_flags, IMAGE_GRAY);
    EXPECT_EQ(palette_is_gray(image.get()), 1);
}

TEST(ColorToGray, RejectsOneBitAndLeavesDestinationAlone) {
    Picture source(8, 2, 1);
    Picture destination(8, 2, 8);
    destination.set_index(3, 1, 99);
    destination->type_flags = 0;
    const auto before = destination.bytes();
    EXPECT_EQ(color_to_gray(source.get(), destination.get()), IMG_ERR_BPP);
    EXPECT_EQ(destination.bytes(), before);
    EXPECT_EQ(destination->type_flags, 0u);
}

TEST(ColorToGray, ValidationOrderAndDestinationDepth) {
    Picture source(4, 4, 24);
    Picture gray24(4, 4, 24);
    EXPECT_EQ(color_to_gray(source.get(), gray24.get()), IMG_ERR_BPP);

    Picture sixteen(4, 4, 16);
    Picture destination(4, 4, 8);
    EXPECT_EQ(color_to_gray(sixteen.get(), destination.get()), IMG_ERR_BPP);

    ImageDesc empty{};
    EXPECT_EQ(color_to_gray(&empty, destination.get()), IMG_ERR_BAD_BUFFER);
    EXPECT_EQ(color_to_gray(source.get(), &empty), IMG_ERR_BAD_BUFFER);
    source->area_right = 4;  // outside the image
    EXPECT_EQ(color_to_gray(source.get(), destination.get()), IMG_ERR_RANGE);
    source->area_right = 3;
    source->header->biCompression = 1;
    EXPECT_EQ(color_to_gray(source.get(), destination.get()), IMG_ERR_COMPRESSED);
}

TEST(ColorToGray, WritesOnlyTheCommonAreaAtEachAreaOrigin) {
    Picture source(6, 5, 24);
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 6; ++x) {
            const auto v = static_cast<uint8_t>(10 * x + y);
            source.set_rgb(x, y, Rgb{v, v, v});  // gray level = v
        }
    }
    image_set_area(source.get(), 1, 2, 5, 4);  // 5 x 3 from (1, 2)
    Picture destination(4, 4, 8);
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            destination.set_index(x, y, 0xEE);
        }
    }
    image_set_area(destination.get(), 1, 1, 3, 3);  // 3 x 3 from (1, 1)
    ASSERT_EQ(color_to_gray(source.get(), destination.get()), IMG_OK);
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && y >= 1 && x <= 3 && y <= 3;
            const uint8_t expected = inside ? static_cast<uint8_t>(10 * x + y + 1) : 0xEE;
            EXPECT_EQ(destination.index(x, y), expected) << x << "," << y;
        }
    }
}

TEST(ApplyLut, UsesOneTablePerChannel) {
    uint8_t red[256], green[256], blue[256];
    for (int i = 0; i < 256; ++i) {
        red[i] = static_cast<uint8_t>(255 - i);
        green[i] = static_cast<uint8_t>(i / 2);
        blue[i] = static_cast<uint8_t>(i ^ 0x0F);
    }
    Picture source(3, 2, 24);
    Picture destination(3, 2, 24);
    source.set_rgb(2, 1, Rgb{10, 20, 30});
    ASSERT_EQ(image_apply_lut(red, green, blue, source.get(), destination.get()), IMG_OK);
    EXPECT_EQ(destination.rgb(2, 1), (Rgb{245, 10, 30 ^ 0x0F}));
    EXPECT_EQ(destination.rgb(0, 0), (Rgb{255, 0, 0x0F}));

    Picture indexed(3, 2, 8);
    EXPECT_EQ(image_apply_lut(red, green, blue, source.get(), indexed.get()), IMG_ERR_BPP);
}

}  // namespace
