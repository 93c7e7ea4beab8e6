#include "imaging/display.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace imaging;

namespace {

// One draw_rows call: its numbers and the pixels it handed over, top row first
// (palette indices for 1 and 8 bits, gray samples for 16, 0xRRGGBB for 24).
struct DrawCall {
    SurfaceRows rows;
    std::vector<std::vector<uint32_t>> pixels;
    std::vector<PaletteEntry> colors;
};

// A surface that records every call, makes palettes as heap copies of their
// colours and counts those still alive.
class RecordingSurface : public DisplaySurface {
  public:
    RecordingSurface(int32_t depth, ClientSize client) : depth_(depth), client_(client) {}
    ~RecordingSurface() override { EXPECT_EQ(live, 0) << "palette handles leaked"; }

    int32_t bits_per_pixel() override {
        calls.push_back("bits");
        return depth_;
    }
    ClientSize client_size() override {
        calls.push_back("client");
        return client_;
    }
    void draw_rows(const SurfaceRows& r) override {
        calls.push_back("draw");
        DrawCall call{r, {}, {}};
        EXPECT_EQ(r.bits, r.row_start + (r.bits_per_pixel * r.first_column) / 8);
        EXPECT_EQ(r.source_x, r.bits_per_pixel == 1 ? r.first_column % 8 : 0);
        for (int32_t i = 0; i < r.height; ++i) {
            const uint8_t* bits = r.bits + static_cast<size_t>(r.height - 1 - i) * r.row_bytes;
            std::vector<uint32_t> row;
            for (int32_t j = 0; j < r.width; ++j) {
                switch (r.bits_per_pixel) {
                    case 1: {
                        const int32_t bit = r.source_x + j;
                        row.push_back((bits[bit / 8] >> (7 - bit % 8)) & 1);
                        break;
                    }
                    case 8:
                        row.push_back(bits[j]);
                        break;
                    case 16:
                        row.push_back(bits[2 * j] | bits[2 * j + 1] << 8);
                        break;
                    default:
                        row.push_back(bits[3 * j + 2] << 16 | bits[3 * j + 1] << 8 | bits[3 * j]);
                }
            }
            call.pixels.push_back(row);
        }
        call.colors.assign(r.colors, r.colors + r.color_count);
        draws.push_back(call);
    }
    DisplayPalette create_palette(const PaletteColor* colors, uint16_t count) override {
        calls.push_back("create");
        created.emplace_back(colors, colors + count);
        if (refuse_palettes) {
            return nullptr;
        }
        ++live;
        return new std::vector<PaletteColor>(colors, colors + count);
    }
    DisplayPalette select_palette(DisplayPalette palette) override {
        calls.push_back("select");
        selections.push_back(palette);
        DisplayPalette previous = current_;
        current_ = palette;
        return previous;
    }
    void delete_palette(DisplayPalette palette) override {
        --live;
        delete static_cast<std::vector<PaletteColor>*>(palette);
    }

    std::vector<std::string> calls;
    std::vector<DrawCall> draws;
    std::vector<std::vector<PaletteColor>> created;
    std::vector<DisplayPalette> selections;
    bool refuse_palettes = false;
    int live = 0;

  private:
    int32_t depth_;
    ClientSize client_;
    DisplayPalette current_ = nullptr;
};

// A picture in plain memory, freed at the end of the test.
struct Picture {
    Picture(int32_t width, int32_t height, int32_t bits) {
        EXPECT_EQ(image_alloc_memory(&image, width, height, bits), IMG_OK);
    }
    ~Picture() { image_free(&image); }
    void rgb(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = image_row(image, y) + 3 * x;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    void fill(uint8_t r, uint8_t g, uint8_t b) {
        for (int32_t y = 0; y < image_height(image); ++y) {
            for (int32_t x = 0; x < image_width(image); ++x) {
                rgb(x, y, r, g, b);
            }
        }
    }
    uint8_t& index(uint32_t x, uint32_t y) { return image_row(image, y)[x]; }
    bool owns(const uint8_t* p) const {
        return p >= image.pixels && p < image.pixels + image.header->biSizeImage;
    }
    ImageDesc image{};
};

// Draws through image_display as the view does; the caller deletes the palette.
ImgStatus display(RecordingSurface& surface, ImageDesc& image, int32_t scroll_x = 0,
                  int32_t scroll_y = 0, int32_t dest_x = 0, int32_t dest_y = 0) {
    DisplayPalette palette = nullptr;
    const ImgStatus status = image_display(surface, &palette, scroll_x, scroll_y, &image, dest_x,
                                           dest_y, kDisplayDither);
    if (palette != nullptr) {
        surface.delete_palette(palette);
    }
    return status;
}

constexpr uint8_t cube_index(int r, int g, int b) {
    return static_cast<uint8_t>(225 - (b / 51 + 6 * (g / 51) + 36 * (r / 51)));
}

TEST(DitherMatrix, IsTheScaledRecursiveIndexMatrix) {
    // The 8 x 8 index matrix built from the 2 x 2 pattern {{0, 3}, {2, 1}}: the
    // low bits of the row and column pick the most significant digit in base 4.
    constexpr int kBase[2][2] = {{0, 3}, {2, 1}};
    bool seen[64] = {};
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            int index = 0;
            for (int k = 0; k < 3; ++k) {
                index = index * 4 + kBase[(i >> k) & 1][(j >> k) & 1];
            }
            seen[index] = true;
            EXPECT_EQ(DITHER_MATRIX[i][j], index * 51 / 64) << i << "," << j;
        }
    }
    for (bool s : seen) {
        EXPECT_TRUE(s);
    }
    EXPECT_EQ(DITHER_MATRIX[0][1], 48 * 51 / 64);  // first row 0, 48, 12, 60, ...
    EXPECT_EQ(DITHER_MATRIX[0][3], 60 * 51 / 64);
}

TEST(DisplayPalettes, CubeAndSixteenColours) {
    Picture p(4, 4, 8);
    for (int i = 0; i < 256; ++i) {
        p.image.palette[i].reserved = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(palette_set_cube(&p.image), 256);
    EXPECT_EQ(p.image.color_count, 256);
    auto rgb = [&](int i) {
        const PaletteEntry& e = p.image.palette[i];
        return e.red << 16 | e.green << 8 | e.blue;
    };
    auto sys = [](int i) {
        const PaletteColor& c = kSystemPalette[i];
        return c.red << 16 | c.green << 8 | c.blue;
    };
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(rgb(i), sys(i));
        EXPECT_EQ(rgb(246 + i), sys(10 + i));
    }
    EXPECT_EQ(rgb(10), 0xFFFFFF);
    EXPECT_EQ(rgb(11), 0xFFFFCC);
    EXPECT_EQ(rgb(45), 0xFF0000);
    EXPECT_EQ(rgb(225), 0x000000);
    for (int r = 0; r <= 255; r += 51) {
        for (int g = 0; g <= 255; g += 51) {
            for (int b = 0; b <= 255; b += 51) {
                EXPECT_EQ(rgb(cube_index(r, g, b)), r << 16 | g << 8 | b);
            }
        }
    }
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(rgb(226 + k), (16 + 12 * k) * 0x010101);
    }
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(p.image.palette[i].reserved, i);  // the fourth byte is left alone
    }

    EXPECT_EQ(palette_set_system16(&p.image), 16);
    EXPECT_EQ(p.image.color_count, 16);
    const int kFrom[16] = {0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 18, 19};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rgb(i), sys(kFrom[i])) << i;
    }

    Picture bilevel(4, 4, 1);
    Picture truecolor(4, 4, 24);
    EXPECT_EQ(palette_set_cube(&bilevel.image), 0);
    EXPECT_EQ(palette_set_system16(&truecolor.image), 0);
    EXPECT_EQ(bilevel.image.color_count, 2);
}

TEST(DitherOrdered, RefusesWhatItCannotDither) {
    Picture rgb(8, 8, 24);
    Picture bilevel(8, 8, 1);
    Picture gray16(8, 8, 16);
    Picture out(8, 8, 8);
    Picture out24(8, 8, 24);
    ImageDesc empty{};
    EXPECT_EQ(dither_ordered(&empty, &out.image, kDitherPalette256), IMG_ERR_BAD_BUFFER);
    EXPECT_EQ(dither_ordered(&bilevel.image, &out.image, kDitherPalette256), IMG_ERR_BPP);
    EXPECT_EQ(dither_ordered(&gray16.image, &out.image, kDitherPalette16), IMG_ERR_BPP);
    EXPECT_EQ(dither_ordered(&rgb.image, &out24.image, kDitherPalette256), IMG_ERR_BPP);
    EXPECT_EQ(dither_ordered(&rgb.image, &out.image, 2), IMG_ERR_PARAM);
    ImageDesc no_palette = out.image;
    no_palette.palette = nullptr;
    EXPECT_EQ(dither_ordered(&rgb.image, &no_palette, kDitherPalette256), IMG_ERR_RANGE);
}

TEST(DitherOrdered, EightBitSourceGoesThroughItsPalette) {
    Picture source(2, 1, 8);
    source.image.palette[7] = PaletteEntry{0, 0, 255, 0};  // red
    source.image.palette[9] = PaletteEntry{255, 0, 0, 0};  // blue
    source.index(0, 0) = 7;
    source.index(1, 0) = 9;
    Picture out(2, 1, 8);
    ASSERT_EQ(dither_ordered(&source.image, &out.image, kDitherPalette256), IMG_OK);
    EXPECT_EQ(out.index(0, 0), 45);
    EXPECT_EQ(out.index(1, 0), cube_index(0, 0, 255));
    EXPECT_EQ(out.image.color_count, 256);
    EXPECT_EQ(out.image.type_flags & IMAGE_GRAY, 0u);
}

// A channel between two cube levels (10 = level 0, remainder 10) is raised where
// the threshold is below 10; the tile row counts from the top of the source's
// area and the tile column from the right end of the row.
TEST(DitherOrdered, TileRunsFromTheAreaTopAndTheRowEnd) {
    Picture source(16, 12, 24);
    source.fill(200, 0, 0);
    for (uint32_t y = 2; y < 10; ++y) {
        for (uint32_t x = 3; x < 13; ++x) {
            source.rgb(x, y, 10, 10, 10);
        }
    }
    image_set_area(&source.image, 3, 2, 12, 9);
    Picture out(10, 8, 8);
    ASSERT_EQ(dither_ordered(&source.image, &out.image, kDitherPalette256), IMG_OK);
    for (uint32_t n = 0; n < 8; ++n) {
        for (uint32_t x = 0; x < 10; ++x) {
            const bool up = DITHER_MATRIX[n][(9 - x) % 8] < 10;
            EXPECT_EQ(out.index(x, n), up ? cube_index(51, 51, 51) : 225) << x << "," << n;
        }
    }
}

TEST(Display, TrueColourOn256ColoursUsesTheCube) {
    Picture p(5, 1, 24);
    p.rgb(0, 0, 255, 255, 255);
    p.rgb(1, 0, 0, 0, 0);
    p.rgb(2, 0, 255, 0, 0);
    p.rgb(3, 0, 0, 255, 0);
    p.rgb(4, 0, 0, 0, 255);
    RecordingSurface s(8, {640, 480});
    ASSERT_EQ(display(s, p.image), IMG_OK);
    ASSERT_EQ(s.draws.size(), 1u);
    const DrawCall& d = s.draws[0];
    EXPECT_EQ(d.rows.bits_per_pixel, 8);
    EXPECT_FALSE(p.owns(d.rows.row_start));
    EXPECT_EQ(d.pixels, (std::vector<std::vector<uint32_t>>{{10, 225, 45, 195, 220}}));
    ASSERT_EQ(d.colors.size(), 256u);
    EXPECT_EQ(d.colors[45].red, 255);
    EXPECT_EQ(d.colors[45].green, 0);
    ASSERT_EQ(s.created.size(), 1u);
    EXPECT_EQ(s.created[0].size(), 256u);
    EXPECT_EQ(s.created[0][10].blue, 255);
}

TEST(Display, DeepDisplaysDrawTheStoredRows) {
    for (int32_t depth : {16, 24, 32}) {
        Picture p(6, 3, 24);
        p.rgb(5, 0, 1, 2, 3);
        RecordingSurface s(depth, {640, 480});
        ASSERT_EQ(display(s, p.image), IMG_OK);
        ASSERT_EQ(s.draws.size(), 1u);
        const DrawCall& d = s.draws[0];
        EXPECT_EQ(d.rows.bits_per_pixel, 24);
        EXPECT_EQ(d.rows.row_start, p.image.pixels);
        EXPECT_EQ(d.rows.row_bytes, p.image.row_bytes);
        EXPECT_EQ(d.rows.color_count, 0);
        EXPECT_EQ(d.pixels[0][5], 0x010203u);
        EXPECT_TRUE(s.created.empty());
    }
}

TEST(Display, SixteenColourDisplays) {
    // 200 colours: dithered to the 16-colour palette, on 4-bit and 1-bit displays.
    for (int32_t depth : {4, 1}) {
        Picture p(16, 8, 8);
        p.image.color_count = 200;
        for (uint32_t y = 0; y < 8; ++y) {
            for (uint32_t x = 0; x < 16; ++x) {
                p.index(x, y) = static_cast<uint8_t>((x * 13 + y * 7) % 200);
            }
        }
        RecordingSurface s(depth, {640, 480});
        ASSERT_EQ(display(s, p.image), IMG_OK);
        ASSERT_EQ(s.draws.size(), 1u);
        const DrawCall& d = s.draws[0];
        EXPECT_FALSE(p.owns(d.rows.row_start));
        ASSERT_EQ(s.created.size(), 1u);
        EXPECT_EQ(s.created[0].size(), 16u);
        EXPECT_EQ(s.created[0][8].red, 128);  // dark gray follows light gray
        for (const auto& row : d.pixels) {
            for (uint32_t v : row) {
                EXPECT_TRUE(v < 8 || (v >= 9 && v <= 15)) << v;
            }
        }
    }
    // 16 colours: drawn as stored with the picture's colour table.
    Picture p(16, 8, 8);
    p.image.color_count = 16;
    RecordingSurface s(4, {640, 480});
    ASSERT_EQ(display(s, p.image), IMG_OK);
    ASSERT_EQ(s.draws.size(), 1u);
    EXPECT_EQ(s.draws[0].rows.row_start, p.image.pixels);
    EXPECT_EQ(s.draws[0].rows.colors, p.image.palette);
    EXPECT_EQ(s.created[0].size(), 16u);
}

// 16-colour thresholds run from 0 to 250: 251 is always on, 0 always off, and
// 250 is off only where the tile holds 50 (row 0, first column from the right
// of an 8-pixel row).
TEST(Display, SixteenColourThresholds) {
    Picture p(8, 8, 24);
    p.fill(251, 0, 255);
    RecordingSurface s(4, {640, 480});
    ASSERT_EQ(display(s, p.image), IMG_OK);
    for (const auto& row : s.draws.at(0).pixels) {
        for (uint32_t v : row) {
            EXPECT_EQ(v, 13u);  // red and blue on: magenta
        }
    }
    p.fill(250, 250, 250);
    RecordingSurface s2(4, {640, 480});
    ASSERT_EQ(display(s2, p.image), IMG_OK);
    const auto& pixels = s2.draws.at(0).pixels;
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(pixels[y][x], (y == 0 && x == 0) ? 0u : 15u) << x << "," << y;
        }
    }
}

// Exact cube colours dither to themselves, so every drawn index tells which
// picture pixel it came from.
TEST(Display, OnlyTheVisiblePartIsDithered) {
    auto level = [](uint32_t x, uint32_t y, int k) {
        const uint32_t v[3] = {x / 7, y / 5, x + y};
        return static_cast<uint8_t>(v[k] % 6 * 51);
    };
    Picture p(300, 200, 24);
    for (uint32_t y = 0; y < 200; ++y) {
        for (uint32_t x = 0; x < 300; ++x) {
            p.rgb(x, y, level(x, y, 0), level(x, y, 1), level(x, y, 2));
        }
    }
    struct Case {
        int32_t scroll_x, scroll_y, width, height;
    };
    for (Case c : {Case{100, 50, 64, 48}, Case{260, 170, 40, 30}}) {
        RecordingSurface s(8, {64, 48});
        ASSERT_EQ(display(s, p.image, c.scroll_x, c.scroll_y), IMG_OK);
        ASSERT_EQ(s.draws.size(), 1u);
        const DrawCall& d = s.draws[0];
        EXPECT_EQ(d.rows.width, c.width);
        EXPECT_EQ(d.rows.height, c.height);
        EXPECT_EQ(d.rows.row_bytes, static_cast<uint32_t>(c.width));  // the temporary's rows
        EXPECT_EQ(d.rows.first_column, 0);
        for (int32_t i = 0; i < c.height; ++i) {
            for (int32_t j = 0; j < c.width; ++j) {
                const uint32_t x = c.scroll_x + j;
                const uint32_t y = c.scroll_y + i;
                ASSERT_EQ(d.pixels[i][j],
                          cube_index(level(x, y, 0), level(x, y, 1), level(x, y, 2)))
                    << x << "," << y;
            }
        }
    }
}

TEST(Display, WindowLargerThanThePictureDrawsOnlyThePicture) {
    Picture p(20, 10, 8);
    for (uint32_t y = 0; y < 10; ++y) {
        for (uint32_t x = 0; x < 20; ++x) {
            p.index(x, y) = static_cast<uint8_t>(x + 20 * y);
        }
    }
    struct Case {
        int32_t scroll_x, scroll_y, dest_x, dest_y;
        int32_t x, y, first_column, first_row, width, height;
    };
    for (Case c : {Case{0, 0, 0, 0, 0, 0, 0, 0, 20, 10}, Case{2, 3, 5, 7, 3, 4, 0, 0, 20, 10},
                   Case{9, 8, 5, 7, 0, 0, 4, 1, 16, 9}}) {
        RecordingSurface s(32, {100, 80});
        ASSERT_EQ(display(s, p.image, c.scroll_x, c.scroll_y, c.dest_x, c.dest_y), IMG_OK);
        ASSERT_EQ(s.draws.size(), 1u);
        const DrawCall& d = s.draws[0];
        EXPECT_EQ(d.rows.x, c.x);
        EXPECT_EQ(d.rows.y, c.y);
        EXPECT_EQ(d.rows.width, c.width);
        EXPECT_EQ(d.rows.height, c.height);
        EXPECT_EQ(d.rows.first_column, c.first_column);
        EXPECT_EQ(d.rows.row_start, p.image.pixels);  // the bottom row is always drawn
        EXPECT_EQ(d.pixels[0][0], static_cast<uint32_t>(c.first_column + 20 * c.first_row));
        EXPECT_EQ(d.pixels[c.height - 1][c.width - 1], 199u);
    }
}

TEST(Display, OneBitPictureScrolledToColumn13) {
    Picture p(40, 6, 1);
    auto bit = [](uint32_t x, uint32_t y) { return (x * 5 + y * 3) % 7 < 3 ? 1u : 0u; };
    for (uint32_t y = 0; y < 6; ++y) {
        for (uint32_t x = 0; x < 40; ++x) {
            image_row(p.image, y)[x / 8] |= static_cast<uint8_t>(bit(x, y) << (7 - x % 8));
        }
    }
    RecordingSurface s(32, {16, 4});
    ASSERT_EQ(display(s, p.image, 13, 1), IMG_OK);
    ASSERT_EQ(s.draws.size(), 1u);
    const DrawCall& d = s.draws[0];
    EXPECT_EQ(d.rows.bits_per_pixel, 1);
    EXPECT_EQ(d.rows.source_x, 5);
    EXPECT_EQ(d.rows.width, 16);
    EXPECT_EQ(d.rows.height, 4);
    EXPECT_EQ(d.rows.row_start, image_row(p.image, 4));
    EXPECT_EQ(d.rows.bits, image_row(p.image, 4) + 1);
    EXPECT_EQ(d.colors.size(), 2u);
    for (uint32_t i = 0; i < 4; ++i) {
        for (uint32_t j = 0; j < 16; ++j) {
            EXPECT_EQ(d.pixels[i][j], bit(13 + j, 1 + i)) << j << "," << i;
        }
    }
}

TEST(Display, SixteenBitPictures) {
    Picture p(4, 4, 16);
    image_row(p.image, 0)[0] = 0x34;
    image_row(p.image, 0)[1] = 0x12;
    RecordingSurface s4(4, {640, 480});
    int stale = 0;
    DisplayPalette palette = &stale;  // deleted by the caller before the draw
    EXPECT_EQ(image_display(s4, &palette, 0, 0, &p.image, 0, 0, kDisplayDither), IMG_ERR_BPP);
    EXPECT_EQ(palette, nullptr);
    EXPECT_TRUE(s4.draws.empty());
    EXPECT_TRUE(s4.created.empty());

    RecordingSurface s8(8, {640, 480});
    ASSERT_EQ(display(s8, p.image), IMG_OK);
    ASSERT_EQ(s8.draws.size(), 1u);
    EXPECT_EQ(s8.draws[0].rows.bits_per_pixel, 16);
    EXPECT_EQ(s8.draws[0].rows.colors, nullptr);
    EXPECT_EQ(s8.draws[0].pixels[0][0], 0x1234u);
}

TEST(Display, PaletteIsHandedBackToTheCaller) {
    Picture p(4, 4, 8);
    p.image.color_count = 3;
    p.image.palette[2] = PaletteEntry{30, 20, 10, 0};
    RecordingSurface s(8, {640, 480});
    DisplayPalette palette = nullptr;
    ASSERT_EQ(image_display(s, &palette, 0, 0, &p.image, 0, 0, kDisplayDither), IMG_OK);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(s.live, 1);  // the library made it and left it to the caller
    ASSERT_EQ(s.created.size(), 1u);
    ASSERT_EQ(s.created[0].size(), 3u);
    EXPECT_EQ(s.created[0][2].red, 10);
    EXPECT_EQ(s.created[0][2].green, 20);
    EXPECT_EQ(s.created[0][2].blue, 30);
    EXPECT_EQ(s.created[0][2].flags, 0);
    EXPECT_EQ(s.calls,
              (std::vector<std::string>{"bits", "create", "select", "client", "draw", "select"}));
    EXPECT_EQ(s.selections, (std::vector<DisplayPalette>{palette, nullptr}));  // then restored
    EXPECT_EQ(s.draws[0].colors.size(), 256u);  // the rows carry the header's whole table

    s.delete_palette(palette);  // what the view does before the next draw
    ASSERT_EQ(image_display(s, &palette, 0, 0, &p.image, 0, 0, kDisplayDither), IMG_OK);
    EXPECT_EQ(s.created.size(), 2u);
    s.delete_palette(palette);

    RecordingSurface refusing(8, {640, 480});
    refusing.refuse_palettes = true;
    ASSERT_EQ(display(refusing, p.image), IMG_OK);
    EXPECT_EQ(refusing.draws.size(), 1u);  // drawn all the same, with nothing selected
    EXPECT_TRUE(refusing.selections.empty());
}

TEST(Display, ColourlessPicturesGetTheGrayRamp) {
    Picture p(4, 4, 8);
    p.image.color_count = 0;
    p.image.palette[0] = PaletteEntry{9, 9, 9, 0};
    RecordingSurface s(32, {640, 480});
    ASSERT_EQ(display(s, p.image), IMG_OK);
    EXPECT_EQ(p.image.color_count, 256);
    ASSERT_EQ(s.created.size(), 1u);
    EXPECT_EQ(s.created[0][0].red, 0);
    EXPECT_EQ(s.created[0][255].red, 255);

    Picture rgb(4, 4, 24);
    DisplayPalette palette = nullptr;
    EXPECT_EQ(image_make_palette(s, &rgb.image, &palette), IMG_OK);
    EXPECT_EQ(palette, nullptr);
    EXPECT_EQ(s.created.size(), 1u);
}

TEST(Display, NothingVisibleDrawsNothing) {
    Picture p(20, 10, 24);
    RecordingSurface closed(32, {0, 0});
    EXPECT_EQ(display(closed, p.image), IMG_OK);
    RecordingSurface closed8(8, {0, 0});
    EXPECT_EQ(display(closed8, p.image), IMG_ERR_RANGE);  // no part to dither
    RecordingSurface past(32, {50, 50});
    EXPECT_EQ(display(past, p.image, 25, 3), IMG_OK);
    RecordingSurface past8(8, {50, 50});
    EXPECT_EQ(display(past8, p.image, 3, 12), IMG_ERR_RANGE);
    for (auto* s : {&closed, &closed8, &past, &past8}) {
        EXPECT_TRUE(s->draws.empty());
    }

    ImageDesc empty{};
    DisplayPalette palette = nullptr;
    EXPECT_EQ(image_display(past, &palette, 0, 0, &empty, 0, 0, kDisplayDither), IMG_ERR_RANGE);
    EXPECT_EQ(image_draw(past, &palette, -1, 0, &p.image, 0, 0), IMG_ERR_RANGE);
    EXPECT_TRUE(past.draws.empty());
}

}  // namespace
