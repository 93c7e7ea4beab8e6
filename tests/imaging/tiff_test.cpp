#include "imaging/readers/tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "support/test_support.h"

using namespace imaging;

namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

// Opens a file as the viewer opens a .tif file, whatever its name.
PictureOpen open_file(const fs::path& path, ImageDesc* image) {
    for (const ReaderEntry& reader : raster_readers()) {
        if (std::string(reader.extension) == ".tif") {
            OpenLimits limits;
            limits.clip_above_pixels = 64 << 20;
            return picture_open(reader, path.c_str(), image, limits);
        }
    }
    ADD_FAILURE() << "no .tif reader";
    return {};
}

// ---------------------------------------------------------------------------
// The reference: libtiff's decoding of the strips, put through the reader's
// row conversions.

struct Reference {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rows;  // the image's rows as the reader stores them, top first
    uint32_t row_bytes = 0;
    std::vector<uint16_t> map;  // the colour map, reds then greens then blues
};

void quiet(const char*, const char*, va_list) {}

// Decodes the first image with libtiff; false when libtiff does not decode it
// fully or the reader's conversion of its layout is not compared.
bool reference(const fs::path& path, Reference* out) {
    TIFFSetErrorHandler(quiet);
    TIFFSetWarningHandler(quiet);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return false;
    }
    uint32_t width = 0, height = 0, rps = 0;
    uint16_t bits = 1, spp = 1, photometric = 1, planar = 1, compression = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        photometric = compression == 2 ? 0 : 1;
    }
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    const bool palette =
        photometric == 3 && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 0;
    const bool rgb = bits == 8 && photometric == 2 && (spp == 3 || spp == 4);
    const bool compared = !TIFFIsTiled(tif) && planar == 1 && width > 0 && height > 0 &&
                          ((bits == 1 && spp == 1) || (bits == 4 && spp == 1) ||
                           (bits == 8 && spp <= 2) || (bits == 16 && spp == 1) || rgb);
    if (!compared || uint64_t{width} * height > 64 << 20) {
        TIFFClose(tif);
        return false;
    }
    const tmsize_t strip_size = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    const tmsize_t scanline = TIFFScanlineSize(tif);
    std::vector<uint8_t> raw(size_t(scanline) * height + size_t(strip_size));
    bool complete = true;
    for (uint32_t s = 0; s < strips && complete; ++s) {
        const uint32_t rows = std::min(rps, height - std::min(height, s * rps));
        const tmsize_t got =
            TIFFReadEncodedStrip(tif, s, raw.data() + size_t(s) * rps * scanline, strip_size);
        complete = got >= tmsize_t(rows) * scanline;
    }
    if (palette) {
        const uint32_t n = 1u << std::min<uint16_t>(bits, 8);
        out->map.insert(out->map.end(), red, red + n);
        out->map.insert(out->map.end(), green, green + n);
        out->map.insert(out->map.end(), blue, blue + n);
    }
    TIFFClose(tif);
    if (!complete) {
        return false;
    }

    out->width = width;
    out->height = height;
    const uint32_t depth = bits == 1 ? 1 : bits == 16 ? 16 : rgb ? 24 : 8;
    out->row_bytes = (width * depth + 7) / 8;
    out->rows.assign(size_t(out->row_bytes) * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = raw.data() + size_t(y) * scanline;
        uint8_t* row = out->rows.data() + size_t(y) * out->row_bytes;
        for (uint32_t x = 0; x < out->row_bytes && depth == 1; ++x) {
            // Bilevel rows show white as 1: min-is-white rows are inverted
            // (libtiff gives fax rows in the image's photometric sense).
            row[x] = photometric == 0 ? uint8_t(~in[x]) : in[x];
        }
        for (uint32_t x = 0; x < width && depth == 8; ++x) {
            row[x] = bits == 4 ? uint8_t(((in[x / 2] >> (x % 2 ? 0 : 4)) & 15) << (palette ? 0 : 4))
                               : in[x * spp];
        }
        if (depth == 16) {
            std::memcpy(row, in, 2 * size_t(width));
        }
        for (uint32_t x = 0; x < width && depth == 24; ++x) {
            for (int c = 0; c < 3; ++c) {
                row[3 * x + c] = in[spp * x + 2 - c];
            }
        }
    }
    return true;
}

// Pixels of the image's top-left rows and columns that differ from the
// reference (bits, bytes or 16-bit samples).
int differences(const ImageDesc& image, const Reference& ref) {
    int count = 0;
    const uint32_t depth = uint32_t(image_bits(image));
    for (uint32_t y = 0; y < ref.height; ++y) {
        const uint8_t* got = image_row(image, y);
        const uint8_t* want = ref.rows.data() + size_t(y) * ref.row_bytes;
        for (uint32_t x = 0; x < ref.width; ++x) {
            if (depth == 1) {
                count += ((got[x / 8] ^ want[x / 8]) >> (7 - x % 8)) & 1;
            } else {
                const uint32_t n = depth / 8;
                count += std::memcmp(got + n * x, want + n * x, n) != 0;
            }
        }
    }
    return count;
}

// Names by status: a word starting with IMG_ names the status of the names
// after it; '#' starts a comment.
std::map<std::string, std::string> table(const char* text) {
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string line, word, status;
    while (std::getline(lines, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        while (words >> word) {
            if (word.starts_with("IMG_")) {
                status = word;
            } else {
                out[word] = status;
            }
        }
    }
    return out;
}

// Every corpus file (outside the fuzzers' inputs, which only must give a
// status) whose open does not end in success, by status, without extension.
constexpr const char* kRefused = R"(
IMG_ERR_BPP  # depths the viewer cannot allocate: 2, 3, 5 to 7, 10 to 14, 32 and 64 bits
    image-tiff/12bit.cropped.rgb image-tiff/12bit.cropped image-tiff/gradient-1c-32b-float
    image-tiff/gradient-1c-32b image-tiff/gradient-1c-64b-float image-tiff/gradient-1c-64b
    image-tiff/hpredict-1c-12b image-tiff/minisblack-1c-3b image-tiff/minisblack-1c-5b
    image-tiff/minisblack-1c-7b image-tiff/miniswhite-1c-12b image-tiff/miniswhite-1c-3b
    image-tiff/miniswhite-1c-6b image-tiff/seq/seq-1c-10b-6d739fa2
    image-tiff/seq/seq-1c-10b-hpredict-6d739fa2 image-tiff/seq/seq-1c-10b-miniswhite-6d739fa2
    image-tiff/seq/seq-1c-12b-47c39b31 image-tiff/seq/seq-1c-12b-hpredict-47c39b31
    image-tiff/seq/seq-1c-12b-miniswhite-47c39b31 image-tiff/seq/seq-1c-14b-e883657f
    image-tiff/seq/seq-1c-14b-hpredict-e883657f image-tiff/seq/seq-1c-14b-miniswhite-e883657f
    image-tiff/seq/seq-1c-2b-58b25f76 image-tiff/seq/seq-1c-32f-390fe673
    image-tiff/seq/seq-1c-32f-deflate-fpredict-390fe673 image-tiff/seq/seq-1c-3b-ef237c07
    image-tiff/seq/seq-1c-3b-miniswhite-ef237c07 image-tiff/seq/seq-1c-5b-73098d17
    image-tiff/seq/seq-1c-5b-miniswhite-73098d17 image-tiff/seq/seq-1c-64f-afa8560e
    image-tiff/seq/seq-1c-64f-deflate-fpredict-afa8560e
    image-tiff/seq/seq-1c-6b-miniswhite-79cafbb6 image-tiff/seq/seq-1c-7b-9c61ba70
    image-tiff/seq/seq-1c-7b-miniswhite-9c61ba70 image-tiff/seq/seq-1c-i32-99fddec2
    image-tiff/seq/seq-3c-10b-contig-d08d5dc0 image-tiff/seq/seq-3c-10b-planar-c82e8ab6
    image-tiff/seq/seq-3c-12b-contig-e6f40b4a image-tiff/seq/seq-3c-12b-planar-e29e8e25
    image-tiff/seq/seq-3c-14b-contig-f4dcc6cc image-tiff/seq/seq-3c-14b-planar-4dde706b
    image-tiff/seq/seq-3c-5b-contig-09f197f4 image-tiff/seq/seq-3c-7b-contig-2e4f43c5
    libtiff/test_float64_predictor2_be_lzw libtiff/test_float64_predictor2_le_lzw
    libtiffpic/depth/flower-minisblack-02 libtiffpic/depth/flower-minisblack-06
    libtiffpic/depth/flower-minisblack-10 libtiffpic/depth/flower-minisblack-12
    libtiffpic/depth/flower-minisblack-14 libtiffpic/depth/flower-minisblack-32
    libtiffpic/depth/flower-palette-02 libtiffpic/depth/flower-rgb-contig-02
    libtiffpic/depth/flower-rgb-contig-04 libtiffpic/depth/flower-rgb-contig-10
    libtiffpic/depth/flower-rgb-contig-12 libtiffpic/depth/flower-rgb-contig-14
    libtiffpic/depth/flower-rgb-planar-02 libtiffpic/depth/flower-rgb-planar-04
    libtiffpic/depth/flower-rgb-planar-10 libtiffpic/depth/flower-rgb-planar-12
    libtiffpic/depth/flower-rgb-planar-14 pillow/12bit.cropped
    pillow/crash-0da013a13571cc8eb457a39fee8db18f8a3c7127 pillow/tiff_gray_2_4_bpp/hopper2
    pillow/tiff_gray_2_4_bpp/hopper2I pillow/tiff_gray_2_4_bpp/hopper2IR
    pillow/tiff_gray_2_4_bpp/hopper2R
IMG_ERR_ENCODING  # deflate, JPEG, zstd, WebP, LogLuv, ThunderScan; planar or CMYK samples; 16-bit RGB
    go-image/bw-deflate go-image/invalid-palette-ref go-image/video-001-16bit
    go-image/video-001-paletted go-image/video-001-strip-64 go-image/video-001
    image-rs/clusterfuzz-testcase-minimized-fuzzer_script_tiff-5026894169374720
    image-rs/cmyk_u8_edge_case image-rs/cmyk_u8_trunc_case image-rs/hpredict_packbits
    image-tiff/cmyk-3c-8b image-tiff/int16_rgb image-tiff/int16_zstd image-tiff/issue_69_lzw
    image-tiff/issue_69_packbits image-tiff/random-fp16-pred2 image-tiff/random-fp16-pred3
    image-tiff/random-fp16 image-tiff/seq/seq-1c-16b-deflate-68f373a0
    image-tiff/seq/seq-1c-16b-lzw-68f373a0 image-tiff/seq/seq-1c-24b-072a9dc9
    image-tiff/seq/seq-1c-24b-hpredict-072a9dc9 image-tiff/seq/seq-1c-24b-miniswhite-072a9dc9
    image-tiff/seq/seq-1c-8b-deflate-20f3db0c image-tiff/seq/seq-3c-24b-planar-6296c0c9
    image-tiff/seq/seq-3c-i16-f7fcf423 image-tiff/seq/seq-3c-i8-d7550ce4
    image-tiff/seq/seq-4c-16b-cmyk-c6e52592 image-tiff/seq/seq-4c-16b-rgba-5181991f
    image-tiff/seq/seq-4c-8b-cmyk-352ac1da image-tiff/single-black-fp16 image-tiff/subsubifds
    image-tiff/tiled-jpeg-ycbcr image-tiff/white-fp16-pred2 image-tiff/white-fp16-pred3
    libtiff/32bpp-None-jpeg libtiff/deflate-last-strip-extra-data libtiff/logluv-3c-16b
    libtiff/ojpeg_chewey_subsamp21_multi_strip libtiff/ojpeg_single_strip_no_rowsperstrip
    libtiff/rgb-3c-16b libtiff/webp_lossless_rgba_alpha_fully_opaque
    libtiffpic/depth/flower-minisblack-24 libtiffpic/depth/flower-palette-16
    libtiffpic/depth/flower-rgb-contig-16 libtiffpic/depth/flower-rgb-planar-08
    libtiffpic/depth/flower-rgb-planar-16 libtiffpic/depth/flower-rgb-planar-24
    libtiffpic/depth/flower-separated-contig-08 libtiffpic/depth/flower-separated-contig-16
    libtiffpic/depth/flower-separated-planar-08 libtiffpic/depth/flower-separated-planar-16
    libtiffpic/ladoga libtiffpic/off_l16 libtiffpic/oxford libtiffpic/quad-jpeg
    libtiffpic/smallliz libtiffpic/text libtiffpic/ycbcr-cat pillow/copyleft
    pillow/crash-0c7e0e8e11ce787078f00b5b0ca409a167f070e0
    pillow/crash-0e16d3bfb83be87356d026d66919deaefca44dac
    pillow/crash-1152ec2d1a1a71395b6f2ce6721c38924d025bf3
    pillow/crash-1185209cf7655b5aed8ae5e77784dfdd18ab59e9
    pillow/crash-338516dbd2f0e83caddb8ce256c22db3bd6dc40f
    pillow/crash-4f085cc12ece8cde18758d42608bed6a2a2cfb1c
    pillow/crash-f46f5b2f43c370fe65706c11449f567ecc345e74 pillow/pil168
    pillow/separate_planar_extra_samples pillow/tiff_16bit_RGBa
IMG_ERR_LZW  # old-style LZW (codes least significant bit first) and damaged data
    libtiff/quad-lzw-compat pillow/crash-74d2a78403a5a59db1fb0a2b8735ac068a75f6e3
IMG_ERR_RANGE  # the allocation refuses the size (1 x 65537)
    image-tiff/big_g4 pillow/libtiff_segfault
IMG_ERR_TIFF_STRUCTURE  # BigTIFF, tiles (no StripOffsets), 32 and more bits, 5 BitsPerSample values
    go-image/video-001-tile-64x64 image-rs/rgb32f_bw image-rs/rgb32f_color
    image-tiff/bigtiff/BigTIFF image-tiff/bigtiff/BigTIFFLong image-tiff/bigtiff/BigTIFFMotorola
    image-tiff/cmyk-3c-32b-float image-tiff/cmyk-4c-8b image-tiff/gradient-3c-32b-float
    image-tiff/gradient-3c-32b image-tiff/gradient-3c-64b image-tiff/predictor-3-rgb-f32
    image-tiff/seq/seq-1c-16b-tiled-68f373a0 image-tiff/seq/seq-1c-8b-bigtiff-20f3db0c
    image-tiff/seq/seq-1c-8b-tiled-20f3db0c image-tiff/seq/seq-1c-8b-tiled-bigtiff-20f3db0c
    image-tiff/seq/seq-1c-8b-tiled-deflate-20f3db0c image-tiff/seq/seq-1c-8b-tiled-lzw-20f3db0c
    image-tiff/seq/seq-3c-16b-bigtiff-1b40ca6e image-tiff/seq/seq-3c-32f-9a471c2b
    image-tiff/seq/seq-3c-64f-9fff098a image-tiff/seq/seq-3c-8b-tiled-8743c999
    image-tiff/tiled-gray-i1 libtiff/ojpeg_zackthecat_subsamp22_single_strip libtiff/quad-tile.jpg
    libtiff/tiff_with_subifd_chain libtiffpic/depth/flower-rgb-contig-32
    libtiffpic/depth/flower-rgb-planar-32 pillow/crash-2020-10-test
    pillow/crash-63b1dffefc8c075ddc606c0a2f5fdc15ece78863
    pillow/crash-86214e58da443d2b80820cff9677a38a33dcbbca pillow/hopper_bigtiff
    pillow/oom-225817ca0f8c663be7ab4b9e717b02c661e66834 pillow/seek_too_large
    pillow/tiff_16bit_RGB
)";

TEST(TiffCorpus, EveryFileGivesAStatusAndMatchesLibtiff) {
    const fs::path corpus = test_support::corpus_dir("tiff");
    if (corpus.empty()) {
        GTEST_SKIP() << "TIFF corpus not present";
    }
    const auto refused = table(kRefused);
    int files = 0, compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const fs::path& path = entry.path();
        const std::string ext = path.extension().string();
        if (!entry.is_regular_file() || (ext != ".tif" && ext != ".tiff" && !ext.empty()) ||
            path.filename() == "README") {
            continue;
        }
        const std::string name = fs::relative(path, corpus).replace_extension().string();
        const bool fuzz = name.find("fuzz_images/") != std::string::npos;
        ImageDesc image{};
        const PictureOpen opened = open_file(path, &image);
        ++files;
        const auto it = refused.find(name);
        if (!fuzz) {
            EXPECT_STREQ(status_name(opened.status),
                         it == refused.end() ? "IMG_OK" : it->second.c_str())
                << name;
        }
        Reference ref;
        if (opened.stage == OpenStage::kLoad && opened.status == IMG_OK && reference(path, &ref)) {
            EXPECT_EQ(differences(image, ref), 0) << name;
            for (size_t i = 0; i < ref.map.size() / 3 && i < size_t(image.color_count); ++i) {
                const size_t n = ref.map.size() / 3;
                EXPECT_EQ(image.palette[i].red, ref.map[i] >> 8) << name;
                EXPECT_EQ(image.palette[i].green, ref.map[n + i] >> 8) << name;
                EXPECT_EQ(image.palette[i].blue, ref.map[2 * n + i] >> 8) << name;
            }
            ++compared;
        }
        image_free(&image);
    }
    EXPECT_EQ(files, 435);
    EXPECT_EQ(compared, 121);  // every file whose layout is compared
}

}  // namespace
