#include "imaging/readers/pcx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "reader_corpus.h"
#include "support/test_support.h"

using namespace imaging;
using reader_corpus::rgb;

namespace {

struct PcxFile {
    uint8_t version = 5;
    uint8_t bits = 8;
    uint8_t planes = 1;
    uint16_t width = 1;
    uint16_t height = 1;
    uint16_t bytes_per_line = 1;
    std::vector<uint8_t> header_palette;  // red, green, blue; up to 16 entries
    std::vector<uint8_t> data;            // run-length data as stored
    std::vector<uint8_t> trailing;        // behind the data
};

PcxFile pcx(uint8_t bits, uint8_t planes, uint16_t width, uint16_t height, uint16_t bytes_per_line,
            std::vector<uint8_t> data) {
    PcxFile f;
    f.bits = bits;
    f.planes = planes;
    f.width = width;
    f.height = height;
    f.bytes_per_line = bytes_per_line;
    f.data = std::move(data);
    return f;
}

std::vector<uint8_t> build(const PcxFile& f) {
    std::vector<uint8_t> out(128 + f.data.size() + f.trailing.size());
    out[0] = 0x0A;
    out[1] = f.version;
    out[2] = 1;
    out[3] = f.bits;
    out[8] = static_cast<uint8_t>(f.width - 1);
    out[9] = static_cast<uint8_t>((f.width - 1) >> 8);
    out[10] = static_cast<uint8_t>(f.height - 1);
    std::copy(f.header_palette.begin(), f.header_palette.end(), out.begin() + 16);
    out[65] = f.planes;
    out[66] = static_cast<uint8_t>(f.bytes_per_line);
    std::copy(f.trailing.begin(), f.trailing.end(),
              std::copy(f.data.begin(), f.data.end(), out.begin() + 128));
    return out;
}

// Bytes below 0xC1 as themselves, the others as one-byte runs.
std::vector<uint8_t> encode(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    for (uint8_t b : bytes) {
        if (b > 0xC0) {
            out.push_back(0xC1);
        }
        out.push_back(b);
    }
    return out;
}

class Pcx : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height, int32_t bits) {
        image_free(&image);
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
        const auto path = dir / (std::to_string(++files) + ".pcx");
        test_support::write_file(path, bytes);
        return pcx_load(path.c_str(), &image);
    }

    test_support::TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// Runs carry over plane lines (CA 01: red, green and half of blue) and
// scanlines (C3 C0); 0xC0 alone and C1 C0 are single bytes 0xC0. The picture
// lands top-left; with a small area of interest only the area changes.
TEST_F(Pcx, SplitRunsAcrossPlanesAndRows) {
    const PcxFile f =
        pcx(8, 3, 4, 2, 4, {0xCA, 0x01, 0x02, 0xC3, 0xC0, 0xC0, 0xC1, 0x05, 0xC8, 0x03});
    const uint32_t want[2][4] = {{0x010101, 0x010101, 0x010102, 0x0101C0},
                                 {0xC00303, 0xC00303, 0xC00303, 0x050303}};
    ASSERT_EQ(load(build(f), 16, 16, 24), IMG_OK);
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            EXPECT_EQ(rgb(image, x, y), x < 4 && y < 2 ? want[y][x] : 0u) << x << "," << y;
        }
    }
    EXPECT_EQ(image.color_count, 0);
    EXPECT_EQ(image.type_flags, 0u);

    image_set_area(&image, 5, 7, 6, 15);
    const auto path = dir / "again.pcx";
    test_support::write_file(path, build(f));
    ASSERT_EQ(pcx_load(path.c_str(), &image), IMG_OK);
    EXPECT_EQ(rgb(image, 5, 7), want[0][0]);
    EXPECT_EQ(rgb(image, 6, 8), want[1][1]);
    EXPECT_EQ(rgb(image, 7, 8), 0u);
    EXPECT_EQ(rgb(image, 5, 9), 0u);

    // A 1-bit row stored from column 10 starts in the image row's second byte.
    test_support::write_file(path, build(pcx(1, 1, 16, 1, 2, {0xC1, 0xFF, 0x00})));
    EXPECT_EQ(pcx_load(path.c_str(), &image), IMG_ERR_BPP);
    image_free(&image);
    ASSERT_EQ(image_alloc(&image, 32, 1, 1), IMG_OK);
    image_set_area(&image, 10, 0, 31, 0);
    ASSERT_EQ(pcx_load(path.c_str(), &image), IMG_OK);
    EXPECT_EQ(image.pixels[0], 0x00);
    EXPECT_EQ(image.pixels[1], 0x3F);
    EXPECT_EQ(image.pixels[2], 0xC0);
}

// Data that ends early keeps the rows stored so far (a row it ends inside
// has zeros where it was not reached), loads the palette and reports
// IMG_ERR_LZW; without the trailing marker an 8-bit file takes the header's
// 16 entries.
TEST_F(Pcx, DataEndingEarly) {
    PcxFile f = pcx(8, 1, 6, 4, 6, {});
    std::vector<uint8_t> raw;
    for (uint8_t i = 0; i < 24; ++i) {
        raw.push_back(static_cast<uint8_t>(1 + i * 9));
    }
    f.data = encode(raw);
    f.header_palette.assign(48, 0x40);
    f.trailing.assign(769, 0x7F);
    f.trailing[0] = 0x0C;
    const std::vector<uint8_t> full = build(f);
    const size_t data_start = 128;
    struct Cut {
        size_t size;
        ImgStatus status;
        size_t bytes_stored;  // of the picture, row by row
        int32_t colors;
    };
    for (const Cut& cut :
         {Cut{100, IMG_ERR_PCX, 0, 256}, Cut{data_start, IMG_ERR_LZW, 0, 16},
          Cut{data_start + 15, IMG_ERR_LZW, 12 + 3, 16}, Cut{full.size(), IMG_OK, 24, 256}}) {
        SCOPED_TRACE(cut.size);
        const std::vector<uint8_t> bytes(full.begin(), full.begin() + long(cut.size));
        ASSERT_EQ(load(bytes, 6, 4, 8), cut.status);
        for (uint32_t i = 0; i < 24; ++i) {
            EXPECT_EQ(image_row(image, i / 6)[i % 6], i < cut.bytes_stored ? raw[i] : 0) << i;
        }
        EXPECT_EQ(image.color_count, cut.colors);
    }
    EXPECT_EQ(image.palette[200].red, 0x7F);
    const std::vector<uint8_t> no_palette(full.begin(), full.end() - 769);
    ASSERT_EQ(load(no_palette, 6, 4, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 16);
}

TEST_F(Pcx, PalettesOfTheLayouts) {
    // 16 colours in planes, version 3: the default palette.
    PcxFile planar = pcx(1, 4, 8, 1, 1, {0x80, 0x40, 0, 0});
    planar.version = 3;
    ASSERT_EQ(load(build(planar), 8, 1, 8), IMG_OK);
    EXPECT_EQ(image.pixels[0], 1);
    EXPECT_EQ(image.pixels[1], 2);
    EXPECT_EQ(image.color_count, 16);
    EXPECT_EQ(rgb(image, 0, 0), 0x0000A8u);
    EXPECT_EQ(image.palette[6].blue, 0x00);
    EXPECT_EQ(image.palette[6].green, 0x54);
    EXPECT_EQ(image.palette[6].red, 0xA8);

    // 16 colours packed two to a byte, high nibble first; the header palette.
    PcxFile packed = pcx(4, 1, 3, 1, 2, {0x12, 0x30});
    packed.header_palette = {0, 0, 0, 9, 8, 7};
    ASSERT_EQ(load(build(packed), 3, 1, 8), IMG_OK);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + 3),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(image.color_count, 16);
    EXPECT_EQ(rgb(image, 0, 0), 0x090807u);

    // Monochrome whose two entries are equal: the black and white ramp.
    PcxFile mono = pcx(1, 1, 8, 1, 1, {0x0F});
    mono.header_palette = {5, 5, 5, 5, 5, 5};
    ASSERT_EQ(load(build(mono), 8, 1, 1), IMG_OK);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    EXPECT_EQ(rgb(image, 7, 0), 0xFFFFFFu);

    // 2 bits in one plane is no layout; a layout needs its own depth.
    const PcxFile two_bits = pcx(2, 1, 4, 1, 1, {0});
    EXPECT_EQ(load(build(two_bits), 4, 1, 8), IMG_ERR_PCX);
    EXPECT_EQ(load(build(mono), 8, 1, 8), IMG_ERR_BPP);
    PcxInfo info{};
    EXPECT_EQ(pcx_info((dir / "missing.pcx").c_str(), &info), IMG_ERR_OPEN);
}

// ---------------------------------------------------------------------------
// The corpus: every file loads or is refused with a status; the files with a
// reference rendering match it exactly, the others match the checksum of a
// rendering checked by eye.

constexpr const char* kOutcomes = R"(
kimageformats/dice_rgba.pcx        IMG_ERR_BPP  4 planes of 8 bits: no layout, 32 bits
pillow/ossfuzz-4836216264589312.pcx IMG_ERR_PCX encoding 32
)";

// FNV-1a over the picture's colours, row by row.
constexpr const char* kCheckedByEye = R"(
pillow/01r_00.pcx          3531528534  bytes per line 12, width 88: 12 columns of noise
pillow/odd_stride.pcx      2588711729  three trams and their captions
pillow/p_4_planes.pcx      1045519647  one red pixel
pillow/pil184.pcx          1786228312  a signature, black on white
)";

uint32_t checksum(const ImageDesc& image, const PictureInfo& info) {
    uint32_t hash = 2166136261u;
    for (int32_t y = 0; y < info.height; ++y) {
        for (int32_t x = 0; x < info.width; ++x) {
            hash = (hash ^ rgb(image, uint32_t(x), uint32_t(y))) * 16777619u;
        }
    }
    return hash;
}

TEST(PcxCorpus, EveryFileMatchesItsReference) {
    const auto corpus = test_support::corpus_dir("pcx");
    if (corpus.empty()) {
        GTEST_SKIP() << "PCX corpus not present";
    }
    const auto outcomes = reader_corpus::table(kOutcomes);
    const auto by_eye = reader_corpus::table(kCheckedByEye);
    int compared = 0;
    for (const std::string& name : reader_corpus::files(corpus, ".pcx")) {
        SCOPED_TRACE(name);
        ImageDesc image{};
        const PictureOpen opened =
            picture_open(reader_corpus::reader(".pcx"), (corpus / name).c_str(), &image);
        const auto outcome = outcomes.find(name);
        EXPECT_STREQ(status_name(opened.status),
                     outcome == outcomes.end() ? "IMG_OK" : outcome->second.c_str());
        if (opened.status == IMG_OK) {
            const auto png = (corpus / name).replace_extension(".png");
            if (by_eye.count(name)) {
                EXPECT_EQ(std::to_string(checksum(image, opened.info)), by_eye.at(name));
            } else {
                EXPECT_EQ(
                    reader_corpus::differences(image, opened.info, reader_corpus::read_png(png), 0),
                    0);
            }
            ++compared;
        }
        image_free(&image);
    }
    EXPECT_EQ(compared, 14);
}

}  // namespace
