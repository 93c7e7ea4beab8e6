#include "imaging/convert/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "imaging/convert/palette_map.h"
#include "tests/imaging/picture.h"

using namespace imaging;

namespace {

using picture::Picture;
using picture::Rgb;

void fill_random(Picture& image, uint32_t seed) {
    std::mt19937 rng(seed);
    const size_t n = size_t{image->row_bytes} * static_cast<size_t>(image_height(image.image));
    for (size_t i = 0; i < n; ++i) {
        image->pixels[i] = static_cast<uint8_t>(rng());
    }
}

// Bytes per pixel of an 8-bit or 24-bit picture.
uint32_t bytes_of(Picture& image) {
    return static_cast<uint32_t>(image_bits(image.image) / 8);
}

// Expects every destination pixel to be the truncated mean of its box.
void expect_boxes(Picture& source, Picture& destination, int32_t xstep, int32_t ystep,
                  uint32_t box_width, uint32_t box_height) {
    const uint32_t p = bytes_of(source);
    const auto ws = static_cast<uint32_t>(image_width(source.image));
    const auto hs = static_cast<uint32_t>(image_height(source.image));
    for (uint32_t r = 0; r < static_cast<uint32_t>(image_height(destination.image)); ++r) {
        for (uint32_t c = 0; c < static_cast<uint32_t>(image_width(destination.image)); ++c) {
            const uint32_t sx = (c * static_cast<uint32_t>(xstep)) >> 15;
            const uint32_t sy = (r * static_cast<uint32_t>(ystep)) >> 15;
            const uint32_t bw = std::min(box_width, ws - sx);
            const uint32_t bh = std::min(box_height, hs - sy);
            for (uint32_t ch = 0; ch < p; ++ch) {
                uint32_t sum = 0;
                for (uint32_t y = sy; y < sy + bh; ++y) {
                    for (uint32_t x = sx; x < sx + bw; ++x) {
                        sum += source.row(y)[x * p + ch];
                    }
                }
                ASSERT_EQ(destination.row(r)[c * p + ch], sum / (bw * bh))
                    << c << "," << r << " channel " << ch;
            }
        }
    }
}

struct BoxCase {
    int32_t ws, hs, wd, hd;
    int32_t xstep, ystep;
    uint32_t box_width, box_height;
};

TEST(Resize, BoxSizes) {
    const BoxCase cases[] = {
        {640, 480, 133, 65, 157680, 241979, 5, 7},
        {266, 130, 133, 65, 65536, 65536, 2, 2},
        {150, 70, 133, 65, 36956, 35288, 2, 2},  // factors up to 1.5 give boxes of 2
        {400, 300, 133, 65, 98550, 151236, 3, 5},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.ws << " x " << c.hs);
        ASSERT_EQ((c.ws << 15) / c.wd, c.xstep);
        ASSERT_EQ((c.hs << 15) / c.hd, c.ystep);
        for (int32_t bits : {24, 8}) {
            Picture source(c.ws, c.hs, bits);
            fill_random(source, 1);
            Picture destination(c.wd, c.hd, bits);
            ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
            expect_boxes(source, destination, c.xstep, c.ystep, c.box_width, c.box_height);
        }
    }
}

TEST(Resize, BilinearHorizontalOnly) {
    // 200 x 60 to 133 x 60: ystep is exactly 32768, so fy is always 0.
    Picture source(200, 60, 24);
    fill_random(source, 2);
    Picture destination(133, 60, 24);
    ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
    const int32_t xstep = (200 << 15) / 133;
    for (uint32_t r = 0; r < 60; ++r) {
        for (uint32_t c = 0; c < 133; ++c) {
            const int32_t x = static_cast<int32_t>(c) * xstep;
            const uint32_t sx = static_cast<uint32_t>(x >> 15);
            const int32_t fx = x & 0x7FFF;
            const uint32_t sx1 = sx == 199 ? sx : sx + 1;
            for (uint32_t ch = 0; ch < 3; ++ch) {
                const int32_t p00 = source.row(r)[3 * sx + ch];
                const int32_t p10 = source.row(r)[3 * sx1 + ch];
                const int32_t top = (p10 - p00) * fx + p00 * 32768;
                ASSERT_EQ(destination.row(r)[3 * c + ch], (top + 16384) >> 15) << c << "," << r;
            }
        }
    }
}

TEST(Resize, BilinearVerticalOnly) {
    // 100 x 300 to 100 x 65: xstep is exactly 32768, so fx is always 0.
    Picture source(100, 300, 8);
    fill_random(source, 3);
    Picture destination(100, 65, 8);
    ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
    const int32_t ystep = (300 << 15) / 65;
    for (uint32_t r = 0; r < 65; ++r) {
        const int32_t y = static_cast<int32_t>(r) * ystep;
        const uint32_t sy = static_cast<uint32_t>(y >> 15);
        const int32_t fy = y & 0x7FFF;
        for (uint32_t c = 0; c < 100; ++c) {
            const int32_t p00 = source.row(sy)[c];
            const int32_t p01 = source.row(sy == 299 ? sy : sy + 1)[c];
            const int32_t expected = ((p01 - p00) * fy + p00 * 32768 + 16384) >> 15;
            ASSERT_EQ(destination.row(r)[c], expected) << c << "," << r;
        }
    }
}

// 2 x 2 gray to 3 x 3, worked by hand. Steps 21845; the middle pixel has
// top = 100 * 21845 and bottom = -50 * 21845 + 50 * 32768, whose difference
// -1638350 / 32768 = -49.99 truncates toward zero to -49 (rounding down would
// give 33 instead of 34).
TEST(Resize, BilinearEnlargesGrayByHand) {
    Picture source(2, 2, 8);
    source.set_index(0, 0, 0);
    source.set_index(1, 0, 100);
    source.set_index(0, 1, 50);
    source.set_index(1, 1, 0);
    Picture destination(3, 3, 8);
    ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
    const uint8_t expected[3][3] = {{0, 67, 100}, {33, 34, 33}, {50, 17, 0}};
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(destination.index(x, y), expected[y][x]) << x << "," << y;
        }
    }
    EXPECT_EQ(destination->type_flags, IMAGE_GRAY);
}

TEST(Resize, SameSizeIsAnExactCopyWithPalette) {
    for (int32_t bits : {1, 8, 24}) {
        for (int32_t method : {0, 1}) {
            Picture source(13, 7, bits);
            fill_random(source, 4);
            if (bits == 8) {
                source->type_flags = 0;
                source->color_count = 77;
                for (int i = 0; i < 256; ++i) {
                    source.set_entry(i, Rgb{static_cast<uint8_t>(i), 3, static_cast<uint8_t>(~i)});
                }
            }
            Picture destination(13, 7, bits);
            fill_random(destination, 5);
            ASSERT_EQ(image_resize(source.get(), destination.get(), method), IMG_OK);
            for (uint32_t y = 0; y < 7; ++y) {
                for (uint32_t x = 0; x < 13; ++x) {
                    if (bits == 1) {
                        ASSERT_EQ(destination.bit(x, y), source.bit(x, y));
                    } else {
                        const uint32_t p = bytes_of(source);
                        ASSERT_EQ(std::memcmp(destination.row(y) + p * x, source.row(y) + p * x, p),
                                  0);
                    }
                }
            }
            if (bits == 8) {
                EXPECT_EQ(destination->color_count, 77);
                EXPECT_EQ(destination->type_flags, 0u);
                EXPECT_EQ(std::memcmp(destination->palette, source->palette, 77 * 4), 0);
            }
        }
    }
}

TEST(Resize, ColourPalettePictureIsMappedBackOntoItsPalette) {
    Picture source(90, 50, 8);
    source->type_flags = 0;
    source->color_count = 16;
    std::mt19937 rng(6);
    for (int i = 0; i < 16; ++i) {
        source.set_entry(i, Rgb{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                static_cast<uint8_t>(rng())});
    }
    for (uint32_t y = 0; y < 50; ++y) {
        for (uint32_t x = 0; x < 90; ++x) {
            source.set_index(x, y, static_cast<uint8_t>((x / 7 + y / 5) % 16));
        }
    }
    for (auto [wd, hd] : {std::pair{33, 17}, std::pair{140, 80}}) {
        Picture destination(wd, hd, 8);
        ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
        EXPECT_EQ(destination->color_count, 16);
        EXPECT_EQ(destination->type_flags, 0u);
        EXPECT_EQ(std::memcmp(destination->palette, source->palette, 16 * 4), 0);

        // The same as resizing the expanded colours and mapping them with mode 3.
        Picture colours(90, 50, 24);
        ASSERT_EQ(image_expand_to_rgb(source.get(), colours.get()), IMG_OK);
        Picture resized(wd, hd, 24);
        ASSERT_EQ(image_resize(colours.get(), resized.get(), 1), IMG_OK);
        Picture expected(wd, hd, 8);
        palette_copy(source.get(), expected.get());
        ASSERT_EQ(map_to_palette(resized.get(), expected.get(), 3), IMG_OK);
        for (int32_t y = 0; y < hd; ++y) {
            for (int32_t x = 0; x < wd; ++x) {
                ASSERT_LT(destination.index(x, y), 16);
                ASSERT_EQ(destination.index(x, y), expected.index(x, y)) << x << "," << y;
            }
        }
    }
}

// Source coordinates that survive a pattern resize, read from a 24-bit picture
// whose pixels hold their own coordinates.
struct Survivors {
    std::vector<uint32_t> columns, rows;
};

Survivors pattern_survivors(int32_t ws, int32_t hs, int32_t wd, int32_t hd) {
    Picture source(ws, hs, 24);
    for (int32_t y = 0; y < hs; ++y) {
        for (int32_t x = 0; x < ws; ++x) {
            source.set_rgb(x, y,
                           Rgb{static_cast<uint8_t>(y), static_cast<uint8_t>(x >> 8),
                               static_cast<uint8_t>(x)});
        }
    }
    Picture destination(wd, hd, 24);
    EXPECT_EQ(image_resize(source.get(), destination.get(), 0), IMG_OK);
    Survivors s;
    for (int32_t x = 0; x < wd; ++x) {
        const Rgb c = destination.rgb(x, 0);
        s.columns.push_back(c.green << 8 | c.blue);
    }
    for (int32_t y = 0; y < hd; ++y) {
        s.rows.push_back(destination.rgb(0, y).red);
        for (int32_t x = 0; x < wd; ++x) {  // whole rows and columns only
            const Rgb c = destination.rgb(x, y);
            EXPECT_EQ(c.red, s.rows.back());
            EXPECT_EQ(uint32_t(c.green << 8 | c.blue), s.columns[x]);
        }
    }
    return s;
}

TEST(Resize, PatternShrinkKeepsEvenlySpreadRowsAndColumns) {
    const Survivors s = pattern_survivors(300, 200, 133, 65);
    ASSERT_EQ(s.columns.size(), 133u);
    ASSERT_EQ(s.rows.size(), 65u);
    EXPECT_EQ(std::vector<uint32_t>(s.columns.begin(), s.columns.begin() + 5),
              (std::vector<uint32_t>{0, 2, 4, 6, 9}));
    EXPECT_EQ(std::vector<uint32_t>(s.rows.begin(), s.rows.begin() + 5),
              (std::vector<uint32_t>{0, 3, 6, 9, 12}));
    for (size_t i = 1; i < s.columns.size(); ++i) {
        EXPECT_TRUE(s.columns[i] - s.columns[i - 1] == 2 || s.columns[i] - s.columns[i - 1] == 3);
    }
    for (size_t i = 1; i < s.rows.size(); ++i) {
        EXPECT_TRUE(s.rows[i] - s.rows[i - 1] == 3 || s.rows[i] - s.rows[i - 1] == 4);
    }

    // A 1-bit picture keeps the same rows and columns, without averaging.
    Picture bits(300, 200, 1);
    fill_random(bits, 7);
    Picture small(133, 65, 1);
    ASSERT_EQ(image_resize(bits.get(), small.get(), 1), IMG_OK);
    for (uint32_t y = 0; y < 65; ++y) {
        for (uint32_t x = 0; x < 133; ++x) {
            ASSERT_EQ(small.bit(x, y), bits.bit(s.columns[x], s.rows[y])) << x << "," << y;
        }
    }
}

TEST(Resize, PatternEnlargeRepeatsRowsAndColumns) {
    const Survivors s = pattern_survivors(3, 2, 7, 5);
    EXPECT_EQ(s.columns, (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 2}));
    EXPECT_EQ(s.rows, (std::vector<uint32_t>{0, 0, 1, 1, 1}));
}

TEST(Resize, OneBitAreaKeepsTheBitsAroundIt) {
    Picture source(4, 2, 1);
    source.set_bit(1, 0, true);
    source.set_bit(2, 1, true);
    Picture destination(16, 6, 1);
    for (uint32_t y = 0; y < 6; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            destination.set_bit(x, y, (x + y) % 2 == 0);
        }
    }
    image_set_area(destination.get(), 3, 1, 10, 4);  // 8 x 4 from bit 3
    ASSERT_EQ(image_resize(source.get(), destination.get(), 1), IMG_OK);
    for (uint32_t y = 0; y < 6; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            const bool inside = x >= 3 && x <= 10 && y >= 1 && y <= 4;
            if (inside) {
                // Columns double; rows 0, 0, 1, 1 of the source.
                EXPECT_EQ(destination.bit(x, y), source.bit((x - 3) / 2, (y - 1) / 2))
                    << x << "," << y;
            } else {
                EXPECT_EQ(destination.bit(x, y), (x + y) % 2 == 0) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(destination->color_count, 2);
}

TEST(Resize, RejectsMismatchedDepthsEmptyAreasAndSixteenBits) {
    Picture rgb(8, 8, 24);
    Picture indexed(4, 4, 8);
    EXPECT_EQ(image_resize(rgb.get(), indexed.get(), 1), IMG_ERR_BPP);
    Picture sixteen(8, 8, 16);
    Picture sixteen_small(4, 4, 16);
    EXPECT_EQ(image_resize(sixteen.get(), sixteen_small.get(), 1), IMG_ERR_BPP);
    EXPECT_EQ(image_resize(sixteen.get(), sixteen_small.get(), 0), IMG_ERR_BPP);
    Picture sixteen_same(8, 8, 16);
    EXPECT_EQ(image_resize(sixteen.get(), sixteen_same.get(), 1), IMG_ERR_BPP);

    Picture small(4, 4, 24);
    small->area_right = 0xFFFFFFFF;  // width 0 after wrapping
    EXPECT_EQ(image_resize(rgb.get(), small.get(), 1), IMG_ERR_RANGE);
    small->area_right = 4;  // beyond the image
    EXPECT_EQ(image_resize(rgb.get(), small.get(), 1), IMG_ERR_RANGE);
    EXPECT_EQ(image_resize(rgb.get(), small.get(), 0), IMG_ERR_RANGE);
}

struct Rect {
    uint32_t left, top, right, bottom;
};

// Resizing between two overlapping areas of one picture gives what resizing
// from an untouched copy gives.
void expect_shared_resize(int32_t bits, int32_t method, uint32_t seed, Rect from, Rect to) {
    SCOPED_TRACE(::testing::Message() << bits << " bits, method " << method);
    Picture picture(40, 30, bits);
    fill_random(picture, seed);
    Picture copy(40, 30, bits);
    std::memcpy(copy->pixels, picture->pixels, picture.bytes().size());
    ImageDesc source{}, destination{};
    image_copy_desc(picture.get(), &source);
    image_copy_desc(picture.get(), &destination);
    image_set_area(&source, from.left, from.top, from.right, from.bottom);
    image_set_area(&destination, to.left, to.top, to.right, to.bottom);
    image_set_area(copy.get(), from.left, from.top, from.right, from.bottom);
    Picture expected(static_cast<int32_t>(to.right - to.left + 1),
                     static_cast<int32_t>(to.bottom - to.top + 1), bits);
    ASSERT_EQ(image_resize(copy.get(), expected.get(), method), IMG_OK);
    ASSERT_EQ(image_resize(&source, &destination, method), IMG_OK);
    for (uint32_t y = to.top; y <= to.bottom; ++y) {
        for (uint32_t x = to.left; x <= to.right; ++x) {
            if (bits == 1) {
                ASSERT_EQ(picture.bit(x, y), expected.bit(x - to.left, y - to.top));
            } else {
                const uint32_t p = static_cast<uint32_t>(bits / 8);
                ASSERT_EQ(std::memcmp(picture.row(y) + p * x,
                                      expected.row(y - to.top) + p * (x - to.left), p),
                          0)
                    << x << "," << y;
            }
        }
    }
}

TEST(Resize, OverlappingAreasOfOnePicture) {
    const Rect big{0, 0, 29, 19};
    const Rect small{5, 5, 19, 14};
    const Rect enlarged{3, 2, 27, 21};
    const Rect tiny{0, 0, 9, 9};
    for (int32_t bits : {8, 24}) {
        for (int32_t method : {0, 1}) {
            expect_shared_resize(bits, method, 9, big, small);       // shrink
            expect_shared_resize(bits, method, 10, tiny, enlarged);  // enlarge
            expect_shared_resize(bits, method, 11, small, big);
        }
    }
    expect_shared_resize(1, 0, 12, big, small);
    expect_shared_resize(1, 0, 13, tiny, enlarged);
}

TEST(CopyPixels, OneBitRunsAtAnyOffsetKeepTheirNeighbours) {
    Picture source(37, 5, 1);
    fill_random(source, 14);
    image_set_area(source.get(), 3, 1, 30, 4);  // 28 x 4
    Picture destination(40, 6, 1);
    fill_random(destination, 15);
    Picture before(40, 6, 1);
    std::memcpy(before->pixels, destination->pixels, destination.bytes().size());
    image_set_area(destination.get(), 5, 0, 39, 5);  // 35 x 6
    ASSERT_EQ(image_copy_pixels(source.get(), destination.get()), IMG_OK);
    for (uint32_t y = 0; y < 6; ++y) {
        for (uint32_t x = 0; x < 40; ++x) {
            const bool inside = x >= 5 && x < 5 + 28 && y < 4;
            const bool expected = inside ? source.bit(x - 5 + 3, y + 1) : before.bit(x, y);
            ASSERT_EQ(destination.bit(x, y), expected) << x << "," << y;
        }
    }
}

TEST(CopyPixels, OverlappingRowsInBothDirections) {
    for (int32_t bits : {1, 8, 24}) {
        for (bool down : {false, true}) {
            Picture picture(20, 12, bits);
            fill_random(picture, 16);
            const auto original = picture.bytes();
            Picture copy(20, 12, bits);
            std::memcpy(copy->pixels, original.data(), original.size());
            ImageDesc source{}, destination{};
            image_copy_desc(picture.get(), &source);
            image_copy_desc(picture.get(), &destination);
            image_set_area(&source, 2, down ? 1 : 4, 15, down ? 8 : 11);
            image_set_area(&destination, 3, down ? 4 : 1, 16, down ? 11 : 8);
            ASSERT_EQ(image_copy_pixels(&source, &destination), IMG_OK);
            for (uint32_t y = 0; y < 8; ++y) {
                for (uint32_t x = 0; x < 14; ++x) {
                    const uint32_t sy = source.area_top + y, dy = destination.area_top + y;
                    if (bits == 1) {
                        ASSERT_EQ(picture.bit(x + 3, dy), copy.bit(x + 2, sy));
                    } else {
                        const uint32_t p = static_cast<uint32_t>(bits / 8);
                        ASSERT_EQ(std::memcmp(picture.row(dy) + p * (x + 3),
                                              copy.row(sy) + p * (x + 2), p),
                                  0)
                            << bits << " " << down << " " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(PaletteCopy, CopiesWhatBothTablesHoldAndTheGrayFlag) {
    Picture source(2, 2, 8);
    source->color_count = 40;
    source->type_flags = 0;
    source.set_entry(1, Rgb{1, 2, 3});
    Picture one_bit(2, 2, 1);
    palette_copy(source.get(), one_bit.get());
    EXPECT_EQ(one_bit->color_count, 2);
    EXPECT_EQ(one_bit.entry(1), (Rgb{1, 2, 3}));
    EXPECT_EQ(one_bit->type_flags, 0u);

    Picture indexed(2, 2, 8);
    source->color_count = 5000;  // more than the table holds
    palette_copy(source.get(), indexed.get());
    EXPECT_EQ(indexed->color_count, 256);

    Picture rgb(2, 2, 24);
    palette_copy(source.get(), rgb.get());
    EXPECT_EQ(rgb->color_count, 0);
}

TEST(ExpandToRgb, WritesPaletteColours) {
    Picture source(3, 2, 8);
    source.set_entry(7, Rgb{10, 20, 30});
    source.set_index(2, 1, 7);
    source.set_index(0, 0, 200);  // entry 200 of the allocated gray ramp
    Picture destination(3, 2, 24);
    ASSERT_EQ(image_expand_to_rgb(source.get(), destination.get()), IMG_OK);
    EXPECT_EQ(destination.rgb(2, 1), (Rgb{10, 20, 30}));
    EXPECT_EQ(destination.rgb(0, 0), (Rgb{200, 200, 200}));
    EXPECT_EQ(destination.rgb(1, 0), (Rgb{0, 0, 0}));

    EXPECT_EQ(image_expand_to_rgb(destination.get(), destination.get()), IMG_ERR_BPP);
    EXPECT_EQ(image_expand_to_rgb(source.get(), source.get()), IMG_ERR_BPP);
    source->palette = nullptr;
    EXPECT_EQ(image_expand_to_rgb(source.get(), destination.get()), IMG_ERR_RANGE);
}

}  // namespace
