#include "viewer/core/picture_writer.h"

#include <png.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/readers/bmp.h"
#include "tests/support/test_support.h"

using namespace imaging;
using namespace viewer;

namespace {

using test_support::TempDir;

class Picture {
  public:
    Picture(int32_t width, int32_t height, int32_t bits) {
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
    }
    ~Picture() { image_free(&image); }
    ImageDesc image{};
};

// The file export_picture writes for the picture, read back whole.
std::vector<uint8_t> exported(const ImageDesc& image, ExportFormat format) {
    TempDir dir;
    const auto path = dir / "out";
    EXPECT_EQ(export_picture(image, path.string(), format), "");
    return test_support::read_file(path);
}

std::string exported_text(const ImageDesc& image) {
    const std::vector<uint8_t> bytes = exported(image, ExportFormat::PhoneImage);
    return std::string(bytes.begin(), bytes.end());
}

// Loads a bitmap file the way the viewer does (allocation from its header).
void load_bmp(const std::filesystem::path& path, Picture* out, int32_t bits) {
    BmpInfo info{};
    ASSERT_EQ(bmp_info(path.c_str(), &info), IMG_OK);
    image_free(&out->image);
    ASSERT_EQ(image_alloc(&out->image, info.biWidth, info.biHeight, bits), IMG_OK);
    ASSERT_EQ(bmp_load(path.c_str(), &out->image), IMG_OK);
}

TEST(ExportPpm, PalettePixelsThroughTheTableTopRowFirst) {
    Picture picture(2, 2, 8);
    picture.image.palette[7] = PaletteEntry{3, 2, 1, 0};  // blue, green, red
    image_row(picture.image, 0)[0] = 7;
    image_row(picture.image, 1)[1] = 255;
    const std::vector<uint8_t> bytes = exported(picture.image, ExportFormat::Ppm);
    const std::string head = "P6\n2 2\n255\n";
    ASSERT_EQ(bytes.size(), head.size() + 12);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + head.size()), head);
    const std::vector<uint8_t> pixels(bytes.begin() + head.size(), bytes.end());
    EXPECT_EQ(pixels, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0, 0, 255, 255, 255}));
}

TEST(ExportPpm, SixteenBitGrayUsesTheHighByte) {
    Picture picture(1, 1, 16);
    image_row(picture.image, 0)[0] = 0x34;
    image_row(picture.image, 0)[1] = 0x12;
    const std::vector<uint8_t> bytes = exported(picture.image, ExportFormat::Ppm);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 3, bytes.end()),
              (std::vector<uint8_t>{0x12, 0x12, 0x12}));
}

// Rows are written in blocks of many rows: a picture of several blocks, each
// pixel's blue, green and red written as red, green, blue, the last pixel of
// each row included.
TEST(ExportPpm, TrueColourRowsAcrossSeveralBlocks) {
    const int32_t width = 701, height = 1100;  // about 2.3 MB of rows
    Picture picture(width, height, 24);
    for (int32_t y = 0; y < height; ++y) {
        for (uint32_t b = 0; b < picture.image.row_bytes; ++b) {
            image_row(picture.image, uint32_t(y))[b] = static_cast<uint8_t>(y * 13 + b * 7);
        }
    }
    const std::vector<uint8_t> bytes = exported(picture.image, ExportFormat::Ppm);
    const std::string head = "P6\n701 1100\n255\n";
    ASSERT_EQ(bytes.size(), head.size() + size_t{width} * height * 3);
    const uint8_t* pixel = bytes.data() + head.size();
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = image_row(picture.image, uint32_t(y));
        for (int32_t x = 0; x < width; ++x, pixel += 3) {
            ASSERT_EQ(pixel[0], row[3 * x + 2]) << x << ", " << y;
            ASSERT_EQ(pixel[1], row[3 * x + 1]) << x << ", " << y;
            ASSERT_EQ(pixel[2], row[3 * x]) << x << ", " << y;
        }
    }
}

TEST(ExportBmp, RoundTripsThroughTheReaderAtEachDepth) {
    TempDir dir;
    for (int32_t bits : {1, 8, 24}) {
        Picture picture(13, 5, bits);
        for (uint32_t y = 0; y < 5; ++y) {
            for (uint32_t b = 0; b < picture.image.row_bytes; ++b) {
                image_row(picture.image, y)[b] = static_cast<uint8_t>(y * 31 + b * 7);
            }
        }
        if (bits == 8) {
            picture.image.palette[3] = PaletteEntry{9, 8, 7, 0};
            picture.image.color_count = 250;
        }
        const auto path = dir / ("p" + std::to_string(bits) + ".bmp");
        ASSERT_EQ(export_picture(picture.image, path.string(), ExportFormat::Bmp), "");
        Picture loaded(1, 1, 8);
        load_bmp(path, &loaded, bits);
        // Every bit of the 13 pixels of each row, none of the padding.
        const uint32_t used_bits = 13 * static_cast<uint32_t>(bits);
        for (uint32_t y = 0; y < 5; ++y) {
            const uint8_t* a = image_row(picture.image, y);
            const uint8_t* b = image_row(loaded.image, y);
            for (uint32_t i = 0; i < used_bits; ++i) {
                const int mask = 0x80 >> (i % 8);
                ASSERT_EQ(a[i / 8] & mask, b[i / 8] & mask) << bits << " bits, row " << y;
            }
        }
        EXPECT_EQ(loaded.image.color_count, picture.image.color_count);
        if (bits == 8) {
            EXPECT_EQ(loaded.image.palette[3].red, 7);
        }
    }
}

TEST(ExportBmp, SixteenBitGrayBecomesEightBitGray) {
    TempDir dir;
    Picture picture(3, 2, 16);
    image_row(picture.image, 1)[5] = 0xC8;  // pixel (2, 1), high byte
    ASSERT_EQ(export_picture(picture.image, (dir / "g.bmp").string(), ExportFormat::Bmp), "");
    Picture loaded(1, 1, 8);
    load_bmp(dir / "g.bmp", &loaded, 8);
    EXPECT_EQ(image_bits(loaded.image), 8);
    EXPECT_EQ(image_row(loaded.image, 1)[2], 0xC8);
    EXPECT_EQ(loaded.image.type_flags, IMAGE_GRAY);
}

TEST(ExportPhoneImage, FourLevelsPackedLowBitsFirst) {
    Picture picture(4, 1, 24);
    const uint8_t grays[4] = {255, 170, 85, 0};  // phone values 0, 1, 2, 3
    for (int x = 0; x < 4; ++x) {
        std::fill_n(image_row(picture.image, 0) + 3 * x, 3, grays[x]);
    }
    const std::string text = exported_text(picture.image);
    EXPECT_NE(text.find("<Data>E4</Data>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Width>4</Width>"), std::string::npos);
    EXPECT_NE(text.find("<Depth>2</Depth>"), std::string::npos);
    EXPECT_EQ(text.find("<Title>"), std::string::npos);  // empty texts are left out
}

TEST(ExportPhoneImage, GrayLevelsGoToTheNearestOfFour) {
    Picture picture(8, 1, 24);
    // Just either side of each midpoint between 255, 170, 85 and 0.
    const uint8_t grays[8] = {213, 212, 128, 127, 43, 42, 1, 254};
    for (int x = 0; x < 8; ++x) {
        std::fill_n(image_row(picture.image, 0) + 3 * x, 3, grays[x]);
    }
    const std::string text = exported_text(picture.image);
    // Values 0,1,1,2 -> 0b10010100 = 94; values 2,3,3,0 -> 0b00111110 = 3E.
    EXPECT_NE(text.find("<Data>943E</Data>"), std::string::npos) << text;
}

TEST(ExportPhoneImage, TextsAreEscapedAndCutSequencesDropped) {
    Picture picture(2, 2, 8);
    picture.image.location_x = -3;
    std::strcpy(picture.image.title, "A & B <C> \xC3\xA9t\xC3");  // ends inside a sequence
    std::strcpy(picture.image.prompt, "  ");
    const std::string text = exported_text(picture.image);
    EXPECT_NE(text.find("<Title>A &amp; B &lt;C&gt; \xC3\xA9t</Title>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<Prompt>"), std::string::npos);
    EXPECT_NE(text.find("<LocationX>-3</LocationX>"), std::string::npos);
}

TEST(ExportPhoneImage, DataLinesHoldAtMostSixtyFourDigits) {
    Picture picture(133, 65, 8);
    const std::string text = exported_text(picture.image);
    const size_t begin = text.find("<Data>") + 6;
    const size_t end = text.find("</Data>");
    size_t digits = 0;
    size_t longest = 0;
    size_t line = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] == '\n') {
            line = 0;
            continue;
        }
        ++digits;
        longest = std::max(longest, ++line);
    }
    EXPECT_EQ(longest, 64u);
    EXPECT_EQ(digits, 2 * ((133u * 65 + 3) / 4));
}

TEST(ExportBmp, ColourTableCoversEveryIndexThePixelsUse) {
    TempDir dir;
    Picture picture(4, 1, 8);
    picture.image.color_count = 2;
    picture.image.palette[200] = PaletteEntry{1, 2, 3, 0};
    image_row(picture.image, 0)[3] = 200;
    const auto path = dir / "p.bmp";
    ASSERT_EQ(export_picture(picture.image, path.string(), ExportFormat::Bmp), "");
    Picture loaded(1, 1, 8);
    load_bmp(path, &loaded, 8);
    EXPECT_EQ(loaded.image.color_count, 201);
    EXPECT_EQ(loaded.image.palette[200].red, 3);
}

// Each depth written as PNG and read back through libpng gives the colours of
// the PPM written from the same picture (16-bit gray: its exact samples).
// Pictures of levels (true colour, 16-bit gray, a gray-ramp palette) go
// through the row filters, palettes of colours not: every filter, several
// IDAT chunks (the large true-colour case) and both kinds of palette.
TEST(ExportPng, ReadsBackAsThePictureAtEachDepth) {
    TempDir dir;
    struct Case {
        int32_t bits, width, height;
        bool colour_palette;
    };
    for (const Case c :
         {Case{1, 21, 6, false}, Case{8, 21, 6, false}, Case{16, 170, 90, false},
          Case{24, 21, 6, false}, Case{24, 600, 300, false}, Case{8, 333, 120, true}}) {
        Picture picture(c.width, c.height, c.bits);
        // Rows that each filter codes best: noise, a copy of the row above, one
        // value, the mean of left and above, the row above moved one pixel on.
        uint32_t noise = 1;
        const size_t step = std::max(c.bits / 8, 1);
        for (uint32_t y = 0; y < uint32_t(c.height); ++y) {
            uint8_t* row = image_row(picture.image, y);
            const uint8_t* above = y > 0 ? image_row(picture.image, y - 1) : nullptr;
            for (size_t b = 0; b < picture.image.row_bytes; ++b) {
                noise = noise * 1103515245u + 12345u;
                const uint8_t up = above != nullptr ? above[b] : 0;
                const uint8_t left = b >= step ? row[b - step] : 0;
                const uint8_t kinds[5] = {uint8_t(noise >> 23), up, 77, uint8_t((left + up) / 2),
                                          b >= step && above != nullptr ? above[b - step] : up};
                row[b] = kinds[(y / 3) % 5];
            }
        }
        picture.image.color_count = c.bits == 8 ? 3 : picture.image.color_count;
        for (int i = 0; c.colour_palette && i < 256; ++i) {
            picture.image.palette[i] = PaletteEntry{uint8_t(i * 7), uint8_t(255 - i), 9, 0};
        }
        const auto path = dir / "p.png";
        ASSERT_EQ(export_picture(picture.image, path.string(), ExportFormat::Png), "");
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << png.message;
        png.format = c.bits == 16 ? PNG_FORMAT_LINEAR_Y : PNG_FORMAT_RGB;
        std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
        ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
        if (c.bits == 16) {
            const size_t row = 2 * size_t(c.width);
            for (uint32_t y = 0; y < uint32_t(c.height); ++y) {
                ASSERT_EQ(0,
                          std::memcmp(pixels.data() + row * y, image_row(picture.image, y), row));
            }
            continue;
        }
        const std::vector<uint8_t> ppm = exported(picture.image, ExportFormat::Ppm);
        EXPECT_EQ(pixels, std::vector<uint8_t>(ppm.end() - ptrdiff_t(pixels.size()), ppm.end()))
            << c.bits << " bits, " << c.width << " wide";
    }
}

// A cancelled export writes nothing: the old file stays, no temporary file.
TEST(ExportPicture, CancelledWriteLeavesThePathAsItWas) {
    TempDir dir;
    Picture picture(40, 30, 24);
    for (ExportFormat format :
         {ExportFormat::Ppm, ExportFormat::Bmp, ExportFormat::PhoneImage, ExportFormat::Png}) {
        const std::string path = (dir / "old").string();
        test_support::write_text(path, "old");
        ExportProgress progress;
        progress.cancel();
        EXPECT_EQ(export_picture(picture.image, path, format, &progress),
                  "cannot write " + path + ": Operation canceled");
        EXPECT_EQ(test_support::read_text(path), "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
        ExportProgress watched;
        EXPECT_EQ(export_picture(picture.image, path, format, &watched), "");
        EXPECT_EQ(watched.rows_done(), 30u);
        EXPECT_EQ(watched.rows_total(), 30u);
    }
}

TEST(ExportPicture, FormatByExtensionAndFailuresDescribed) {
    ExportFormat format{};
    EXPECT_TRUE(export_format_for_path("a/B.PNG", &format));
    EXPECT_EQ(format, ExportFormat::Png);
    EXPECT_TRUE(export_format_for_path("x.Qap", &format));
    EXPECT_EQ(format, ExportFormat::PhoneImage);
    EXPECT_FALSE(export_format_for_path("x.gif", &format));

    TempDir dir;
    Picture picture(2, 2, 8);
    const std::string nowhere = (dir / "missing" / "out.ppm").string();
    EXPECT_EQ(export_picture(picture.image, nowhere, ExportFormat::Ppm),
              "cannot write " + nowhere + ": No such file or directory");
    ImageDesc empty{};
    EXPECT_EQ(export_picture(empty, (dir / "e.ppm").string(), ExportFormat::Ppm),
              "cannot write " + (dir / "e.ppm").string() + ": the picture is empty");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
