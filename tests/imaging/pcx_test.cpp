#include "imaging/readers/pcx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/imaging/reader_corpus.h"

using namespace imaging;
using reader_corpus::rgb;

namespace {

// A PCX file: the header, then `data` (run-length data and what follows it).
std::vector<uint8_t> pcx(uint8_t bits, uint8_t planes, uint16_t width, uint16_t height,
                         uint16_t bytes_per_line, const std::vector<uint8_t>& data,
                         uint8_t version = 5, const std::vector<uint8_t>& palette = {}) {
    std::vector<uint8_t> f(128 + data.size());
    f[0] = 0x0A;
    f[1] = version;
    f[2] = 1;
    f[3] = bits;
    f[8] = static_cast<uint8_t>(width - 1);
    f[9] = static_cast<uint8_t>((width - 1) >> 8);
    f[10] = static_cast<uint8_t>(height - 1);
    std::copy(palette.begin(), palette.end(), f.begin() + 16);
    f[65] = planes;
    f[66] = static_cast<uint8_t>(bytes_per_line);
    std::copy(data.begin(), data.end(), f.begin() + 128);
    return f;
}

class Pcx : public reader_corpus::ReaderTest {
  protected:
    Pcx() : ReaderTest(".pcx", pcx_load) {}
};

// Runs carry over plane lines (CA 01: red, green and half of blue) and
// scanlines (C3 C0); 0xC0 alone and C1 C0 are single bytes 0xC0. The picture
// lands top-left; with a small area of interest only the area changes.
TEST_F(Pcx, SplitRunsAcrossPlanesAndRows) {
    const auto file = pcx(8, 3, 4, 2, 4, {0xCA, 1, 2, 0xC3, 0xC0, 0xC0, 0xC1, 5, 0xC8, 3});
    const std::vector<uint32_t> picture = {0x010101, 0x010101, 0x010102, 0x0101C0,
                                           0xC00303, 0xC00303, 0xC00303, 0x050303};
    ASSERT_EQ(load(file, 16, 16, 24), IMG_OK);
    EXPECT_EQ(pixels(0, 2, 4), picture);
    EXPECT_EQ(pixels(2, 14, 16), std::vector<uint32_t>(14 * 16));
    EXPECT_EQ(image.color_count, 0);
    EXPECT_EQ(image.type_flags, 0u);
    ASSERT_EQ(load(file, 4, 3, 24, {1, 1, 2, 2}), IMG_OK);
    EXPECT_EQ(pixels(0, 3, 4), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0x010101, 0x010101, 0, 0,
                                                      0xC00303, 0xC00303, 0}));
    // A 1-bit row stored from column 10 starts inside the row's second byte.
    ASSERT_EQ(load(pcx(1, 1, 16, 1, 2, {0xC1, 0xFF, 0}), 32, 1, 1, {10, 0, 31, 0}), IMG_OK);
    EXPECT_EQ(pixels(0, 1, 20),
              (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(load(file, 16, 1, 1), IMG_ERR_BPP);  // a layout needs its own depth
}

// Long random lines exercise the decoder's wide path: literal stretches,
// runs of high values (so stretches of bytes above 0xC0 of either parity),
// 0xC0 literals and runs over line ends. The picture must match a plain
// token-by-token decoding of the data, whole and cut at several points, with
// plane lines as long as the width and padded beyond it.
TEST_F(Pcx, LongLinesMatchAPlainDecoding) {
    constexpr uint16_t kWidth = 201;
    constexpr uint16_t kHeight = 9;
    std::vector<uint8_t> data;
    std::vector<uint8_t> stream;  // the decoded bytes of the whole data
    constexpr uint16_t kPadded = kWidth + 5;
    for (uint32_t seed = 7; stream.size() < 3u * kPadded * kHeight;) {
        seed = seed * 1103515245u + 12345u;
        const uint8_t value = static_cast<uint8_t>(seed >> 24);
        const uint8_t count = (seed >> 8) % 4 == 0 ? 1 + (seed >> 10) % 63 : 1 + (seed >> 10) % 3;
        if ((seed >> 16) % 3 == 0 && value <= 0xC0) {
            data.push_back(value);  // a literal
            stream.push_back(value);
        } else {
            data.insert(data.end(), {static_cast<uint8_t>(0xC0 + count), value});
            stream.insert(stream.end(), count, value);
        }
    }
    for (const auto& [planes, stride] :
         {std::pair<uint8_t, uint16_t>{1, kWidth}, {3, kWidth}, {1, kPadded}, {3, kPadded}}) {
        const size_t line = size_t{planes} * stride;
        for (const size_t cut : {data.size(), size_t{700}, size_t{1201}, size_t{64}}) {
            SCOPED_TRACE(testing::Message()
                         << int{planes} << " planes of " << stride << ", " << cut << " bytes");
            // What a plain decoding of the cut data gives, zeros where it ends.
            std::vector<uint8_t> decoded(line * kHeight);
            size_t n = 0;
            for (size_t i = 0; i < cut && n < decoded.size(); ++i) {
                const bool run = data[i] > 0xC0;
                if (run && i + 1 == cut) {
                    break;
                }
                const size_t count = run ? std::min<size_t>(data[i] & 0x3F, decoded.size() - n) : 1;
                std::fill_n(decoded.begin() + n, count, run ? data[++i] : data[i]);
                n += count;
            }
            std::vector<uint32_t> expected;
            for (size_t y = 0; y < kHeight; ++y) {
                for (size_t x = 0; x < kWidth; ++x) {
                    const uint8_t* p = &decoded[y * line + x];
                    expected.push_back(planes == 1 ? p[0]
                                                   : p[0] << 16 | p[stride] << 8 | p[2 * stride]);
                }
            }
            const std::vector<uint8_t> file(data.begin(), data.begin() + cut);
            EXPECT_EQ(
                load(pcx(8, planes, kWidth, kHeight, stride, file), kWidth, kHeight, 8 * planes),
                n == decoded.size() ? IMG_OK : IMG_ERR_LZW);
            EXPECT_EQ(pixels(0, kHeight, kWidth), expected);
        }
    }
}

TEST_F(Pcx, PalettesOfTheLayouts) {
    // 16 colours in planes, version 3: the default palette. Plane lines of
    // one byte, and padded to two.
    for (const auto& [bytes_per_line, data] :
         {std::pair<uint16_t, std::vector<uint8_t>>{1, {0x80, 0x40, 0, 0x40}},
          {2, {0x80, 0, 0x40, 0, 0, 0, 0x40, 0}}}) {
        ASSERT_EQ(load(pcx(1, 4, 8, 1, bytes_per_line, data, 3), 8, 1, 8), IMG_OK);
        EXPECT_EQ(pixels(0, 1, 3), (std::vector<uint32_t>{1, 10, 0}));
        EXPECT_EQ(image.color_count, 16);
        EXPECT_EQ(reader_corpus::entry(image, 6), 0xA85400u);
    }
    // 16 colours two to a byte, high nibble first; version 2: the header
    // palette.
    ASSERT_EQ(load(pcx(4, 1, 3, 1, 2, {0x12, 0x30}, 2, {0, 0, 0, 9, 8, 7}), 3, 1, 8), IMG_OK);
    EXPECT_EQ(pixels(0, 1, 3), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(rgb(image, 0, 0), 0x090807u);
    EXPECT_EQ(image.color_count, 16);
    // Monochrome whose two entries are equal: the black and white ramp.
    ASSERT_EQ(load(pcx(1, 1, 8, 1, 1, {0x0F}, 5, {5, 5, 5, 5, 5, 5}), 8, 1, 1), IMG_OK);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    EXPECT_EQ(rgb(image, 7, 0), 0xFFFFFFu);
    // 256 colours without the trailing palette: the header's 16 entries.
    ASSERT_EQ(load(pcx(8, 1, 1, 1, 1, {5}, 5, {1, 2, 3}), 1, 1, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 16);
    EXPECT_EQ(rgb(image, 0, 0), 0u);
    EXPECT_EQ(reader_corpus::entry(image, 0), 0x010203u);
    // With its trailing palette whole, cut at each point inside it (its
    // marker after the pixel data, runs in those included), and with other
    // bytes after the data.
    std::vector<uint8_t> data = {0xC3, 7, 0xC2, 9, 4};  // 7 7 7, then 9 9 and 4 over two rows
    const size_t pixel_bytes = data.size();
    data.push_back(0x0C);
    for (int i = 0; i < 768; ++i) {
        data.push_back(static_cast<uint8_t>(i));
    }
    const auto whole = pcx(8, 1, 3, 2, 3, data, 5, {1, 2, 3});
    ASSERT_EQ(load(whole, 3, 2, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(reader_corpus::entry(image, 1), 0x030405u);
    for (const size_t kept : {size_t{1}, size_t{2}, size_t{400}, size_t{768}}) {
        const std::vector<uint8_t> cut(whole.begin(),
                                       whole.begin() + ptrdiff_t(128 + pixel_bytes + kept));
        ASSERT_EQ(load(cut, 3, 2, 8), IMG_ERR_LZW) << kept;
        EXPECT_EQ(pixels(0, 2, 3), (std::vector<uint32_t>{7, 7, 7, 9, 9, 4})) << kept;
        EXPECT_EQ(image.color_count, 16) << kept;
        EXPECT_EQ(reader_corpus::entry(image, 0), 0x010203u) << kept;
    }
    std::vector<uint8_t> padded(whole.begin(), whole.begin() + ptrdiff_t(128 + pixel_bytes));
    padded.insert(padded.end(), {0, 0});
    EXPECT_EQ(load(padded, 3, 2, 8), IMG_OK);  // no palette at all
    padded.insert(padded.end(), {0x0C, 1, 2, 3});
    EXPECT_EQ(load(padded, 3, 2, 8), IMG_ERR_LZW);  // a palette cut after padding
    padded[padded.size() - 5] = 1;
    EXPECT_EQ(load(padded, 3, 2, 8), IMG_OK);  // other bytes: no palette
    // 2 bits in one plane is no layout.
    EXPECT_EQ(load(pcx(2, 1, 4, 1, 1, {0}), 4, 1, 8), IMG_ERR_PCX);
}

// The corpus: files with a reference rendering match it exactly, the others
// the checksum of a rendering checked by eye.
constexpr const char* kOutcomes = R"(
kimageformats/dice_rgba.pcx          IMG_ERR_BPP  4 planes of 8 bits: 32 bits
pillow/ossfuzz-4836216264589312.pcx  IMG_ERR_PCX  encoding 32
pillow/01r_00.pcx     3531528534  bytes per line 12, width 88: 12 columns of noise
pillow/odd_stride.pcx 2588711729  three trams and their captions
pillow/p_4_planes.pcx 1045519647  one red pixel
pillow/pil184.pcx     1786228312  a signature, black on white
)";

TEST(PcxCorpus, EveryFileMatchesItsReference) {
    if (test_support::corpus_dir("pcx").empty()) {
        GTEST_SKIP() << "PCX corpus not present";
    }
    const int compared = reader_corpus::check_corpus(
        "pcx", kOutcomes, 128, IMG_ERR_PCX,
        [](const std::string& file, const ImageDesc& image, const PictureOpen& opened) {
            const auto png =
                reader_corpus::read_png(std::filesystem::path(file).replace_extension(".png"));
            EXPECT_EQ(reader_corpus::differences(image, opened.info, png, 0), 0);
            return 1;
        });
    EXPECT_EQ(compared, 14);
}

}  // namespace
