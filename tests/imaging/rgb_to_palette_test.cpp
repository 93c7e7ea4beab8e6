#include "imaging/convert/rgb_to_palette.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "tests/imaging/picture.h"

using namespace imaging;

namespace {

using picture::Picture;
using picture::Rgb;

uint32_t fnv1a(const uint8_t* bytes, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ bytes[i]) * 16777619u;
    }
    return h;
}

TEST(RgbToPalette, OneColourFillsThePaletteWithCopies) {
    Picture source(5, 3, 24);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 5; ++x) {
            source.set_rgb(x, y, x < 4 ? Rgb{100, 100, 100} : Rgb{255, 0, 0});
        }
    }
    image_set_area(source.get(), 0, 0, 3, 2);  // leaves the red column out
    Picture destination(5, 3, 8);
    destination->palette[0].reserved = 7;
    destination->palette[5].reserved = 9;
    ASSERT_EQ(rgb_to_palette(256, source.get(), destination.get(), 2), IMG_OK);
    EXPECT_EQ(destination->color_count, 256);
    EXPECT_EQ(destination->type_flags & IMAGE_GRAY, 0u);
    for (int i = 0; i < 256; ++i) {
        // 100 >> 3 = 12, then (12 << 3) | (12 >> 2) = 99.
        EXPECT_EQ(destination.entry(i), (Rgb{99, 99, 99})) << i;
        EXPECT_EQ(destination->palette[i].reserved, 7) << i;
    }
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(destination.index(x, y), 0);
        }
    }
}

TEST(RgbToPalette, PrimariesAndWhiteInCutOrder) {
    const Rgb colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    Picture source(8, 4, 24);
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            source.set_rgb(x, y, colours[(x + y) % 4]);
        }
    }
    for (int32_t mode = 0; mode < 4; ++mode) {
        Picture destination(8, 4, 8);
        ASSERT_EQ(rgb_to_palette(4, source.get(), destination.get(), mode), IMG_OK);
        EXPECT_EQ(destination->color_count, 4);
        // Blue splits first ({blue, white} from {green, red}), then red twice.
        EXPECT_EQ(destination.entry(0), (Rgb{255, 255, 255}));
        EXPECT_EQ(destination.entry(1), (Rgb{255, 0, 0}));
        EXPECT_EQ(destination.entry(2), (Rgb{0, 0, 255}));
        EXPECT_EQ(destination.entry(3), (Rgb{0, 255, 0}));
        const uint8_t index_of[4] = {1, 3, 2, 0};
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 8; ++x) {
                EXPECT_EQ(destination.index(x, y), index_of[(x + y) % 4]) << mode;
            }
        }
    }
}

TEST(RgbToPalette, ThreeHundredCellsMakeTwoHundredFiftySixBoxes) {
    // Cells (r5, g5, 0) for r5 < 20, g5 < 15, one pixel each.
    Picture source(20, 15, 24);
    for (uint32_t y = 0; y < 15; ++y) {
        for (uint32_t x = 0; x < 20; ++x) {
            source.set_rgb(x, y,
                           Rgb{static_cast<uint8_t>(x << 3), static_cast<uint8_t>(y << 3), 0});
        }
    }
    Picture destination(20, 15, 8);
    ASSERT_EQ(rgb_to_palette(256, source.get(), destination.get(), 2), IMG_OK);
    // 256 boxes of one or two neighbouring cells: every entry is a box mean,
    // none is a filler copy, and each pixel maps to an entry of its own
    // colour or of a box neighbour's.
    std::set<std::tuple<int, int, int>> distinct;
    for (int i = 0; i < 256; ++i) {
        const Rgb e = destination.entry(i);
        EXPECT_EQ(e.blue, 0);
        distinct.insert({e.red, e.green, e.blue});
    }
    EXPECT_GT(distinct.size(), 200u);
    for (uint32_t y = 0; y < 15; ++y) {
        for (uint32_t x = 0; x < 20; ++x) {
            const Rgb e = destination.entry(destination.index(x, y));
            EXPECT_LE(picture::distance2(e, source.rgb(x, y)), 15 * 15 + 7 * 7) << x << "," << y;
        }
    }
    // The cut order is fixed by the Shell sort and its tie rules.
    EXPECT_EQ(fnv1a(reinterpret_cast<const uint8_t*>(destination->palette), 256 * 4), 0x64B70BB0u);
}

TEST(RgbToPalette, CountsSaturateAt65534) {
    // 100000 pixels of red 255 weigh 65534 against 40000 each of red 8 and
    // black. Unsaturated, the first box would be the red cell alone; saturated,
    // the split takes red and red 8 together: (31 * 65534 + 1 * 40000) / 105534
    // = 19, expanded to 156.
    Picture source(600, 300, 24);
    uint32_t n = 0;
    for (uint32_t y = 0; y < 300; ++y) {
        for (uint32_t x = 0; x < 600; ++x, ++n) {
            const uint8_t red = n < 100000 ? 255 : (n < 140000 ? 8 : 0);
            source.set_rgb(x, y, Rgb{red, 0, 0});
        }
    }
    Picture destination(600, 300, 8);
    ASSERT_EQ(rgb_to_palette(2, source.get(), destination.get(), 2), IMG_OK);
    EXPECT_EQ(destination.entry(0), (Rgb{156, 0, 0}));
    EXPECT_EQ(destination.entry(1), (Rgb{0, 0, 0}));
}

TEST(RgbToPalette, RejectsBadArguments) {
    Picture source(4, 4, 24);
    Picture destination(4, 4, 8);
    EXPECT_EQ(rgb_to_palette(1, source.get(), destination.get(), 2), IMG_ERR_PARAM);
    EXPECT_EQ(rgb_to_palette(257, source.get(), destination.get(), 2), IMG_ERR_PARAM);
    EXPECT_EQ(rgb_to_palette(16, source.get(), destination.get(), 4), IMG_ERR_PARAM);
    EXPECT_EQ(rgb_to_palette(16, source.get(), destination.get(), -1), IMG_ERR_PARAM);

    Picture indexed(4, 4, 8);
    EXPECT_EQ(rgb_to_palette(16, indexed.get(), destination.get(), 2), IMG_ERR_BPP);
    Picture rgb_destination(4, 4, 24);
    EXPECT_EQ(rgb_to_palette(16, source.get(), rgb_destination.get(), 2), IMG_ERR_BPP);
    Picture one_bit(4, 4, 1);
    EXPECT_EQ(rgb_to_palette(16, one_bit.get(), destination.get(), 2), IMG_ERR_BPP);

    ImageDesc empty{};
    EXPECT_EQ(rgb_to_palette(1, &empty, destination.get(), 2), IMG_ERR_BAD_BUFFER);
    EXPECT_EQ(rgb_to_palette(16, source.get(), &empty, 2), IMG_ERR_BAD_BUFFER);

    // Without a palette the destination is refused before the arguments.
    PaletteEntry* palette = destination->palette;
    destination->palette = nullptr;
    EXPECT_EQ(rgb_to_palette(1, source.get(), destination.get(), 2), IMG_ERR_RANGE);
    destination->palette = palette;
}

}  // namespace
