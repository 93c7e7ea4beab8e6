#include "imaging/readers/tga.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "reader_corpus.h"
#include "support/test_support.h"

using namespace imaging;
using reader_corpus::rgb;

namespace {

struct TgaFile {
    uint8_t type = 2;
    uint8_t depth = 24;
    uint16_t width = 1;
    uint16_t height = 1;
    uint8_t descriptor = 0;  // 0x10 right-to-left, 0x20 top-down
    uint8_t map_entry_size = 0;
    std::vector<uint8_t> map;  // a colour map when not empty
    std::vector<uint8_t> data;
};

TgaFile tga(uint8_t type, uint8_t depth, uint16_t width, uint16_t height,
            std::vector<uint8_t> data) {
    TgaFile f;
    f.type = type;
    f.depth = depth;
    f.width = width;
    f.height = height;
    f.data = std::move(data);
    return f;
}

std::vector<uint8_t> build(const TgaFile& f) {
    const uint32_t entries = f.map.empty() ? 0 : 8 * uint32_t(f.map.size()) / f.map_entry_size;
    std::vector<uint8_t> out(18 + f.map.size() + f.data.size());
    out[1] = !f.map.empty();
    out[2] = f.type;
    out[5] = static_cast<uint8_t>(entries);
    out[7] = f.map_entry_size;
    out[12] = static_cast<uint8_t>(f.width);
    out[14] = static_cast<uint8_t>(f.height);
    out[16] = f.depth;
    out[17] = f.descriptor;
    std::copy(f.data.begin(), f.data.end(),
              std::copy(f.map.begin(), f.map.end(), out.begin() + 18));
    return out;
}

class Tga : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const auto path = dir / (std::to_string(++files) + ".tga");
        test_support::write_file(path, bytes);
        return path.string();
    }

    ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height, int32_t bits) {
        image_free(&image);
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
        return tga_load(write(bytes).c_str(), &image);
    }

    // Index or 0xRRGGBB of each pixel of the image's first `width` columns and
    // `rows` rows from row `top`.
    std::vector<uint32_t> pixels(uint32_t top, uint32_t rows, uint32_t width) const {
        std::vector<uint32_t> out;
        for (uint32_t y = top; y < top + rows; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                out.push_back(image_bits(image) == 8 ? image_row(image, y)[x] : rgb(image, x, y));
            }
        }
        return out;
    }

    test_support::TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// A raw packet of 6 and a run of 5 carry over row ends. Top-down the picture
// lands top-left; bottom-up its first row is the bottom one and it lands
// bottom-left; right-to-left rows are mirrored back.
TEST_F(Tga, PacketsCrossRows) {
    TgaFile f = tga(11, 8, 4, 3, {0x05, 1, 2, 3, 4, 5, 6, 0x84, 0x50, 0x00, 0x60});
    const std::vector<uint32_t> picture = {1, 2, 3, 4, 5, 6, 0x50, 0x50, 0x50, 0x50, 0x50, 0x60};
    f.descriptor = 0x20;
    ASSERT_EQ(load(build(f), 16, 16, 8), IMG_OK);
    EXPECT_EQ(pixels(0, 3, 4), picture);
    EXPECT_EQ(pixels(3, 1, 16), std::vector<uint32_t>(16));
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);

    f.descriptor = 0x00;
    ASSERT_EQ(load(build(f), 16, 16, 8), IMG_OK);
    EXPECT_EQ(pixels(13, 3, 4),
              (std::vector<uint32_t>{0x50, 0x50, 0x50, 0x60, 5, 6, 0x50, 0x50, 1, 2, 3, 4}));
    f.descriptor = 0x30;
    ASSERT_EQ(load(build(f), 4, 3, 8), IMG_OK);
    EXPECT_EQ(pixels(0, 3, 4),
              (std::vector<uint32_t>{4, 3, 2, 1, 0x50, 0x50, 6, 5, 0x60, 0x50, 0x50, 0x50}));

    // True colour: a run of 3 then one raw pixel, stored whole and clipped.
    TgaFile colour = tga(10, 24, 2, 2, {0x82, 0x30, 0x20, 0x10, 0x00, 3, 2, 1});
    colour.descriptor = 0x20;
    ASSERT_EQ(load(build(colour), 2, 2, 24), IMG_OK);
    EXPECT_EQ(pixels(0, 2, 2), (std::vector<uint32_t>{0x102030, 0x102030, 0x102030, 0x010203}));
    EXPECT_EQ(image.color_count, 0);
    image_set_area(&image, 1, 0, 1, 1);
    std::memset(image.pixels, 0, image.row_bytes * 2);
    ASSERT_EQ(tga_load(write(build(colour)).c_str(), &image), IMG_OK);
    EXPECT_EQ(pixels(0, 2, 2), (std::vector<uint32_t>{0, 0x102030, 0, 0x102030}));
}

TEST_F(Tga, PixelConversions) {
    ASSERT_EQ(load(build(tga(2, 16, 2, 1, {0xFF, 0x7F, 0x00, 0x80})), 2, 1, 24), IMG_OK);
    EXPECT_EQ(pixels(0, 1, 2), (std::vector<uint32_t>{0xF8F8F8, 0}));
    ASSERT_EQ(load(build(tga(2, 32, 1, 1, {0x10, 0x20, 0x30, 0xFF})), 1, 1, 24), IMG_OK);
    EXPECT_EQ(pixels(0, 1, 1), std::vector<uint32_t>{0x302010});
}

// Data ending early: the rows stored so far stay, a row it ends inside has
// zeros where it was not reached, the palette is loaded (its complete
// entries when the map itself is cut) and the load reports IMG_ERR_LZW.
TEST_F(Tga, DataEndingEarly) {
    TgaFile f = tga(1, 8, 3, 3, {0, 1, 2, 3, 3, 3, 1, 1, 1});
    f.map_entry_size = 24;
    f.map = {0, 0, 0, 0x10, 0x20, 0x30, 9, 9, 9, 7, 7, 7};
    const std::vector<uint8_t> full = build(f);
    struct Cut {
        size_t size;
        ImgStatus status;
        std::vector<uint32_t> rows;  // picture rows, top first
        int32_t colors;
    };
    const std::vector<uint32_t> none(9);
    for (const Cut& cut : {Cut{17, IMG_ERR_TGA, none, 256}, Cut{18 + 7, IMG_ERR_LZW, none, 2},
                           Cut{30 + 4, IMG_ERR_LZW, {0, 0, 0, 3, 0, 0, 0, 1, 2}, 4},
                           Cut{full.size(), IMG_OK, {1, 1, 1, 3, 3, 3, 0, 1, 2}, 4}}) {
        SCOPED_TRACE(cut.size);
        ASSERT_EQ(load(std::vector<uint8_t>(full.begin(), full.begin() + long(cut.size)), 3, 3, 8),
                  cut.status);
        EXPECT_EQ(pixels(0, 3, 3), cut.rows);
        EXPECT_EQ(image.color_count, cut.colors);
    }
    EXPECT_EQ(rgb(image, 1, 2), 0x302010u);
}

TEST_F(Tga, RefusedFiles) {
    // Image type 0 is read only with the version 2 footer, and then refused.
    std::vector<uint8_t> typeless = build(tga(0, 8, 1, 1, {0}));
    const std::string footer = "xxxxxxxxTRUEVISION-XFILE.";
    typeless.insert(typeless.end(), footer.begin(), footer.end());
    typeless.push_back(0);
    TgaInfo info{};
    EXPECT_EQ(tga_info(write(typeless).c_str(), &info), IMG_OK);
    EXPECT_EQ(load(typeless, 1, 1, 8), IMG_ERR_TGA);
    EXPECT_EQ(load(typeless, 1, 1, 24), IMG_ERR_BPP);
    typeless[typeless.size() - 18] = 't';
    EXPECT_EQ(tga_info(write(typeless).c_str(), &info), IMG_ERR_TGA);

    EXPECT_EQ(load(build(tga(2, 24, 1, 1, {1, 2, 3})), 1, 1, 8), IMG_ERR_BPP);
    EXPECT_EQ(load(build(tga(2, 15, 1, 1, {1, 2})), 1, 1, 24), IMG_ERR_TGA);
    EXPECT_EQ(load(build(tga(3, 16, 1, 1, {1, 2})), 1, 1, 8), IMG_ERR_TGA);
    // A colour map of 8-bit entries is not read out of step: refused.
    TgaFile odd_map = tga(1, 8, 1, 1, {0});
    odd_map.map_entry_size = 8;
    odd_map.map = {1, 2, 3};
    EXPECT_EQ(load(build(odd_map), 1, 1, 8), IMG_ERR_TGA);
    EXPECT_EQ(tga_info((dir / "missing.tga").c_str(), &info), IMG_ERR_OPEN);
}

// ---------------------------------------------------------------------------
// The corpus: every file loads or is refused with a status; each file that
// loads matches its suite's reference rendering where there is one, and
// stb_image's decoding where stb reads it the same way.

constexpr const char* kOutcomes = R"(
image-rs/regression/bad-color-map.tga            IMG_ERR_BPP  colour-mapped, 24-bit pixels
image-rs/regression/flip-zero-height.tga         IMG_ERR_TGA  image type 0
image-rs/regression/flip-zero-height2.tga        IMG_ERR_TGA
image-rs/regression/orientation-zero-width.tga   IMG_ERR_TGA
image-rs/regression/overfull-image.tga           IMG_ERR_TGA  pixel depth 32 as 8-bit gray
image-rs/regression/sixteen-bit-gray-colormap.tga  IMG_ERR_TGA  header cut short
image-rs/regression/sixteen-bit-gray-colormap2.tga IMG_ERR_BPP  gray with 16-bit pixels
image-rs/regression/slice-copy-length.tga        IMG_ERR_LZW  the data ends in the first row
kimageformats/bwa.tga                            IMG_ERR_BPP  gray with alpha: 16-bit pixels
pillow/common/200x32_la_bl_raw.tga               IMG_ERR_BPP
pillow/common/200x32_la_bl_rle.tga               IMG_ERR_BPP
pillow/common/200x32_la_tl_raw.tga               IMG_ERR_BPP
pillow/common/200x32_la_tl_rle.tga               IMG_ERR_BPP
pillow/la.tga                                    IMG_ERR_BPP
pillow/p_8.tga                                   IMG_ERR_TGA  colour map of 8-bit entries
pillow/cross_scan_line_truncated.tga             IMG_ERR_LZW
)";

// stb_image ignores the right-to-left flag (its decoding of such files is
// compared mirrored back) and takes the colour map's first index for a byte
// count: cmap_offset.tga is compared with its rendering only.
constexpr const char* kNotAsStb = "image-rs/testsuite/cmap_offset.tga";

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

reader_corpus::Rendering stb_decoding(const std::filesystem::path& file, bool mirrored) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load(file.c_str(), &width, &height, &channels, 4);
    reader_corpus::Rendering out;
    if (rgba != nullptr) {
        out.width = uint32_t(width);
        out.height = uint32_t(height);
        out.rgba.assign(rgba, rgba + size_t(width) * size_t(height) * 4);
        for (size_t i = 0; i < out.rgba.size(); i += 4) {
            const size_t x = i / 4 % out.width;
            if (mirrored && 2 * x < out.width) {
                std::swap_ranges(&out.rgba[i], &out.rgba[i + 4],
                                 &out.rgba[i + 4 * (out.width - 1 - 2 * x)]);
            }
            out.rgba[i + 3] = 255;  // compare every pixel: the reader drops alpha
        }
        stbi_image_free(rgba);
    }
    return out;
}

TEST(TgaCorpus, EveryFileMatchesItsReferences) {
    const auto corpus = test_support::corpus_dir("tga");
    if (corpus.empty()) {
        GTEST_SKIP() << "TGA corpus not present";
    }
    const auto outcomes = reader_corpus::table(kOutcomes);
    int with_png = 0, with_stb = 0;
    for (const std::string& name : reader_corpus::files(corpus, ".tga")) {
        SCOPED_TRACE(name);
        ImageDesc image{};
        const PictureOpen opened =
            picture_open(reader_corpus::reader(".tga"), (corpus / name).c_str(), &image);
        const auto outcome = outcomes.find(name);
        EXPECT_STREQ(status_name(opened.status),
                     outcome == outcomes.end() ? "IMG_OK" : outcome->second.c_str());
        if (opened.status == IMG_OK) {
            TgaInfo info{};
            ASSERT_EQ(tga_info((corpus / name).c_str(), &info), IMG_OK);
            // 5-bit channels are scaled by 8 (31 becomes 248); the references
            // widen them to 255.
            const int tolerance = info.pixel_depth == 16 || info.color_map_entry_size == 15 ||
                                          info.color_map_entry_size == 16
                                      ? 7
                                      : 0;
            // A bottom-up picture lower than the image sits at its bottom.
            const uint32_t top =
                (info.origin_bits & 2) == 0 && info.height < 16 ? 16 - info.height : 0;
            const auto png = reference_png(corpus / name);
            if (!png.rgba.empty()) {
                EXPECT_EQ(reader_corpus::differences(image, opened.info, png, tolerance, top), 0);
                ++with_png;
            }
            const auto stb = stb_decoding(corpus / name, (info.origin_bits & 1) != 0);
            if (!stb.rgba.empty() && name != kNotAsStb) {
                EXPECT_EQ(reader_corpus::differences(image, opened.info, stb, tolerance, top), 0);
                ++with_stb;
            }
        }
        image_free(&image);
    }
    EXPECT_EQ(with_png, 43);
    EXPECT_EQ(with_stb, 52);
}

}  // namespace
