#include "imaging/readers/tga.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <string>
#include <vector>

#include "tests/imaging/reader_corpus.h"

using namespace imaging;
using reader_corpus::rgb;

namespace {

// A TGA file: the header, a colour map of `map` entries of `entry_bits` bits
// when `map` is not empty, and the pixel data.
std::vector<uint8_t> tga(uint8_t type, uint8_t depth, uint8_t width, uint8_t height,
                         uint8_t descriptor, const std::vector<uint8_t>& data,
                         const std::vector<uint8_t>& map = {}, uint8_t entry_bits = 24) {
    std::vector<uint8_t> f(18 + map.size() + data.size());
    f[1] = !map.empty();
    f[2] = type;
    f[5] = static_cast<uint8_t>(map.size() * 8 / entry_bits);
    f[7] = entry_bits;
    f[12] = width;
    f[14] = height;
    f[16] = depth;
    f[17] = descriptor;
    std::copy(data.begin(), data.end(), std::copy(map.begin(), map.end(), f.begin() + 18));
    return f;
}

class Tga : public reader_corpus::ReaderTest {
  protected:
    Tga() : ReaderTest(".tga", tga_load) {}
};

// A raw packet of 6 and a run of 5 carry over row ends. Top-down the picture
// lands top-left; bottom-up its first row is the bottom one and it lands
// bottom-left; right-to-left rows are mirrored back.
TEST_F(Tga, PacketsCrossRows) {
    const std::vector<uint8_t> data = {0x05, 1, 2, 3, 4, 5, 6, 0x84, 0x50, 0x00, 0x60};
    ASSERT_EQ(load(tga(11, 8, 4, 3, 0x20, data), 16, 16, 8), IMG_OK);
    EXPECT_EQ(pixels(0, 3, 4), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 80, 80, 80, 80, 80, 96}));
    EXPECT_EQ(pixels(3, 13, 16), std::vector<uint32_t>(13 * 16));
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    ASSERT_EQ(load(tga(11, 8, 4, 3, 0x00, data), 16, 16, 8), IMG_OK);
    EXPECT_EQ(pixels(13, 3, 4), (std::vector<uint32_t>{80, 80, 80, 96, 5, 6, 80, 80, 1, 2, 3, 4}));
    ASSERT_EQ(load(tga(11, 8, 4, 3, 0x30, data), 4, 3, 8), IMG_OK);
    EXPECT_EQ(pixels(0, 3, 4), (std::vector<uint32_t>{4, 3, 2, 1, 80, 80, 6, 5, 96, 80, 80, 80}));

    // True colour: a run of 3 and a raw pixel, stored whole and clipped.
    const auto colour = tga(10, 24, 2, 2, 0x20, {0x82, 0x30, 0x20, 0x10, 0x00, 3, 2, 1});
    ASSERT_EQ(load(colour, 2, 2, 24), IMG_OK);
    EXPECT_EQ(pixels(0, 2, 2), (std::vector<uint32_t>{0x102030, 0x102030, 0x102030, 0x010203}));
    EXPECT_EQ(image.color_count, 0);
    ASSERT_EQ(load(colour, 2, 2, 24, {1, 0, 1, 1}), IMG_OK);
    EXPECT_EQ(pixels(0, 2, 2), (std::vector<uint32_t>{0, 0x102030, 0, 0x102030}));
}

TEST_F(Tga, PixelConversions) {
    // 16 bits: x r r r r r g g g g g b b b b b, little-endian.
    ASSERT_EQ(load(tga(2, 16, 4, 1, 0, {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0x00, 0xFC}), 4, 1, 24),
              IMG_OK);
    EXPECT_EQ(pixels(0, 1, 4), (std::vector<uint32_t>{0xF8F8F8, 0, 0x0000F8, 0xF80000}));
    // 32 bits and gray with alpha (the gray bytes, on the gray palette), left
    // to right and right to left.
    for (const uint8_t descriptor : {0x00, 0x10}) {
        SCOPED_TRACE(int{descriptor});
        const bool mirrored = descriptor != 0;
        const std::vector<uint8_t> two = {0x10, 0x20, 0x30, 0xFF, 0x40, 0x50, 0x60, 0};
        ASSERT_EQ(load(tga(2, 32, 2, 1, descriptor, two), 2, 1, 24), IMG_OK);
        EXPECT_EQ(pixels(0, 1, 2), mirrored ? (std::vector<uint32_t>{0x605040, 0x302010})
                                            : (std::vector<uint32_t>{0x302010, 0x605040}));
        ASSERT_EQ(load(tga(3, 16, 2, 1, descriptor, {1, 0xFF, 2, 0}), 2, 1, 8), IMG_OK);
        EXPECT_EQ(pixels(0, 1, 2),
                  mirrored ? (std::vector<uint32_t>{2, 1}) : (std::vector<uint32_t>{1, 2}));
        EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    }
    // A colour map of 16-bit entries whose first entry is index 2.
    std::vector<uint8_t> mapped = tga(1, 8, 2, 1, 0, {2, 3}, {0x1F, 0x00, 0x00, 0x7C}, 16);
    mapped[3] = 2;
    ASSERT_EQ(load(mapped, 2, 1, 8), IMG_OK);
    EXPECT_EQ(image.color_count, 4);
    EXPECT_EQ(rgb(image, 0, 0), 0x0000F8u);
    EXPECT_EQ(rgb(image, 1, 0), 0xF80000u);
}

TEST_F(Tga, RefusedFiles) {
    // Image type 0 is read only with the version 2 footer, and then refused.
    std::vector<uint8_t> typeless = tga(0, 8, 1, 1, 0, {0});
    const char footer[] = "xxTRUEVISION-XFILE.";  // and its terminating zero
    typeless.insert(typeless.end(), footer, footer + sizeof footer);
    TgaInfo info{};
    EXPECT_EQ(tga_info(write(typeless).c_str(), &info), IMG_OK);
    EXPECT_EQ(load(typeless, 1, 1, 8), IMG_ERR_TGA);
    EXPECT_EQ(load(typeless, 1, 1, 24), IMG_ERR_BPP);
    typeless[typeless.size() - 18] = 't';
    EXPECT_EQ(tga_info(write(typeless).c_str(), &info), IMG_ERR_TGA);

    EXPECT_EQ(load(tga(2, 24, 1, 1, 0, {1, 2, 3}), 1, 1, 8), IMG_ERR_BPP);
    EXPECT_EQ(load(tga(2, 15, 1, 1, 0, {1, 2}), 1, 1, 24), IMG_ERR_TGA);
    EXPECT_EQ(load(tga(3, 24, 1, 1, 0, {1, 2, 3}), 1, 1, 8), IMG_ERR_TGA);
    // A colour map of 8-bit entries is refused rather than read out of step.
    EXPECT_EQ(load(tga(1, 8, 1, 1, 0, {0}, {1, 2, 3}, 8), 1, 1, 8), IMG_ERR_TGA);
}

// The corpus: each file that loads matches its suite's rendering where there
// is one, and stb_image's decoding where stb reads it.
constexpr const char* kOutcomes = R"(
image-rs/regression/bad-color-map.tga            IMG_ERR_BPP  colour-mapped, 24-bit pixels
image-rs/regression/flip-zero-height.tga         IMG_ERR_TGA  image type 0
image-rs/regression/flip-zero-height2.tga        IMG_ERR_TGA
image-rs/regression/orientation-zero-width.tga   IMG_ERR_TGA
image-rs/regression/overfull-image.tga           IMG_ERR_TGA  pixel depth 32 as 8-bit gray
image-rs/regression/sixteen-bit-gray-colormap.tga  IMG_ERR_TGA  header cut short
image-rs/regression/sixteen-bit-gray-colormap2.tga IMG_ERR_BPP  gray with 32-bit pixels
image-rs/regression/slice-copy-length.tga        IMG_ERR_LZW  the data ends in the first row
pillow/p_8.tga                                   IMG_ERR_TGA  colour map of 8-bit entries
pillow/cross_scan_line_truncated.tga             IMG_ERR_LZW
)";

// The suites' renderings beside a file: name.tga.png, name.png, or for
// Pillow's {size}_{mode}_{origin}_{compression}.tga, {size}_{mode}.png.
reader_corpus::Rendering reference_png(const std::filesystem::path& file) {
    const std::string stem = file.stem().string();
    const auto cut = stem.find('_', stem.find('_') + 1);
    for (const auto& candidate :
         {std::filesystem::path(file.string() + ".png"), file.parent_path() / (stem + ".png"),
          file.parent_path() / (stem.substr(0, cut) + ".png")}) {
        if (std::filesystem::exists(candidate)) {
            return reader_corpus::read_png(candidate);
        }
    }
    return {};
}

// stb_image's decoding, opaque; mirrored when `mirrored` (stb ignores the
// right-to-left flag).
reader_corpus::Rendering stb_decoding(const std::string& file, bool mirrored) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load(file.c_str(), &width, &height, &channels, 4);
    reader_corpus::Rendering out;
    if (rgba != nullptr) {
        out = {uint32_t(width), uint32_t(height), {rgba, rgba + size_t(width) * height * 4}};
        stbi_image_free(rgba);
    }
    for (size_t i = 0; i < out.rgba.size(); i += 4) {
        const size_t x = i / 4 % out.width;
        if (mirrored && 2 * x < out.width) {
            std::swap_ranges(&out.rgba[i], &out.rgba[i + 4],
                             &out.rgba[i + 4 * (out.width - 1 - 2 * x)]);
        }
        out.rgba[i + 3] = 255;
    }
    return out;
}

TEST(TgaCorpus, EveryFileMatchesItsReferences) {
    if (test_support::corpus_dir("tga").empty()) {
        GTEST_SKIP() << "TGA corpus not present";
    }
    const int compared = reader_corpus::check_corpus(
        "tga", kOutcomes, 18, IMG_ERR_TGA,
        [](const std::string& file, const ImageDesc& image, const PictureOpen& opened) {
            TgaInfo info{};
            EXPECT_EQ(tga_info(file.c_str(), &info), IMG_OK);
            // 5-bit channels are scaled by 8 (31 becomes 248); the references
            // widen them to 255.
            const int tolerance = info.pixel_depth == 16 || info.color_map_entry_size == 15 ||
                                          info.color_map_entry_size == 16
                                      ? 7
                                      : 0;
            // A bottom-up picture lower than the image sits at its bottom.
            const uint32_t top =
                (info.origin_bits & 2) == 0 && info.height < 16 ? 16 - info.height : 0;
            int references = 0;
            const auto png = reference_png(file);
            if (!png.rgba.empty()) {
                EXPECT_EQ(reader_corpus::differences(image, opened.info, png, tolerance, top), 0);
                ++references;
            }
            // stb takes the colour map's first index for a byte count.
            const auto stb = stb_decoding(file, (info.origin_bits & 1) != 0);
            if (!stb.rgba.empty() && !file.ends_with("cmap_offset.tga")) {
                EXPECT_EQ(reader_corpus::differences(image, opened.info, stb, tolerance, top), 0);
                references += 2;
            }
            return references;
        });
    EXPECT_EQ(compared, 48 + 2 * 58);  // files compared with their rendering, with stb
}

}  // namespace
