// The conversions that cut a big picture's rows into bands give the bytes of
// one pass whatever the number of bands: each is run on the same picture with
// one part and with several (forced by ThreadLimit, so the bands run on
// threads on any machine), over whole pictures and over areas.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/convert/color_to_gray.h"
#include "imaging/convert/palette_map.h"
#include "imaging/convert/resize.h"
#include "imaging/convert/rgb_to_palette.h"
#include "imaging/parallel.h"
#include "tests/imaging/picture.h"

namespace {

using imaging::ImageDesc;
using imaging::IMG_OK;
using imaging::ImgStatus;
using picture::Picture;

// A photo-like 24-bit picture: gradients, an edge and noise.
void fill_photo(Picture& p, uint32_t width, uint32_t height) {
    uint32_t noise = 7;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const auto n = static_cast<uint8_t>(noise >> 27);
            p.set_rgb(x, y,
                      {uint8_t(x * 255 / width + n), uint8_t(y * 200 / height + n),
                       uint8_t((x > width / 3 ? 180 : 20) + n)});
        }
    }
}

// Every byte of the descriptor's block: rows (padding included) and palette.
std::vector<uint8_t> bytes_of(const ImageDesc& image) {
    const size_t rows = size_t{image.row_bytes} * uint32_t(imaging::image_height(image));
    std::vector<uint8_t> out(image.pixels, image.pixels + rows);
    if (image.palette != nullptr) {
        const auto* p = reinterpret_cast<const uint8_t*>(image.palette);
        out.insert(out.end(), p,
                   p + 4 * size_t(imaging::palette_capacity(imaging::image_bits(image))));
    }
    out.push_back(static_cast<uint8_t>(image.color_count));
    out.push_back(static_cast<uint8_t>(image.type_flags));
    return out;
}

struct Conversion {
    const char* name;
    int32_t out_width, out_height, out_bits;
    ImgStatus (*run)(ImageDesc* source, ImageDesc* destination);
    bool area;  // run between areas of interest away from the corners
};

ImgStatus to_gray(ImageDesc* s, ImageDesc* d) {
    return imaging::color_to_gray(s, d);
}
ImgStatus to_palette(ImageDesc* s, ImageDesc* d) {
    return imaging::rgb_to_palette(256, s, d, 2);
}
ImgStatus to_palette_diffused(ImageDesc* s, ImageDesc* d) {
    return imaging::rgb_to_palette(64, s, d, 1);
}
ImgStatus resize_filtered(ImageDesc* s, ImageDesc* d) {
    return imaging::image_resize(s, d, 1);
}
ImgStatus invert(ImageDesc* s, ImageDesc* d) {
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<uint8_t>(255 - i);
    }
    return imaging::image_apply_lut(table, table, table, s, d);
}

// The destination's bytes after the conversion with `parts` bands.
std::vector<uint8_t> converted(const Conversion& c, uint32_t parts) {
    constexpr uint32_t kWidth = 301, kHeight = 207;
    Picture source(kWidth, kHeight, 24);
    fill_photo(source, kWidth, kHeight);
    Picture destination(c.out_width, c.out_height, c.out_bits);
    if (c.area) {
        imaging::image_set_area(source.get(), 5, 9, kWidth - 4, kHeight - 11);
        imaging::image_set_area(destination.get(), 2, 3, uint32_t(c.out_width) - 2,
                                uint32_t(c.out_height) - 5);
    }
    const imaging::ThreadLimit limit(parts);
    EXPECT_EQ(c.run(source.get(), destination.get()), IMG_OK);
    return bytes_of(*destination.get());
}

TEST(ConversionsParallel, BandsGiveTheBytesOfOnePass) {
    for (bool area : {false, true}) {
        for (const Conversion& c : {
                 Conversion{"gray", 301, 207, 8, to_gray, area},
                 Conversion{"lut", 301, 207, 24, invert, area},
                 Conversion{"palette", 301, 207, 8, to_palette, area},
                 Conversion{"palette diffused", 301, 207, 8, to_palette_diffused, area},
                 Conversion{"box", 133, 65, 24, resize_filtered, area},
                 Conversion{"bilinear up", 450, 420, 24, resize_filtered, area},
                 Conversion{"bilinear mixed", 133, 300, 24, resize_filtered, area},
             }) {
            SCOPED_TRACE(testing::Message() << c.name << (area ? " in areas" : ""));
            const std::vector<uint8_t> one = converted(c, 1);
            for (uint32_t parts : {2u, 3u, 8u}) {
                EXPECT_EQ(converted(c, parts), one) << parts << " parts";
            }
        }
    }
}

// Palette reduction counts the indexes in bands; gray conversion of a palette
// picture and the lookup run in place over bands.
TEST(ConversionsParallel, PalettePicturesInBandsAndInPlace) {
    auto run = [](uint32_t parts) {
        const imaging::ThreadLimit limit(parts);
        Picture source(257, 190, 24);
        fill_photo(source, 257, 190);
        Picture indexed(257, 190, 8);
        EXPECT_EQ(imaging::rgb_to_palette(256, source.get(), indexed.get(), 2), IMG_OK);
        Picture reduced(257, 190, 8);
        reduced->color_count = 4;
        EXPECT_EQ(imaging::palette_reduce(indexed.get(), reduced.get()), IMG_OK);
        std::vector<uint8_t> out = bytes_of(*reduced.get());
        EXPECT_EQ(imaging::color_to_gray(indexed.get(), indexed.get()), IMG_OK);
        const std::vector<uint8_t> gray = bytes_of(*indexed.get());
        out.insert(out.end(), gray.begin(), gray.end());
        return out;
    };
    const std::vector<uint8_t> one = run(1);
    EXPECT_EQ(run(2), one);
    EXPECT_EQ(run(5), one);
}

}  // namespace
