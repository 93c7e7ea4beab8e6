#include "imaging/readers/bmp.h"
#include "imaging/readers/reader_io.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image.h"
#include "tests/support/test_support.h"

using namespace imaging;

namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

// ---------------------------------------------------------------------------
// Building BMP files in memory.

struct BmpFile {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 8;
    uint32_t compression = 0;
    uint32_t header_size = 40;            // 12: OS/2 core header
    uint32_t clr_used = 0;                // as stored
    std::vector<uint32_t> masks;          // at offset 54: after a 40-byte header, else inside it
    std::vector<PaletteEntry> palette;    // 3 bytes each after a core header
    std::vector<uint8_t> data;            // the pixel data as stored
    std::optional<uint32_t> data_offset;  // default: right after the palette
};

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::vector<uint8_t> build(const BmpFile& s) {
    std::vector<uint8_t> out = {'B', 'M'};
    put32(out, 0);  // file size: ignored by the reader
    put32(out, 0);
    put32(out, 0);  // data offset, patched below
    const bool core = s.header_size <= 12;
    put32(out, s.header_size);
    if (core) {
        for (uint32_t v : {uint32_t(s.width), uint32_t(s.height), 1u, uint32_t{s.bits}}) {
            put16(out, v);
        }
    } else {
        put32(out, static_cast<uint32_t>(s.width));
        put32(out, static_cast<uint32_t>(s.height));
        put16(out, 1);
        put16(out, s.bits);
        for (uint32_t v : {s.compression, 0u, 0u, 0u, s.clr_used, 0u}) {
            put32(out, v);
        }
    }
    out.resize(14 + s.header_size);  // a short OS/2 2.x header or a longer Windows one
    for (size_t i = 0; i < s.masks.size(); ++i) {
        if (s.header_size < 40 + 4 * (i + 1)) {
            put32(out, s.masks[i]);
        } else {
            std::vector<uint8_t> word;
            put32(word, s.masks[i]);
            std::copy(word.begin(), word.end(), out.begin() + 54 + 4 * i);
        }
    }
    for (const PaletteEntry& e : s.palette) {
        out.insert(out.end(), {e.blue, e.green, e.red});
        if (!core) {
            out.push_back(e.reserved);
        }
    }
    const uint32_t offset = s.data_offset.value_or(static_cast<uint32_t>(out.size()));
    out.resize(std::max<size_t>(out.size(), offset));
    for (int i = 0; i < 4; ++i) {
        out[10 + i] = static_cast<uint8_t>(offset >> (8 * i));
    }
    out.insert(out.end(), s.data.begin(), s.data.end());
    return out;
}

// Stored rows from rows given top to bottom: padded to 4 bytes, bottom row
// first unless top_down.
std::vector<uint8_t> stored_rows(std::vector<std::vector<uint8_t>> rows, bool top_down = false) {
    if (!top_down) {
        std::reverse(rows.begin(), rows.end());
    }
    std::vector<uint8_t> out;
    for (auto& row : rows) {
        row.resize((row.size() + 3) / 4 * 4);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// A picture as pixel values (index, bit or 0xRRGGBB) by column and row, top = 0.
using Picture = std::function<uint32_t(uint32_t x, uint32_t y)>;

// The file's bytes for one row of the picture at 1, 4, 8 or 24 bits.
std::vector<uint8_t> encode_row(const Picture& picture, uint32_t width, uint32_t y, int bits) {
    std::vector<uint8_t> row((width * bits + 7) / 8);
    for (uint32_t x = 0; x < width; ++x) {
        const uint32_t v = picture(x, y);
        if (bits == 1) {
            row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8));
        } else if (bits == 4) {
            row[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4));
        } else if (bits == 8) {
            row[x] = static_cast<uint8_t>(v);
        } else {
            row[3 * x] = static_cast<uint8_t>(v);
            row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
        }
    }
    return row;
}

BmpFile picture_file(const Picture& picture, uint32_t width, uint32_t height, uint16_t bits,
                     bool top_down = false) {
    std::vector<std::vector<uint8_t>> rows;
    for (uint32_t y = 0; y < height; ++y) {
        rows.push_back(encode_row(picture, width, y, bits));
    }
    BmpFile s;
    s.width = static_cast<int32_t>(width);
    s.height = top_down ? -static_cast<int32_t>(height) : static_cast<int32_t>(height);
    s.bits = bits;
    s.data = stored_rows(rows, top_down);
    return s;
}

// The value of image pixel (x, y) in the same form as a Picture.
uint32_t pixel(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = image_row(image, y);
    switch (image_bits(image)) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1;
        case 8:
            return row[x];
        default:
            return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    }
}

// Red, green, blue of a pixel, through the palette for 1 and 8 bits.
uint32_t rgb(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint32_t v = pixel(image, x, y);
    if (image_bits(image) == 24) {
        return v;
    }
    const PaletteEntry& e = image.palette[v];
    return (e.red << 16) | (e.green << 8) | e.blue;
}

uint32_t test_index(uint32_t x, uint32_t y) {
    return 1 + (x * 7 + y * 13) % 250;
}

class Bmp : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / ("file" + std::to_string(++files) + ".bmp");
        test_support::write_file(path, bytes);
        return path.string();
    }

    // Allocates width x height x bits, fills the rows with `fill`, loads.
    ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height, int32_t bits,
                   uint8_t fill = 0) {
        image_free(&image);
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
        std::memset(image.pixels, fill, size_t{image.row_bytes} * height);
        return bmp_load(write(bytes).c_str(), &image);
    }

    TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// Mismatching pixels of the whole image against expected(x, y).
int differences(const ImageDesc& image, const Picture& expected) {
    int count = 0;
    for (uint32_t y = 0; y < uint32_t(image_height(image)); ++y) {
        for (uint32_t x = 0; x < uint32_t(image_width(image)); ++x) {
            count += pixel(image, x, y) != expected(x, y);
        }
    }
    return count;
}

// ---------------------------------------------------------------------------
// bmp_info

TEST_F(Bmp, InfoReportsTheHeaderWithDefaults) {
    BmpFile s = picture_file(test_index, 3, 2, 8);
    BmpInfo info{};
    ASSERT_EQ(bmp_info(write(build(s)).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biClrUsed, 256u);
    EXPECT_EQ(info.biClrImportant, 256u);
    EXPECT_EQ(info.biSizeImage, 8u);  // two rows of 4 bytes

    // The default image size wraps like 32-bit arithmetic, without overflow;
    // a top-down height is reported as stored.
    s.width = 32768;
    s.height = -32768;
    s.bits = 24;
    ASSERT_EQ(bmp_info(write(build(s)).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.biHeight, -32768);
    EXPECT_EQ(info.biSizeImage, 0x40000000u);
    EXPECT_EQ(info.biClrUsed, 0u);

    // A 16-byte OS/2 2.x header: the fields it does not hold read as 0, not
    // as the palette bytes behind it.
    s = picture_file(test_index, 5, 4, 8);
    s.header_size = 16;
    s.palette.assign(256, PaletteEntry{0x11, 0x22, 0x33, 0x44});
    ASSERT_EQ(bmp_info(write(build(s)).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.biSize, 16u);
    EXPECT_EQ(info.biCompression, 0u);
    EXPECT_EQ(info.biClrUsed, 256u);
}

TEST_F(Bmp, RefusesWhatIsNotABitmap) {
    BmpInfo info{};
    std::vector<uint8_t> bytes = build(picture_file(test_index, 4, 4, 8));
    bytes[1] = 'A';
    EXPECT_EQ(bmp_info(write(bytes).c_str(), &info), IMG_ERR_NOT_BMP);
    bytes[1] = 'M';
    bytes.resize(53);
    EXPECT_EQ(bmp_info(write(bytes).c_str(), &info), IMG_ERR_NOT_BMP);
    EXPECT_EQ(bmp_info((dir / "missing.bmp").c_str(), &info), IMG_ERR_OPEN);
    EXPECT_EQ(bmp_info(dir.path().c_str(), &info), IMG_ERR_OPEN);
    ASSERT_EQ(image_alloc(&image, 4, 4, 8), IMG_OK);
    EXPECT_EQ(bmp_load((dir / "missing.bmp").c_str(), &image), IMG_ERR_OPEN);
}

// Sizes no image can take whole are refused by the information call, so the
// viewer allocates nothing for them (a 54-byte header of 65535 x 32767 at 8
// bits would take 2 GB before the load refused it).
TEST_F(Bmp, InfoRefusesSizesNoImageCanTake) {
    struct Size {
        int32_t width, height;
        uint16_t bits;
        ImgStatus status;
    };
    for (const Size& size : {Size{6, 0, 8, IMG_ERR_RANGE}, Size{0, 6, 8, IMG_ERR_RANGE},
                             Size{65535, 32767, 8, IMG_ERR_RANGE}, Size{32768, 32768, 8, IMG_OK},
                             Size{65535, 1, 1, IMG_OK}, Size{65536, 1, 1, IMG_ERR_RANGE},
                             Size{1, 32769, 24, IMG_ERR_RANGE}, Size{1, -32768, 24, IMG_OK},
                             Size{1, INT32_MIN, 24, IMG_ERR_RANGE}}) {
        BmpFile s;
        s.width = size.width;
        s.height = size.height;
        s.bits = size.bits;
        BmpInfo info{};
        EXPECT_EQ(bmp_info(write(build(s)).c_str(), &info), size.status)
            << size.width << " x " << size.height << " x " << size.bits;
    }
}

// ---------------------------------------------------------------------------
// Where the rows land

// A picture taller than the area shows its top rows, a shorter one sits at the
// bottom left; stored top-down (negative height) it lands exactly where it
// lands stored bottom-up.
TEST_F(Bmp, RowsLandFromTheAreaBottomUp) {
    for (bool top_down : {false, true}) {
        for (uint32_t height : {20u, 10u}) {
            SCOPED_TRACE(testing::Message() << "top_down " << top_down << " height " << height);
            const auto bytes = build(picture_file(test_index, 10, height, 8, top_down));
            ASSERT_EQ(load(bytes, 16, 16, 8), IMG_OK);
            const uint32_t first = height >= 16 ? 0 : 16 - height;
            EXPECT_EQ(differences(image,
                                  [&](uint32_t x, uint32_t y) {
                                      return y >= first && x < 10 ? test_index(x, y - first) : 0;
                                  }),
                      0);
        }
    }
}

// Only the area of interest changes; it shows the picture's top-left corner.
TEST_F(Bmp, FillsOnlyTheAreaOfInterest) {
    const Picture colour = [](uint32_t x, uint32_t y) { return 0x10203 * (x + 16 * y + 1); };
    const Picture bit = [](uint32_t x, uint32_t y) { return (x * 3 + y) % 5 < 2 ? 1u : 0u; };
    const Picture nibble = [](uint32_t x, uint32_t y) { return (x + 3 * y) % 15 + 1; };
    struct Case {
        uint16_t file_bits;
        int32_t image_bits;
        Picture picture;
    };
    for (const Case& c :
         {Case{8, 8, test_index}, Case{24, 24, colour}, Case{1, 1, bit}, Case{4, 8, nibble}}) {
        SCOPED_TRACE(c.file_bits);
        const auto bytes = build(picture_file(c.picture, 21, 8, c.file_bits));
        image_free(&image);
        ASSERT_EQ(image_alloc(&image, 21, 8, c.image_bits), IMG_OK);
        std::memset(image.pixels, 0xA5, size_t{image.row_bytes} * 8);
        ImageDesc before = image;
        std::vector<uint8_t> original(image.pixels, image.pixels + image.row_bytes * 8);
        before.pixels = original.data();
        // Areas starting inside the first byte of a 1-bit row and past it.
        for (const uint32_t left : {3u, 9u}) {
            std::memcpy(image.pixels, original.data(), original.size());
            image_set_area(&image, left, 2, left + 11, 4);
            ASSERT_EQ(bmp_load(write(bytes).c_str(), &image), IMG_OK);
            EXPECT_EQ(
                differences(image,
                            [&](uint32_t x, uint32_t y) {
                                const bool inside = x >= left && x <= left + 11 && y >= 2 && y <= 4;
                                return inside ? c.picture(x - left, y - 2) : pixel(before, x, y);
                            }),
                0)
                << left;
        }
    }

    // A 1-bit row stored from column 3 starts at bit position 3 of its first
    // byte; the three bits before it and the bits after it keep their values.
    BmpFile ones = picture_file([](uint32_t, uint32_t) { return 1u; }, 8, 1, 1);
    ASSERT_EQ(load(build(ones), 16, 1, 1), IMG_OK);
    image.pixels[0] = 0xA0;
    image.pixels[1] = 0x05;
    image_set_area(&image, 3, 0, 15, 0);
    ASSERT_EQ(bmp_load(write(build(ones)).c_str(), &image), IMG_OK);
    EXPECT_EQ(image.pixels[0], 0xBF);
    EXPECT_EQ(image.pixels[1], 0xE5);
}

// ---------------------------------------------------------------------------
// Decode modes

TEST_F(Bmp, FourBitFileBecomesOneIndexPerByte) {
    const Picture nibble = [](uint32_t x, uint32_t y) { return (x + y) % 16; };
    BmpFile s = picture_file(nibble, 7, 3, 4);
    s.palette.assign(16, PaletteEntry{0, 0, 0x80, 0});
    ASSERT_EQ(load(build(s), 7, 3, 8), IMG_OK);
    EXPECT_EQ(differences(image, nibble), 0);
    EXPECT_EQ(image.color_count, 16);
}

TEST_F(Bmp, SixteenBitLayouts) {
    struct Case {
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint32_t header_size;
        uint32_t word;
        uint32_t expected;  // 0xRRGGBB
    };
    const std::vector<uint32_t> m565 = {0xF800, 0x07E0, 0x001F};
    const std::vector<uint32_t> m555 = {0x7C00, 0x03E0, 0x001F};
    for (const Case& c : {
             Case{3, m565, 40, 0xFFFF, 0xFFFFFF}, Case{3, m565, 40, 0x07E0, 0x00FF00},
             Case{3, m565, 40, 0x8410, 0x848284},   // 16, 32, 16 -> 132, 130, 132
             Case{3, m565, 124, 0x07E0, 0x00FF00},  // masks inside a V5 header
             Case{3, m555, 40, 0x03E0, 0x00FF00}, Case{0, {}, 40, 0xFC00, 0xFF0000},
             Case{3, {0xF800, 0x07C0, 0x003F}, 40, 0x03E0, 0x00FF00},  // other masks: 5-5-5
         }) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word << " masks " << c.masks.size());
        BmpFile s;
        s.bits = 16;
        s.compression = c.compression;
        s.masks = c.masks;
        s.header_size = c.header_size;
        s.data = {static_cast<uint8_t>(c.word), static_cast<uint8_t>(c.word >> 8), 0, 0};
        ASSERT_EQ(load(build(s), 1, 1, 24), IMG_OK);
        EXPECT_EQ(pixel(image, 0, 0), c.expected);
        EXPECT_EQ(image.color_count, 0);
        EXPECT_EQ(image.type_flags, 0u);
    }
}

TEST_F(Bmp, ThirtyTwoBitPixelsThroughTheirMasks) {
    struct Case {
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint32_t word;
        uint32_t expected;  // 0xRRGGBB
    };
    for (const Case& c : {
             Case{0, {}, 0x80112233, 0x112233},  // fourth byte dropped
             Case{3, {0x00FF0000, 0x0000FF00, 0x000000FF}, 0x00112233, 0x112233},
             Case{3, {0xFF000000, 0x00FF0000, 0x0000FF00}, 0x112233FF, 0x112233},
             Case{3, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FF003FF, 0xFF00FF},  // 10 bits
             Case{3, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x20080200, 0x808080},
             Case{3, {0x80000000, 0, 0x7FFFFFFF}, 0x80000000, 0xFF0000},  // 1 bit, no green
             Case{3, {0x00000F00, 0x000000F0, 0x0000000F}, 0x00000A5F, 0xAA55FF},  // 4 bits
         }) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word);
        BmpFile s;
        s.bits = 32;
        s.compression = c.compression;
        s.masks = c.masks;
        put32(s.data, c.word);
        ASSERT_EQ(load(build(s), 1, 1, 24), IMG_OK);
        EXPECT_EQ(pixel(image, 0, 0), c.expected);
        EXPECT_EQ(image.color_count, 0);
    }
}

// The pairs of bits per pixel and compression, and the target depths, that
// load or are refused; 1 and 24-bit files ignore compressions 1 to 3. A
// refused file leaves the image untouched.
TEST_F(Bmp, ModeTableAndTargetDepths) {
    struct Case {
        uint16_t bits;
        uint32_t compression;
        int32_t target_bits;
        ImgStatus status;
        uint8_t first_byte;  // of the bottom row after the load
    };
    for (const Case& c :
         {Case{1, 1, 1, IMG_OK, 0x40}, Case{1, 3, 1, IMG_OK, 0x40}, Case{24, 1, 24, IMG_OK, 0x5A},
          Case{24, 2, 24, IMG_OK, 0x5A}, Case{4, 1, 8, IMG_ERR_ENCODING, 0},
          Case{8, 2, 8, IMG_ERR_ENCODING, 0}, Case{16, 1, 24, IMG_ERR_ENCODING, 0},
          Case{32, 6, 24, IMG_ERR_ENCODING, 0}, Case{24, 4, 24, IMG_ERR_ENCODING, 0},
          Case{8, 0, 24, IMG_ERR_BPP, 0}, Case{24, 0, 8, IMG_ERR_BPP, 0},
          Case{1, 0, 8, IMG_ERR_BPP, 0}, Case{2, 0, 8, IMG_ERR_BPP, 0},
          Case{0, 0, 24, IMG_ERR_BPP, 0}}) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, compression " << c.compression);
        BmpFile s;
        s.width = 2;
        s.height = 2;
        s.bits = c.bits;
        s.compression = c.compression;
        s.clr_used = 2;
        s.data.assign(64, 0x5A);
        ASSERT_EQ(load(build(s), 2, 2, c.target_bits), c.status);
        EXPECT_EQ(image.pixels[0], c.first_byte);
    }
}

TEST_F(Bmp, RefusesAnEmptyDescriptorAndUnusableWidths) {
    EXPECT_EQ(bmp_load(write(build(BmpFile{})).c_str(), &image), IMG_ERR_BAD_BUFFER);
    for (int32_t width : {0, -4, 65536, INT32_MIN}) {
        BmpFile s = picture_file(test_index, 4, 4, 8);
        s.width = width;
        EXPECT_EQ(load(build(s), 4, 4, 8), IMG_ERR_RANGE) << width;
    }
    // The widest accepted row, clipped to a small image.
    BmpFile wide = picture_file([](uint32_t x, uint32_t) { return x % 3 == 0; }, 65535, 2, 1);
    ASSERT_EQ(load(build(wide), 16, 2, 1), IMG_OK);
    EXPECT_EQ(image.pixels[0], 0x92);
}

// ---------------------------------------------------------------------------
// Run-length data

BmpFile rle_file(int32_t width, int32_t height, uint16_t bits, std::vector<uint8_t> codes) {
    BmpFile s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    s.compression = bits == 8 ? 1 : 2;
    s.clr_used = 2;
    s.palette = {{0, 0, 200, 0}, {0, 200, 0, 0}};
    s.data = std::move(codes);
    return s;
}

TEST_F(Bmp, DecodesRunsOfBothKinds) {
    // RLE8: encoded run, absolute run with its pad byte, end of line; then a
    // short row ended by end of bitmap, whose unreached pixels become index 0.
    BmpFile s = rle_file(5, 2, 8, {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 9, 0, 1});
    ASSERT_EQ(load(build(s), 5, 2, 8, 0xEE), IMG_OK);
    const std::vector<uint32_t> rle8 = {9, 9, 0, 0, 0, 7, 7, 7, 1, 2};
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(pixel(image, i % 5, i / 5), rle8[i]) << i;
    }
    EXPECT_EQ(image.color_count, 2);

    // RLE4: nibbles alternate in encoded runs; an absolute run of 5 takes 3
    // bytes and a pad byte.
    s = rle_file(7, 2, 4,
                 {4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 5, 0x67, 0x89, 0xA0, 0, 2, 0xBC, 0, 1});
    ASSERT_EQ(load(build(s), 7, 2, 8), IMG_OK);
    const std::vector<uint32_t> rle4 = {6, 7, 8, 9, 10, 11, 12, 1, 2, 1, 2, 3, 4, 5};
    for (uint32_t i = 0; i < 14; ++i) {
        EXPECT_EQ(pixel(image, i % 7, i / 7), rle4[i]) << i;
    }
}

TEST_F(Bmp, MalformedRunsStopTheLoad) {
    // A delta code, and a run past the row's limit (a 5-pixel 8-bit row holds
    // at most 8): the rows before stay, the palette is not loaded.
    for (const auto& second_row : {std::vector<uint8_t>{0, 2, 1, 1}, {9, 1, 0, 0}}) {
        std::vector<uint8_t> codes = {5, 4, 0, 0};
        codes.insert(codes.end(), second_row.begin(), second_row.end());
        ASSERT_EQ(load(build(rle_file(5, 3, 8, codes)), 5, 3, 8), IMG_ERR_ENCODING);
        EXPECT_EQ(pixel(image, 4, 2), 4u);
        EXPECT_EQ(pixel(image, 0, 1), 0u);
        EXPECT_EQ(image.color_count, 256);  // the allocator's gray ramp
    }
    ASSERT_EQ(load(build(rle_file(5, 1, 8, {8, 1, 0, 1})), 5, 1, 8), IMG_OK);  // 8 fits
}

TEST_F(Bmp, RunDataEndingEarlyLeavesTheRestAlone) {
    // End of bitmap halfway up: the rows above stay 0, the status is 0.
    ASSERT_EQ(load(build(rle_file(4, 4, 8, {4, 3, 0, 0, 4, 4, 0, 1})), 4, 4, 8), IMG_OK);
    EXPECT_EQ(pixel(image, 0, 3), 3u);
    EXPECT_EQ(pixel(image, 0, 2), 4u);
    EXPECT_EQ(pixel(image, 0, 1), 0u);
    EXPECT_EQ(image.color_count, 2);

    // Codes cut off inside an encoded run, an absolute run or before the end
    // of line: that row keeps its contents, and the data ended early.
    for (const auto& cut : {std::vector<uint8_t>{4}, {0, 3, 1, 2}, {4, 4}}) {
        std::vector<uint8_t> codes = {4, 3, 0, 0};
        codes.insert(codes.end(), cut.begin(), cut.end());
        ASSERT_EQ(load(build(rle_file(4, 2, 8, codes)), 4, 2, 8, 0xEE), IMG_ERR_LZW);
        EXPECT_EQ(pixel(image, 3, 1), 3u);
        EXPECT_EQ(pixel(image, 0, 0), 0xEEu);
    }
}

// Rows coded one pixel per code pair take 2 * width + 2 bytes, more than two
// rows' worth of uncompressed data; a thousand of them cross many refills.
TEST_F(Bmp, DegenerateRunsAcrossRefills) {
    std::vector<uint8_t> codes;
    for (uint32_t y = 0; y < 1000; ++y) {
        for (uint32_t x = 0; x < 100; ++x) {
            codes.insert(codes.end(), {1, static_cast<uint8_t>(test_index(x, 999 - y))});
        }
        codes.insert(codes.end(), {0, 0});
    }
    ASSERT_EQ(load(build(rle_file(100, 1000, 8, codes)), 100, 1000, 8), IMG_OK);
    EXPECT_EQ(differences(image, test_index), 0);
}

// ---------------------------------------------------------------------------
// Chunked reading and truncated files

TEST_F(Bmp, RowsAcrossChunkRefills) {
    // 300 rows of 1000 bytes cross the 98304-byte chunk's end at odd places.
    ASSERT_EQ(load(build(picture_file(test_index, 999, 300, 8)), 999, 300, 8), IMG_OK);
    EXPECT_EQ(differences(image, test_index), 0);
    // Rows of 120000 bytes, each larger than the least chunk.
    BmpFile wide;
    wide.width = 30000;
    wide.height = 3;
    wide.bits = 32;
    for (uint32_t i = 0; i < 90000; ++i) {
        put32(wide.data, i * 0x01030507u);
    }
    ASSERT_EQ(load(build(wide), 30000, 3, 24), IMG_OK);
    EXPECT_EQ(differences(image,
                          [](uint32_t x, uint32_t y) {
                              return ((x + 30000 * (2 - y)) * 0x01030507u) & 0xFFFFFF;
                          }),
              0);
}

TEST_F(Bmp, TruncatedAtEachBoundary) {
    // 6 x 4 pixels, 8 bits, 16 palette entries at 54, rows of 8 bytes at 118.
    BmpFile s = picture_file(test_index, 6, 4, 8);
    s.clr_used = 16;
    for (uint8_t i = 0; i < 16; ++i) {
        s.palette.push_back({i, static_cast<uint8_t>(2 * i), 200, 0});
    }
    const std::vector<uint8_t> whole = build(s);
    ASSERT_EQ(whole.size(), 150u);
    struct Cut {
        size_t size;
        ImgStatus status;
        int32_t colors;  // color_count after the load
        uint32_t rows;   // picture rows stored, from the bottom
    };
    for (const Cut& cut :
         {Cut{0, IMG_ERR_NOT_BMP, 0, 0}, Cut{13, IMG_ERR_NOT_BMP, 0, 0},
          Cut{14, IMG_ERR_NOT_BMP, 0, 0}, Cut{53, IMG_ERR_NOT_BMP, 0, 0},
          Cut{54, IMG_ERR_LZW, 256, 0}, Cut{76, IMG_ERR_LZW, 5, 0}, Cut{118, IMG_ERR_LZW, 16, 0},
          Cut{137, IMG_ERR_LZW, 16, 2}, Cut{142, IMG_ERR_LZW, 16, 3}, Cut{149, IMG_ERR_LZW, 16, 3},
          Cut{150, IMG_OK, 16, 4}}) {
        SCOPED_TRACE(cut.size);
        const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + cut.size);
        ASSERT_EQ(load(bytes, 6, 4, 8), cut.status);
        if (cut.status != IMG_OK && cut.status != IMG_ERR_LZW) {
            continue;
        }
        EXPECT_EQ(image.color_count, cut.colors);
        EXPECT_EQ(image.type_flags, cut.colors == 256 ? IMAGE_GRAY : 0u);
        EXPECT_EQ(differences(image,
                              [&](uint32_t x, uint32_t y) {
                                  return y >= 4 - cut.rows ? test_index(x, y) : 0;
                              }),
                  0);
    }
    // The data offset beyond the end of the file; bit-field masks cut off.
    s.data_offset = 5000;
    s.data.clear();
    ASSERT_EQ(load(build(s), 6, 4, 8), IMG_ERR_LZW);
    EXPECT_EQ(pixel(image, 0, 3), 0u);
    BmpFile masks;
    masks.bits = 16;
    masks.compression = 3;
    std::vector<uint8_t> cut_masks = build(masks);
    cut_masks.resize(60);
    ASSERT_EQ(load(cut_masks, 1, 1, 24), IMG_OK);
}

// ---------------------------------------------------------------------------
// Palette

TEST_F(Bmp, PaletteEntriesAndCount) {
    // Core header: 3-byte entries; the reserved byte is always 0.
    BmpFile core = picture_file(test_index, 2, 2, 8);
    core.header_size = 12;
    core.palette.assign(256, PaletteEntry{1, 2, 3, 0});
    ASSERT_EQ(load(build(core), 2, 2, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.palette[255].red, 3);
    EXPECT_EQ(image.palette[255].reserved, 0);

    // 300 entries declared: 256 read; the reserved bytes are cleared.
    BmpFile many = picture_file(test_index, 2, 2, 8);
    many.clr_used = 300;
    many.palette.assign(300, PaletteEntry{9, 8, 7, 0x77});
    ASSERT_EQ(load(build(many), 2, 2, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.palette[0].reserved, 0);
    EXPECT_EQ(image.type_flags, 0u);

    // A 1-bit image's colour table holds 2 entries whatever the file says;
    // its rows right behind the table stay intact.
    BmpFile one = picture_file([](uint32_t x, uint32_t) { return x & 1; }, 8, 1, 1);
    one.clr_used = 256;
    one.palette.assign(256, PaletteEntry{0x33, 0x33, 0x33, 0});
    ASSERT_EQ(load(build(one), 8, 1, 1), IMG_OK);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(image.pixels[0], 0x55);

    // An exact gray ramp sets the gray flag; a single tinted entry does not.
    BmpFile gray = picture_file(test_index, 2, 2, 8);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        gray.palette.push_back({v, v, v, 0});
    }
    ASSERT_EQ(load(build(gray), 2, 2, 8), IMG_OK);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    gray.palette[7].blue = 8;
    ASSERT_EQ(load(build(gray), 2, 2, 8), IMG_OK);
    EXPECT_EQ(image.type_flags, 0u);
}

// ---------------------------------------------------------------------------
// Committed samples written by another encoder (ImageMagick 6.9), against
// ImageMagick's own decoding of each as a PPM file.

std::vector<uint32_t> read_ppm(const fs::path& path) {
    const std::vector<uint8_t> bytes = test_support::read_file(path);
    const size_t pixels = 13 * 7;
    std::vector<uint32_t> out;
    for (size_t i = bytes.size() - 3 * pixels; i < bytes.size(); i += 3) {
        out.push_back((bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2]);
    }
    return out;
}

TEST_F(Bmp, CommittedSamplesMatchTheirReference) {
    const fs::path data = test_support::source_dir() / "tests/data/bmp";
    struct Sample {
        const char* file;
        int32_t bits;
        const char* reference;
    };
    for (const Sample& sample : {Sample{"pal1_two_colour.bmp", 1, "black_white_13x7.ppm"},
                                 Sample{"pal4_os2_core_header.bmp", 8, "eight_colours_13x7.ppm"},
                                 Sample{"pal8_rle8_imagemagick.bmp", 8, "eight_colours_13x7.ppm"},
                                 Sample{"rgb16_565_v5_header.bmp", 24, "eight_colours_13x7.ppm"}}) {
        SCOPED_TRACE(sample.file);
        const std::vector<uint32_t> expected = read_ppm(data / sample.reference);
        ASSERT_EQ(image_alloc(&image, 13, 7, sample.bits), IMG_OK);
        ASSERT_EQ(bmp_load((data / sample.file).c_str(), &image), IMG_OK);
        for (uint32_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(rgb(image, i % 13, i / 13), expected[i]) << i;
        }
        image_free(&image);
    }
}

// ---------------------------------------------------------------------------
// The lock

TEST_F(Bmp, LoadsFromSeveralThreadsAndAfterCleanup) {
    const std::string path = write(build(picture_file(test_index, 64, 64, 8)));
    bmp_cleanup();
    library_shutdown();
    std::vector<std::thread> threads;
    std::vector<int> failures(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 20; ++n) {
                ImageDesc mine{};
                image_alloc(&mine, 64, 64, 8);
                if (bmp_load(path.c_str(), &mine) != IMG_OK ||
                    pixel(mine, 5, 9) != test_index(5, 9)) {
                    ++failures[t];
                }
                image_free(&mine);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4));
}

// ---------------------------------------------------------------------------
// BMP Suite corpus: every file loads or is refused with a status, and the good
// files match the suite's own reference renderings.

// The viewer's way in: information, allocation (16 and more bits as 24, the
// height's absolute value), load. Returns the first failing status.
ImgStatus open_like_viewer(const fs::path& path, ImageDesc* image) {
    BmpInfo info{};
    ImgStatus status = bmp_info(path.c_str(), &info);
    if (status != IMG_OK) {
        return status;
    }
    const int64_t height = std::abs(int64_t{info.biHeight});
    if (int64_t{info.biWidth} * height > 64 * 1024 * 1024) {
        return IMG_ERR_MEMORY;  // more than the test cares to allocate
    }
    const int32_t bits = info.biBitCount >= 16 ? 24 : info.biBitCount;
    status = image_alloc(image, info.biWidth, static_cast<int32_t>(height), bits);
    return status != IMG_OK ? status : bmp_load(path.c_str(), image);
}

// Every file whose outcome is not a plain success, with the reason.
constexpr const char* kRefused = R"(
b/badbitcount.bmp    IMG_ERR_BPP       30000 bits: the allocation refuses
b/badwidth.bmp       IMG_ERR_RANGE     negative width
b/reallybig.bmp      IMG_ERR_RANGE     3000000 x 2000000: wider than an image
b/shortfile.bmp      IMG_ERR_LZW       pixel data ends early
b/badrle.bmp         IMG_ERR_ENCODING  runs past the end of a row
b/badrlebis.bmp      IMG_ERR_ENCODING
b/badrleter.bmp      IMG_ERR_ENCODING
b/badrle4.bmp        IMG_ERR_ENCODING
b/badrle4bis.bmp     IMG_ERR_ENCODING
b/badrle4ter.bmp     IMG_ERR_ENCODING
q/pal4rlecut.bmp     IMG_ERR_ENCODING  delta codes
q/pal4rletrns.bmp    IMG_ERR_ENCODING
q/pal8rlecut.bmp     IMG_ERR_ENCODING
q/pal8rletrns.bmp    IMG_ERR_ENCODING
q/rgb24rle24.bmp     IMG_ERR_ENCODING  OS/2 RLE24
q/rgba32abf.bmp      IMG_ERR_ENCODING  compression 6
q/pal2.bmp           IMG_ERR_BPP       2 bits per pixel
q/pal2color.bmp      IMG_ERR_BPP
q/rgb24jpeg.bmp      IMG_ERR_BPP       embedded JPEG: 0 bits per pixel
q/rgb24png.bmp       IMG_ERR_BPP       embedded PNG: 0 bits per pixel
q/rgba64.bmp         IMG_ERR_BPP       64 bits per pixel
x/ba-bm.bmp          IMG_ERR_NOT_BMP   OS/2 bitmap array
)";

// Files that load but are shown otherwise than the suite's rendering.
constexpr const char* kShownOtherwise = R"(
q/pal1huffmsb.bmp     Huffman 1-D: read as uncompressed
q/rgb16-231.bmp       16-bit masks other than 5-6-5: read as 5-5-5
q/rgb16-3103.bmp
q/rgba16-1924.bmp
q/rgba16-4444.bmp
b/rgb16-880.bmp
q/rgb24prof2.bmp      the rendering applies the colour profile
)";

TEST(BmpCorpus, EveryFileLoadsOrIsRefused) {
    const fs::path corpus = test_support::corpus_dir("bmp");
    if (corpus.empty()) {
        GTEST_SKIP() << "BMP Suite corpus not present";
    }
    const auto refused = test_support::name_table(kRefused);
    int files = 0;
    for (const char* folder : {"g", "q", "b", "x"}) {
        for (const auto& entry : fs::directory_iterator(corpus / folder)) {
            const std::string name = std::string(folder) + "/" + entry.path().filename().string();
            ImageDesc image{};
            const ImgStatus status = open_like_viewer(entry.path(), &image);
            const auto it = refused.find(name);
            EXPECT_EQ(status_name(status), it == refused.end() ? "IMG_OK" : it->second) << name;
            ++files;
            image_free(&image);
        }
    }
    EXPECT_EQ(files, 91);
}

// Every good file of the suite cut inside its pixel data: the load reports the
// early end instead of a success.
TEST(BmpCorpus, CutPixelDataIsReported) {
    const fs::path corpus = test_support::corpus_dir("bmp");
    if (corpus.empty()) {
        GTEST_SKIP() << "BMP Suite corpus not present";
    }
    test_support::TempDir dir;
    const fs::path cut_path = dir / "cut.bmp";
    for (const auto& entry : fs::directory_iterator(corpus / "g")) {
        const std::vector<uint8_t> whole = test_support::read_file(entry.path());
        const size_t data = le32(whole.data() + 10);
        ASSERT_LT(data, whole.size()) << entry.path();
        for (size_t k = 0; k < 4; ++k) {
            const size_t size = data + (whole.size() - data) * k / 4;
            test_support::write_file(cut_path, {whole.begin(), whole.begin() + size});
            ImageDesc image{};
            EXPECT_EQ(open_like_viewer(cut_path, &image), IMG_ERR_LZW) << entry.path() << size;
            image_free(&image);
        }
    }
}

// RGBA pixels of a reference PNG, or empty when it cannot be read. 16-bit
// files are read as stored (linear) and rounded to 8 bits; their alpha is 255
// only where the pixel is opaque.
std::vector<uint8_t> read_png(const fs::path& path, uint32_t* width, uint32_t* height) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return {};
    }
    const bool sixteen = (png.format & PNG_FORMAT_FLAG_LINEAR) != 0;
    png.format = sixteen ? PNG_FORMAT_LINEAR_RGB_ALPHA : PNG_FORMAT_RGBA;
    std::vector<uint8_t> raw(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, raw.data(), 0, nullptr)) {
        return {};
    }
    *width = png.width;
    *height = png.height;
    if (!sixteen) {
        return raw;
    }
    std::vector<uint8_t> pixels(raw.size() / 2);
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint16_t v;
        std::memcpy(&v, &raw[2 * i], 2);
        pixels[i] = i % 4 == 3 ? (v == 65535 ? 255 : 0) : uint8_t((v * 255 + 32767) / 65535);
    }
    return pixels;
}

// The suite's page shows each file beside its correct renderings; every file
// that loads must match one of them of the same size, in the pixels the
// rendering shows opaque (the reader keeps no alpha). Converted 16 and 32-bit
// pixels may differ by one from the rendering's rounding.
TEST(BmpCorpus, PixelsMatchTheSuiteRenderings) {
    const fs::path corpus = test_support::corpus_dir("bmp");
    if (corpus.empty()) {
        GTEST_SKIP() << "BMP Suite corpus not present";
    }
    const auto otherwise = test_support::name_table(kShownOtherwise);
    const std::string page = test_support::read_text(corpus / "html/bmpsuite.html");
    const std::regex row_pattern("<tr[^]*?</tr>");
    const std::regex image_pattern(R"re(src="([^"]+\.(png|bmp))")re");
    int compared = 0;
    for (std::sregex_iterator row(page.begin(), page.end(), row_pattern), end; row != end; ++row) {
        std::vector<std::string> renderings;
        std::string name;
        const std::string text = row->str();
        for (std::sregex_iterator src(text.begin(), text.end(), image_pattern); src != end; ++src) {
            const std::string file = (*src)[1];
            (file.ends_with(".bmp") ? name : renderings.emplace_back()) = file;
        }
        if (name.size() < 3 || renderings.empty() || otherwise.count(name.substr(3))) {
            continue;
        }
        ImageDesc image{};
        if (open_like_viewer(corpus / name.substr(3), &image) != IMG_OK) {
            image_free(&image);
            continue;  // a refusal the first test accounts for
        }
        SCOPED_TRACE(name);
        const int tolerance = image_bits(image) == 24 ? 1 : 0;
        bool matched = false;
        for (const std::string& rendering : renderings) {
            uint32_t width = 0, height = 0;
            const std::vector<uint8_t> want =
                read_png(corpus / "html" / rendering, &width, &height);
            if (width != uint32_t(image_width(image)) || height != uint32_t(image_height(image))) {
                continue;
            }
            int mismatches = 0;
            for (uint32_t i = 0; i < width * height; ++i) {
                const uint32_t got = rgb(image, i % width, i / width);
                for (int c = 0; c < 3 && want[4 * i + 3] == 255; ++c) {
                    mismatches +=
                        std::abs(int((got >> (16 - 8 * c)) & 0xFF) - want[4 * i + c]) > tolerance;
                }
            }
            matched = matched || mismatches == 0;
        }
        EXPECT_TRUE(matched);
        compared += matched;
        image_free(&image);
    }
    EXPECT_EQ(compared, 53);  // every file that loads and has a rendering
}

}  // namespace
