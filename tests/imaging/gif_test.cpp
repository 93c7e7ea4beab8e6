#include "imaging/readers/gif.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"
#include "tests/support/test_support.h"

using namespace imaging;

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Building GIF files in memory.

// Packs LZW codes least significant bit first, widening them as a decoder's
// table grows, into sub-blocks of 255 bytes and a terminator.
std::vector<uint8_t> pack_codes(const std::vector<uint32_t>& codes, uint32_t min_code_size) {
    const uint32_t clear = 1u << min_code_size;
    uint32_t width = min_code_size + 1, counter = clear + 2, count = 0;
    uint64_t bits = 0;
    std::vector<uint8_t> bytes;
    for (uint32_t code : codes) {
        bits |= uint64_t{code} << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8) {
            bytes.push_back(static_cast<uint8_t>(bits));
        }
        if (code == clear) {
            width = min_code_size + 1;
            counter = clear + 2;
        } else if (++counter > (1u << width) && width < 12) {
            ++width;
        }
    }
    if (count > 0) {
        bytes.push_back(static_cast<uint8_t>(bits));
    }
    std::vector<uint8_t> blocks;
    for (size_t i = 0; i < bytes.size(); i += 255) {
        const size_t n = std::min<size_t>(255, bytes.size() - i);
        blocks.push_back(static_cast<uint8_t>(n));
        blocks.insert(blocks.end(), bytes.begin() + i, bytes.begin() + i + n);
    }
    blocks.push_back(0);
    return blocks;
}

uint8_t test_index(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>((x * 7 + y * 13) % 251);
}

// The picture's pixels as root codes in file order (top to bottom, or
// interlaced), with a clear code every 3000 codes so that the table never
// fills, and the end code.
std::vector<uint32_t> root_codes(uint32_t width, uint32_t height, bool interlaced) {
    std::vector<uint32_t> codes = {256};
    const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (uint32_t pass = 0; pass < (interlaced ? 4u : 1u); ++pass) {
        for (uint32_t y = start[pass]; y < height; y += interlaced ? step[pass] : 1) {
            for (uint32_t x = 0; x < width; ++x) {
                if (codes.size() % 3000 == 0) {
                    codes.push_back(256);
                }
                codes.push_back(test_index(x, y));
            }
        }
    }
    codes.push_back(257);
    return codes;
}

struct GifFile {
    uint16_t width = 1, height = 1;
    uint32_t table_bits = 8;  // colour table entry i: red i, green 255 - i, blue 7 i
                              // (inverted in a global table that a local one overrides)
    bool global_table = true, local_table = false, interlaced = false;
    std::vector<uint8_t> extensions;  // whole extension blocks before the image
    uint32_t min_code_size = 8;
    std::vector<uint32_t> codes;
};

std::vector<uint8_t> build(const GifFile& g) {
    std::vector<uint8_t> table;
    for (uint32_t i = 0; i < (1u << g.table_bits); ++i) {
        table.insert(table.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(7 * i)});
    }
    const auto lo = [](uint32_t v) { return uint8_t(v); };
    const auto hi = [](uint32_t v) { return uint8_t(v >> 8); };
    std::vector<uint8_t> out;
    out.reserve(2048);
    out = {'G',
           'I',
           'F',
           '8',
           '9',
           'a',
           lo(g.width),
           hi(g.width),
           lo(g.height),
           hi(g.height),
           uint8_t((g.global_table ? 0x80 : 0) | 0x70 | (g.table_bits - 1)),
           0,
           0};
    for (size_t i = 0; i < table.size() && g.global_table; ++i) {
        out.push_back(g.local_table ? uint8_t(~table[i]) : table[i]);
    }
    out.insert(out.end(), g.extensions.begin(), g.extensions.end());
    out.insert(out.end(), {0x2C, 0, 0, 0, 0, lo(g.width), hi(g.width), lo(g.height), hi(g.height),
                           uint8_t((g.local_table ? 0x80 | (g.table_bits - 1) : 0) |
                                   (g.interlaced ? 0x40 : 0))});
    if (g.local_table) {
        out.insert(out.end(), table.begin(), table.end());
    }
    out.push_back(static_cast<uint8_t>(g.min_code_size));
    const std::vector<uint8_t> data = pack_codes(g.codes, g.min_code_size);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(0x3B);
    return out;
}

GifFile picture_file(uint16_t width, uint16_t height, bool interlaced = false) {
    GifFile g;
    g.width = width;
    g.height = height;
    g.interlaced = interlaced;
    g.codes = root_codes(width, height, interlaced);
    return g;
}

uint32_t pixel(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = image_row(image, y);
    return image_bits(image) == 1 ? (row[x / 8] >> (7 - x % 8)) & 1 : row[x];
}

class Gif : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / ("file" + std::to_string(++files) + ".gif");
        test_support::write_file(path, bytes);
        return path.string();
    }
    ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height,
                   int32_t bits = 8) {
        image_free(&image);
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
        return gif_load(write(bytes).c_str(), &image);
    }
    // Pixels of the image that differ from expected(x, y).
    int differences(const std::function<uint32_t(uint32_t, uint32_t)>& expected) const {
        int count = 0;
        for (uint32_t y = 0; y < uint32_t(image_height(image)); ++y) {
            for (uint32_t x = 0; x < uint32_t(image_width(image)); ++x) {
                count += pixel(image, x, y) != expected(x, y);
            }
        }
        return count;
    }

    test_support::TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// ---------------------------------------------------------------------------

TEST_F(Gif, InfoDescribesTheFirstImage) {
    GifFile g;
    g.width = 5;
    g.height = 3;
    g.interlaced = g.local_table = true;
    g.table_bits = 1;
    g.min_code_size = 2;
    g.codes = {4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 5};
    // A comment, then graphic control extensions: the last one with its
    // transparency flag set counts (a 3-byte block holds none).
    g.extensions = {0x21, 0xFE, 2, 'h', 'i', 0, 0x21, 0xF9, 4,    1, 0, 0, 9, 0, 0x21,
                    0xF9, 4,    0, 0,   0,   7, 0,    0x21, 0xF9, 3, 1, 0, 5, 0};
    GifInfo info{};
    ASSERT_EQ(gif_info(write(build(g)).c_str(), &info), IMG_OK);
    const GifInfo expected{5, 3, 8, 1, 9, 1, 2, 89, 1};
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
    // A two-colour image loads into a 1-bit image, at the top left.
    ASSERT_EQ(load(build(g), 16, 16, 1), IMG_OK);
    EXPECT_EQ(differences([](uint32_t x, uint32_t y) { return x < 5 && y < 3 ? 1u : 0u; }), 0);
    // The local table's colours, not the global table's.
    EXPECT_EQ(image.palette[1].red, 1);
    g.table_bits = 2;  // four colours: 8 bits per pixel
    ASSERT_EQ(gif_info(write(build(g)).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.bits_per_pixel, 8);
}

// Interlaced or not, a picture gives the same pixels; 400 x 300 root codes
// take 180 KB, across refills of every buffer. The palette is the file's red,
// green, blue reversed.
TEST_F(Gif, InterlacedOrNotAcrossRefills) {
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        ASSERT_EQ(load(build(picture_file(400, 300, interlaced)), 400, 300), IMG_OK);
        EXPECT_EQ(differences(test_index), 0);
        EXPECT_EQ(image.color_count, 256);
        EXPECT_EQ(image.type_flags, 0u);
        const PaletteEntry e = image.palette[3];
        EXPECT_EQ(e.blue * 65536 + e.green * 256 + e.red, 21 * 65536 + 252 * 256 + 3);
    }
}

// Only the area of interest changes. An interlaced picture taller than the
// area still fills every row of it; a 1-bit area may start past the first byte.
TEST_F(Gif, FillsOnlyTheAreaOfInterest) {
    for (int32_t bits : {8, 1}) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, interlaced " << interlaced);
            image_free(&image);
            ASSERT_EQ(image_alloc(&image, 40, 30, bits), IMG_OK);
            std::memset(image.pixels, 0xA5, size_t{image.row_bytes} * 30);
            image_set_area(&image, 11, 3, 30, 9);
            ASSERT_EQ(gif_load(write(build(picture_file(25, 20, interlaced))).c_str(), &image),
                      IMG_OK);
            EXPECT_EQ(differences([&](uint32_t x, uint32_t y) -> uint32_t {
                          if (x < 11 || x > 30 || y < 3 || y > 9) {
                              return bits == 1 ? (0xA5 >> (7 - x % 8)) & 1 : 0xA5;
                          }
                          const uint8_t v = test_index(x - 11, y - 3);
                          return bits == 1 ? v != 0 : v;
                      }),
                      0);
        }
    }
}

TEST_F(Gif, StatusesAndTheGrayRamp) {
    GifInfo info{};
    EXPECT_EQ(gif_info((dir / "missing.gif").c_str(), &info), IMG_ERR_OPEN);
    const std::vector<uint8_t> trailer_only = {'G', 'I', 'F', '8', '9', 'a', 1,
                                               0,   1,   0,   0,   0,   0,   0x3B};
    EXPECT_EQ(gif_info(write(trailer_only).c_str(), &info), IMG_ERR_NOT_GIF);
    GifFile g = picture_file(4, 4);
    std::vector<uint8_t> bytes = build(g);
    EXPECT_EQ(load(bytes, 4, 4, 24), IMG_ERR_BPP);
    bytes[0] = 'g';
    EXPECT_EQ(load(bytes, 4, 4), IMG_ERR_NOT_GIF);
    for (uint32_t size : {0u, 9u}) {
        g.min_code_size = size;
        EXPECT_EQ(load(build(g), 4, 4), IMG_ERR_NOT_GIF) << size;
        EXPECT_EQ(image.pixels[0], 0);
    }
    // Without any colour table the image gets the gray ramp and the gray flag.
    g = picture_file(4, 4);
    g.global_table = false;
    ASSERT_EQ(load(build(g), 4, 4), IMG_OK);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    EXPECT_EQ(pixel(image, 1, 1), test_index(1, 1));
}

// Damaged code streams end with IMG_ERR_LZW; the rows before stay and the
// palette is loaded. The end code is an explicit end, not damage.
TEST_F(Gif, DamagedCodeStreams) {
    const uint32_t clear = 4, end = 5;  // minimum code size 2
    struct Case {
        const char* name;
        std::vector<uint32_t> codes;
        ImgStatus status;
        uint32_t rows;  // complete rows of value 1 stored from the top
    };
    // Each code after the first adds an entry: 4090 of them fill the table.
    std::vector<uint32_t> full = {clear, 1};
    full.insert(full.end(), 4091, 1);
    std::vector<uint32_t> cleared(full.begin(), full.end() - 1);
    cleared.insert(cleared.end(), {clear, 1, 1, 1, 1, 1});
    // After the clear, the first code 7 is not a root; the next code makes
    // entry 6 point to the old entry 7, which points back to 6.
    const std::vector<uint32_t> loop = {clear, 1, 6, 1, clear, 7, 6, 6};
    for (const Case& c : {
             Case{"end code after two rows", {clear, 1, 1, 1, 1, 1, 1, 1, 1, end}, IMG_OK, 2},
             Case{"code past the table", {clear, 1, 1, 1, 1, 6, 1, 1, 1, 1, 15}, IMG_ERR_LZW, 2},
             Case{"data ends", {clear, 1, 1, 1, 1, 1, 1}, IMG_ERR_LZW, 1},
             Case{"table full without a clear", full, IMG_ERR_LZW, 1023},
             Case{"table full with a clear", cleared, IMG_OK, 1024},
             Case{"prefix chain in a loop", loop, IMG_ERR_LZW, 2},
         }) {
        SCOPED_TRACE(c.name);
        GifFile g;
        g.width = 4;
        g.height = 1024;
        g.table_bits = 2;
        g.min_code_size = 2;
        g.codes = c.codes;
        ASSERT_EQ(load(build(g), 4, 1024), c.status);
        EXPECT_EQ(differences([&](uint32_t x, uint32_t y) {
                      return y == 1 && x == 0 && c.codes == loop ? 7u : y < c.rows ? 1u : 0u;
                  }),
                  0);
        EXPECT_EQ(image.color_count, 4);
    }
}

// Truncated files at each structural boundary: before the image's data the
// file is refused (an extension cut off is damage), inside it the rows
// decoded stay and the palette is loaded.
TEST_F(Gif, TruncatedAtEachBoundary) {
    GifFile g = picture_file(100, 100);
    g.extensions = {0x21, 0xFE, 3, 'a', 'b', 'c', 0};
    const std::vector<uint8_t> whole = build(g);
    const size_t data = 13 + 768 + 7 + 10 + 1;
    struct Cut {
        size_t size;
        ImgStatus status;
        bool palette;  // the file's colour table loaded
        uint32_t rows;
    };
    for (const Cut& cut :
         {Cut{2, IMG_ERR_NOT_GIF, false, 0}, Cut{12, IMG_ERR_NOT_GIF, false, 0},
          Cut{500, IMG_ERR_NOT_GIF, false, 0}, Cut{13 + 768 + 4, IMG_ERR_LZW, false, 0},
          Cut{data - 5, IMG_ERR_NOT_GIF, false, 0}, Cut{data, IMG_ERR_LZW, true, 0},
          Cut{data + 3000, IMG_ERR_LZW, true, 22}, Cut{whole.size() - 2, IMG_OK, true, 100}}) {
        SCOPED_TRACE(cut.size);
        ASSERT_EQ(load({whole.begin(), whole.begin() + cut.size}, 100, 100), cut.status);
        EXPECT_EQ(image.color_count, 256);
        EXPECT_EQ(image.type_flags, cut.palette ? 0u : IMAGE_GRAY);
        EXPECT_EQ(differences(
                      [&](uint32_t x, uint32_t y) { return y < cut.rows ? test_index(x, y) : 0; }),
                  0);
    }
}

// ---------------------------------------------------------------------------
// The public GIF suites beside giflib.

// Files whose opening ends otherwise than IMG_OK, with the reason.
constexpr const char* kStatuses = R"(
pygif-test-suite/invalid-code.gif            IMG_ERR_LZW      a code past the table
pygif-test-suite/4095-codes.gif              IMG_ERR_LZW      codes go on after the table is full
pygif-test-suite/max-codes.gif               IMG_ERR_NOT_GIF  LZW minimum code size 11
pygif-test-suite/overflow-codes.gif          IMG_ERR_NOT_GIF  LZW minimum code size 12
pygif-test-suite/overflow-codes-max.gif      IMG_ERR_NOT_GIF  LZW minimum code size 255
pillow/issue_2811.gif                        IMG_ERR_NOT_GIF  LZW minimum code size 11
pillow/zero_width.gif                        IMG_ERR_NOT_GIF  LZW minimum code size 41
pygif-test-suite/image-zero-width.gif        IMG_ERR_NOT_GIF  the trailer read as the code size
pygif-test-suite/image-zero-height.gif       IMG_ERR_NOT_GIF  local colour table cut off
pygif-test-suite/image-zero-size.gif         IMG_ERR_NOT_GIF  local colour table cut off
pygif-test-suite/no-data.gif                 IMG_ERR_NOT_GIF  no image descriptor
pygif-test-suite/zero-width.gif              IMG_ERR_NOT_GIF
pygif-test-suite/zero-height.gif             IMG_ERR_NOT_GIF
pygif-test-suite/zero-size.gif               IMG_ERR_NOT_GIF
pygif-test-suite/max-size.gif                IMG_ERR_NOT_GIF
image-rs/regression/zero-loop-count.gif      IMG_ERR_NOT_GIF  15 bytes: cut off in the global table
pygif-test-suite/max-width.gif               IMG_ERR_RANGE    65535 columns: more than an 8-bit image holds
pygif-test-suite/max-height.gif              IMG_ERR_RANGE    65535 rows: more than an image holds
pillow/decompression_bomb.gif                IMG_ERR_RANGE    65535 columns
)";

// Files whose first image giflib decodes whole but this reader does not show
// as giflib does (deliberately, each as its status above says).
constexpr const char* kShownOtherwise = R"(
pygif-test-suite/4095-codes.gif   giflib goes on with a full table; here that is damage
pygif-test-suite/max-width.gif    the descriptor's column limit
pygif-test-suite/max-height.gif   the descriptor's row limit
)";

// giflib's decoding of the first image, deinterlaced: the image's width,
// pixels and colour table, or no pixels when giflib cannot read all its rows.
// (DGifSlurp would fail on damage in later images too.)
struct Reference {
    uint32_t width = 0;
    std::vector<uint8_t> pixels;
    std::vector<GifColorType> colors;
};

Reference giflib_first_image(const fs::path& path) {
    Reference ref;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    while (gif != nullptr && DGifGetRecordType(gif, &type) == GIF_OK &&
           type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* block = nullptr;
        for (int ok = DGifGetExtension(gif, &code, &block); ok == GIF_OK && block != nullptr;) {
            ok = DGifGetExtensionNext(gif, &block);
        }
    }
    if (gif != nullptr && type == IMAGE_DESC_RECORD_TYPE && DGifGetImageDesc(gif) == GIF_OK) {
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (map != nullptr) {
            ref.colors.assign(map->Colors, map->Colors + map->ColorCount);
        }
        ref.width = uint32_t(desc.Width);
        ref.pixels.assign(ref.width * uint32_t(desc.Height), 0);
        const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < (desc.Interlace ? 4 : 1); ++pass) {
            for (int y = start[pass]; y < desc.Height; y += desc.Interlace ? step[pass] : 1) {
                if (DGifGetLine(gif, &ref.pixels[size_t(y) * ref.width], desc.Width) != GIF_OK) {
                    ref.pixels.clear();
                    pass = 4;
                    break;
                }
            }
        }
    }
    DGifCloseFile(gif, &error);
    return ref;
}

// Every file gives a status; where giflib reads the first image whole, the
// pixels and colour table match it, except for the files listed above.
TEST(GifCorpus, EveryFileLoadsLikeGiflib) {
    const fs::path corpus = test_support::corpus_dir("gif");
    if (corpus.empty()) {
        GTEST_SKIP() << "GIF corpus not present";
    }
    const ReaderEntry* reader = nullptr;
    for (const ReaderEntry& entry : raster_readers()) {
        reader = std::string(entry.extension) == ".gif" ? &entry : reader;
    }
    ASSERT_NE(reader, nullptr);
    const auto statuses = test_support::name_table(kStatuses);
    const auto otherwise = test_support::name_table(kShownOtherwise);
    int files = 0, compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.path().extension() != ".gif") {
            continue;
        }
        const std::string name = fs::relative(entry.path(), corpus).string();
        SCOPED_TRACE(name);
        ++files;
        ImageDesc image{};
        const PictureOpen opened = picture_open(*reader, entry.path().c_str(), &image);
        const auto status = statuses.find(name);
        EXPECT_STREQ(status_name(opened.status),
                     status == statuses.end() ? "IMG_OK" : status->second.c_str());
        const Reference ref = giflib_first_image(entry.path());
        if (!ref.pixels.empty()) {
            int mismatches = opened.status == IMG_OK ? 0 : 1;
            for (uint32_t i = 0; i < ref.pixels.size(); ++i) {
                const uint8_t want = ref.pixels[i];
                mismatches += pixel(image, i % ref.width, i / ref.width) !=
                              (image_bits(image) == 1 ? want != 0 : want);
            }
            // The colour table giflib reads, or the gray ramp without one.
            const auto colors = ref.colors.empty() ? image.color_count : int32_t(ref.colors.size());
            mismatches += image.color_count != colors;
            for (int32_t i = 0; i < std::min(colors, image.color_count) && !ref.colors.empty();
                 ++i) {
                const GifColorType& c = ref.colors[size_t(i)];
                const PaletteEntry& e = image.palette[i];
                mismatches += e.red != c.Red || e.green != c.Green || e.blue != c.Blue;
            }
            EXPECT_EQ(mismatches == 0, otherwise.count(name) == 0);
            compared += mismatches == 0;
        }
        image_free(&image);
    }
    EXPECT_EQ(files, 146);
    EXPECT_EQ(compared, 127);  // every file giflib reads whole, but the three above
}

}  // namespace
