// The PNG reader against libpng over PngSuite, plus hand-built streams for
// what the suite does not hold. Our record is imaging::png_info; libpng has a
// png_info type of its own.
#include "imaging/readers/png/png.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image.h"
#include "imaging/parallel.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using imaging::ImageDesc;
using imaging::IMG_ERR_PNG;
using imaging::IMG_OK;
using imaging::ImgStatus;

// RGB rows of a file as libpng reads it with 16-bit samples cut to their high
// byte, alpha dropped, gray and palette expanded; empty when libpng refuses it.
Bytes libpng_rgb(const fs::path& path, uint32_t* width, uint32_t* height) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                             [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    Bytes rgb;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return {};
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    rgb.resize(size_t{*width} * *height * 3);
    std::vector<png_bytep> rows(*height);
    for (uint32_t y = 0; y < *height; ++y) {
        rows[y] = rgb.data() + size_t{y} * *width * 3;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return rgb;
}

// The stored value of pixel (x, y): an index, a bit or 0xRRGGBB.
uint32_t pixel(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = imaging::image_row(image, y);
    switch (imaging::image_bits(image)) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1;
        case 8:
            return row[x];
        default:
            return (row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    }
}

// Red, green and blue of pixel (x, y), through the palette below 24 bits.
uint32_t rgb(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint32_t v = pixel(image, x, y);
    if (imaging::image_bits(image) == 24) {
        return v;
    }
    const imaging::PaletteEntry& e = image.palette[v];
    return (e.red << 16) | (e.green << 8) | e.blue;
}

const imaging::ReaderEntry& png_reader() {
    for (const imaging::ReaderEntry& reader : imaging::raster_readers()) {
        if (std::string(reader.extension) == ".png") {
            return reader;
        }
    }
    std::abort();
}

// Opens a file as the viewer does; with an area, the picture goes to the area
// whose top-left corner is (3, 2) and that is about half the picture's size.
ImgStatus open(const fs::path& path, ImageDesc* image, bool area = false) {
    imaging::OpenLimits limits;
    if (area) {
        limits.before_load = [](ImageDesc* im, const void*) {
            imaging::image_set_area(im, 3, 2, 3 + im->area_right / 2, 2 + im->area_bottom / 2);
        };
    }
    return imaging::picture_open(png_reader(), path.c_str(), image, limits).status;
}

// Mismatches of the image against libpng's rows: the whole picture, or the
// area of (3, 2) with zeros around it.
int mismatches(const ImageDesc& image, const Bytes& want, uint32_t width, uint32_t height,
               bool area) {
    int count = 0;
    for (uint32_t y = 0; y < uint32_t(imaging::image_height(image)); ++y) {
        for (uint32_t x = 0; x < uint32_t(imaging::image_width(image)); ++x) {
            const uint32_t px = area ? x - 3 : x, py = area ? y - 2 : y;
            const bool inside = px < width && py < height &&
                                (!area || (x <= image.area_right && y <= image.area_bottom));
            if (!inside) {
                count += area && pixel(image, x, y) != 0;
                continue;
            }
            const uint8_t* w = &want[(size_t{py} * width + px) * 3];
            count += rgb(image, x, y) != uint32_t((w[0] << 16) | (w[1] << 8) | w[2]);
        }
    }
    return count;
}

// ---------------------------------------------------------------------------
// PngSuite (carried in tests/data/png), and files libpng writes

// The corrupt files and the detail each is refused with.
const std::map<std::string, int32_t> kRefused = {
    {"xc1n0g08.png", imaging::PNG_DETAIL_COLOR_TYPE},
    {"xc9n2c08.png", imaging::PNG_DETAIL_COLOR_TYPE},
    {"xcrn0g04.png", imaging::PNG_DETAIL_SIGNATURE},
    {"xcsn0g01.png", imaging::PNG_DETAIL_CRC},
    {"xd0n2c08.png", imaging::PNG_DETAIL_BIT_DEPTH},
    {"xd3n2c08.png", imaging::PNG_DETAIL_BIT_DEPTH},
    {"xd9n2c08.png", imaging::PNG_DETAIL_BIT_DEPTH},
    {"xdtn0g01.png", imaging::PNG_DETAIL_STREAM_END},
    {"xhdn0g08.png", imaging::PNG_DETAIL_CRC},
    {"xlfn0g04.png", imaging::PNG_DETAIL_SIGNATURE},
    {"xs1n0g01.png", imaging::PNG_DETAIL_SIGNATURE},
    {"xs2n0g01.png", imaging::PNG_DETAIL_SIGNATURE},
    {"xs4n0g01.png", imaging::PNG_DETAIL_SIGNATURE},
    {"xs7n0g01.png", imaging::PNG_DETAIL_SIGNATURE},
};

TEST(PngCorpus, EveryFileMatchesLibpngOrIsRefused) {
    const fs::path corpus = test_support::source_dir() / "tests/data/png";
    int loaded = 0, refused = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png") {
            continue;
        }
        SCOPED_TRACE(name);
        const auto it = kRefused.find(name);
        ImageDesc image{};
        if (it != kRefused.end()) {
            EXPECT_EQ(open(entry.path(), &image), IMG_ERR_PNG);
            EXPECT_EQ(imaging::png_last_detail(), it->second);
            imaging::image_free(&image);  // held when the load refused the file
            ++refused;
            continue;
        }
        uint32_t width = 0, height = 0;
        const Bytes want = libpng_rgb(entry.path(), &width, &height);
        ASSERT_FALSE(want.empty());
        // Whole and in an area, filtered on the calling thread and beside
        // the inflating one.
        for (uint32_t parts : {1u, 2u}) {
            const imaging::ThreadLimit threads(parts);
            for (bool area : {false, true}) {
                ASSERT_EQ(open(entry.path(), &image, area), IMG_OK) << area << parts;
                EXPECT_EQ(mismatches(image, want, width, height, area), 0) << area << parts;
            }
        }
        // Gray files get the gray ramp and flag; truecolour no colours.
        imaging::PngInfo info{};
        ASSERT_EQ(imaging::png_info(entry.path().c_str(), &info), IMG_OK);
        if (info.color_type == 0 || info.color_type == 4) {
            EXPECT_EQ(image.type_flags, imaging::IMAGE_GRAY);
        }
        if (info.bits_per_pixel == 24) {
            EXPECT_EQ(image.color_count, 0);
        }
        imaging::image_free(&image);
        ++loaded;
    }
    EXPECT_EQ(loaded, 162);
    EXPECT_EQ(refused, 14);
}

// Writes a 37 x 23 picture with libpng, every row filtered with `filter`.
// Its samples lie in 0..3 (rounded by Average, tied in Paeth) in a field of
// noise.
void write_filtered(const fs::path& path, int color_type, int depth, int interlace, int filter) {
    FILE* out = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, out);
    png_set_IHDR(png, info, 37, 23, depth, color_type, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);
    png_write_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    Bytes pixels(row_bytes * 23);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t noise = uint32_t(i * 2654435761u) >> 20;
        pixels[i] = uint8_t(i % row_bytes < row_bytes / 2 ? noise & 3 : noise);
    }
    std::vector<png_bytep> rows(23);
    for (size_t y = 0; y < rows.size(); ++y) {
        rows[y] = pixels.data() + y * row_bytes;
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
}

TEST(PngWritten, EveryFilterPlainAndInterlacedMatchesLibpng) {
    const test_support::TempDir dir;
    const fs::path path = dir / "written.png";
    for (const auto& [color_type, depth] : {std::pair{PNG_COLOR_TYPE_GRAY, 8},
                                            {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                                            {PNG_COLOR_TYPE_RGB, 8},
                                            {PNG_COLOR_TYPE_RGB_ALPHA, 16}}) {
        for (const int filter :
             {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH}) {
            for (const int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
                SCOPED_TRACE(testing::Message()
                             << color_type << " " << depth << " " << filter << " " << interlace);
                write_filtered(path, color_type, depth, interlace, filter);
                uint32_t width = 0, height = 0;
                const Bytes want = libpng_rgb(path, &width, &height);
                ImageDesc image{};
                ASSERT_EQ(open(path, &image), IMG_OK);
                EXPECT_EQ(mismatches(image, want, width, height, false), 0);
                imaging::image_free(&image);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-built streams

void put32(Bytes& out, uint32_t v) {
    for (int shift : {24, 16, 8, 0}) {
        out.push_back(uint8_t(v >> shift));
    }
}

Bytes chunk(const char* type, const Bytes& data) {
    Bytes out;
    put32(out, uint32_t(data.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, uint32_t(crc32(0, out.data() + 4, uInt(out.size() - 4))));
    return out;
}

Bytes header(uint32_t width, uint32_t height, uint8_t depth, uint8_t color_type,
             uint8_t interlace = 0) {
    Bytes data;
    put32(data, width);
    put32(data, height);
    data.insert(data.end(), {depth, color_type, 0, 0, interlace});
    return chunk("IHDR", data);
}

// A zlib stream of stored blocks: 2 header bytes, 5 block header bytes, the
// raw bytes, 4 check bytes.
Bytes deflated(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), uLong(raw.size()), 0);
    out.resize(size);
    return out;
}

// A file of the given chunks between the signature and IEND.
Bytes file(std::initializer_list<Bytes> chunks) {
    Bytes out = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Bytes& c : chunks) {
        out.insert(out.end(), c.begin(), c.end());
    }
    const Bytes end = chunk("IEND", {});
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

// 8-bit gray rows of width 4, row y holding 10y + x, each with filter byte
// `filter` (0: none).
Bytes gray_rows(uint32_t height, uint8_t filter = 0) {
    Bytes raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(filter);
        for (uint32_t x = 0; x < 4; ++x) {
            raw.push_back(uint8_t(10 * y + x));
        }
    }
    return raw;
}

class Png : public ::testing::Test {
  protected:
    void TearDown() override { imaging::image_free(&image); }

    // Writes the bytes and loads them into a fresh width x height image.
    ImgStatus load(const Bytes& bytes, int32_t width = 4, int32_t height = 4, int32_t bits = 8) {
        const fs::path path = dir / ("f" + std::to_string(++files) + ".png");
        test_support::write_file(path, bytes);
        imaging::image_free(&image);
        EXPECT_EQ(imaging::image_alloc(&image, width, height, bits), IMG_OK);
        return imaging::png_load(path.c_str(), &image);
    }
    // Rows of the gray picture of gray_rows() that the image holds.
    uint32_t rows_loaded() {
        uint32_t rows = 0;
        while (rows < 4 && pixel(image, 3, rows) == 10 * rows + 3) {
            ++rows;
        }
        return rows;
    }

    test_support::TempDir dir;
    int files = 0;
    ImageDesc image{};
};

TEST_F(Png, IdatChunksFormOneStream) {
    const Bytes z = deflated(gray_rows(4));
    const Bytes a(z.begin(), z.begin() + 5), b(z.begin() + 5, z.end());
    // Zero-length IDAT chunks anywhere; an unknown ancillary chunk elsewhere.
    EXPECT_EQ(load(file({header(4, 4, 8, 0), chunk("abCd", {1}), chunk("IDAT", {}),
                         chunk("IDAT", a), chunk("IDAT", {}), chunk("IDAT", b)})),
              IMG_OK);
    EXPECT_EQ(rows_loaded(), 4u);
    EXPECT_EQ(image.type_flags, imaging::IMAGE_GRAY);
    // An ancillary chunk between two IDAT chunks ends the data.
    EXPECT_EQ(load(file({header(4, 4, 8, 0), chunk("IDAT", a), chunk("tEXt", {'a', 0, 'b'}),
                         chunk("IDAT", b)})),
              IMG_ERR_PNG);
    EXPECT_EQ(imaging::png_last_detail(), imaging::PNG_DETAIL_INFLATE);
}

TEST_F(Png, DamagedStreams) {
    const Bytes z = deflated(gray_rows(4));
    struct Case {
        Bytes bytes;
        int32_t detail;
        uint32_t rows;
    };
    Bytes bad_crc = chunk("IDAT", Bytes(z.begin(), z.begin() + 20));
    bad_crc.back() ^= 1;
    const Bytes cut(z.begin(), z.end() - 9);
    for (const Case& c : {
             // the stream ends inside its data, or before the last row
             Case{file({header(4, 4, 8, 0), chunk("IDAT", cut)}), imaging::PNG_DETAIL_INFLATE, 3},
             Case{file({header(4, 5, 8, 0), chunk("IDAT", z)}), imaging::PNG_DETAIL_STREAM_END, 4},
             // data after the stream's end, or a stream of more rows
             Case{file({header(4, 4, 8, 0), chunk("IDAT", z), chunk("IDAT", {0})}),
                  imaging::PNG_DETAIL_STREAM_END, 4},
             Case{file({header(4, 3, 8, 0), chunk("IDAT", z)}), imaging::PNG_DETAIL_STREAM_END, 3},
             Case{
                 file({header(4, 4, 8, 0), bad_crc, chunk("IDAT", Bytes(z.begin() + 20, z.end()))}),
                 imaging::PNG_DETAIL_CRC, 2},
             Case{file({header(4, 4, 8, 0), chunk("ABCD", {}), chunk("IDAT", z)}),
                  imaging::PNG_DETAIL_CRITICAL_CHUNK, 0},
             Case{file({chunk("IDAT", z)}), imaging::PNG_DETAIL_SIZE, 0},
             Case{file({header(4, 4, 8, 0)}), imaging::PNG_DETAIL_STREAM_END, 0},
             // the header checks, each failing first in its turn
             Case{file({header(0, 4, 3, 9, 2)}), imaging::PNG_DETAIL_SIZE, 0},
             Case{file({header(4, 4, 3, 9, 2)}), imaging::PNG_DETAIL_BIT_DEPTH, 0},
             Case{file({header(4, 4, 8, 9, 2)}), imaging::PNG_DETAIL_COLOR_TYPE, 0},
             Case{file({header(4, 4, 8, 0, 2)}), imaging::PNG_DETAIL_INTERLACE, 0},
             Case{file({chunk("IHDR", {0, 0, 0, 4, 0, 0, 0, 4, 8, 0, 1, 1, 0})}),
                  imaging::PNG_DETAIL_COMPRESSION, 0},
             Case{file({chunk("IHDR", {0, 0, 0, 4, 0, 0, 0, 4, 8, 0, 0, 1, 0})}),
                  imaging::PNG_DETAIL_FILTER_METHOD, 0},
             Case{file({chunk("IHDR", Bytes(12, 1))}), imaging::PNG_DETAIL_IHDR_LENGTH, 0},
             Case{file({header(4, 4, 16, 3)}), imaging::PNG_DETAIL_FORMAT, 0},
             Case{file({header(0x80000000u, 4, 8, 0)}), imaging::PNG_DETAIL_SIZE, 0},
         }) {
        SCOPED_TRACE(testing::Message() << c.detail << " " << c.rows);
        EXPECT_EQ(load(c.bytes), IMG_ERR_PNG);
        EXPECT_EQ(imaging::png_last_detail(), c.detail);
        EXPECT_EQ(rows_loaded(), c.rows);
        EXPECT_EQ(image.color_count, 256);
    }
    // Tolerance: a stream without its check value still holds every row.
    EXPECT_EQ(load(file({header(4, 4, 8, 0), chunk("IDAT", Bytes(z.begin(), z.end() - 4))})),
              IMG_OK);
    EXPECT_EQ(rows_loaded(), 4u);
}

// Cuts at each structural boundary of a palette file. Cut inside its IHDR it
// is refused; cut later it opens: the rows its image data reaches are stored,
// the palette is loaded when PLTE was read whole, and the load reports the
// early end. IEND's CRC is never read.
TEST_F(Png, TruncatedAtEachBoundary) {
    const Bytes whole =
        file({header(4, 4, 8, 3), chunk("PLTE", {1, 2, 3}), chunk("IDAT", deflated(gray_rows(4)))});
    const size_t iend = whole.size() - 12;
    struct Cut {
        size_t size;
        ImgStatus status;
        uint32_t rows;
        int32_t colors;  // 256: the gray ramp of a palette not read
    };
    for (const Cut& c :
         {Cut{0, IMG_ERR_PNG, 0, 0}, Cut{7, IMG_ERR_PNG, 0, 0}, Cut{8, IMG_ERR_PNG, 0, 0},
          Cut{20, IMG_ERR_PNG, 0, 0}, Cut{33, imaging::IMG_ERR_LZW, 0, 256},
          Cut{43, imaging::IMG_ERR_LZW, 0, 256}, Cut{48, imaging::IMG_ERR_LZW, 0, 1},
          Cut{56, imaging::IMG_ERR_LZW, 0, 1}, Cut{75, imaging::IMG_ERR_LZW, 2, 1},
          Cut{iend - 4, imaging::IMG_ERR_LZW, 4, 1}, Cut{iend, imaging::IMG_ERR_LZW, 4, 1},
          Cut{iend + 8, IMG_OK, 4, 1}, Cut{whole.size(), IMG_OK, 4, 1}}) {
        SCOPED_TRACE(c.size);
        const Bytes bytes(whole.begin(), whole.begin() + c.size);
        EXPECT_EQ(load(bytes), c.status);
        EXPECT_EQ(imaging::png_last_detail(),
                  c.status == IMG_OK ? imaging::PNG_DETAIL_NONE : imaging::PNG_DETAIL_SHORT_READ);
        EXPECT_EQ(rows_loaded(), c.rows);
        if (c.status != IMG_ERR_PNG) {
            EXPECT_EQ(image.color_count, c.colors);
        }
        imaging::PngInfo info{};
        const fs::path path = dir / "cut.png";
        test_support::write_file(path, bytes);
        EXPECT_EQ(imaging::png_info(path.c_str(), &info),
                  c.status == IMG_ERR_PNG ? IMG_ERR_PNG : IMG_OK);
    }
    // Damage before the end is reported as in a whole file: a PLTE with a
    // wrong CRC, and a length above 2^31 - 1, refused before it is read.
    Bytes damaged(whole.begin(), whole.begin() + iend);
    damaged[47] ^= 1;
    EXPECT_EQ(load(damaged), IMG_ERR_PNG);
    EXPECT_EQ(imaging::png_last_detail(), imaging::PNG_DETAIL_CRC);
    damaged[33] = 0x80;
    EXPECT_EQ(load(damaged), IMG_ERR_PNG);
    EXPECT_EQ(imaging::png_last_detail(), imaging::PNG_DETAIL_SHORT_READ);
}

// 600 x 300 gray pixels in IDAT chunks of 0 to 18 bytes: chunk headers, CRCs
// and data straddle every refill of the chunk buffer.
TEST_F(Png, ManySmallIdatChunksAcrossRefills) {
    Bytes raw;
    for (uint32_t y = 0; y < 300; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < 600; ++x) {
            raw.push_back(uint8_t(x * 7 + y * 13));
        }
    }
    const Bytes z = deflated(raw);
    Bytes bytes = file({header(600, 300, 8, 0)});
    bytes.resize(bytes.size() - 12);  // IEND goes last
    for (size_t at = 0, n = 0, i = 0; at < z.size(); at += n, ++i) {
        n = std::min(z.size() - at, i % 19);
        const Bytes c = chunk("IDAT", Bytes(z.begin() + at, z.begin() + at + n));
        bytes.insert(bytes.end(), c.begin(), c.end());
    }
    const Bytes end = chunk("IEND", {});
    bytes.insert(bytes.end(), end.begin(), end.end());
    ASSERT_GT(bytes.size(), 3 * 98304u);
    ASSERT_EQ(load(bytes, 600, 300), IMG_OK);
    int wrong = 0;
    for (uint32_t y = 0; y < 300; ++y) {
        for (uint32_t x = 0; x < 600; ++x) {
            wrong += pixel(image, x, y) != uint8_t(x * 7 + y * 13);
        }
    }
    EXPECT_EQ(wrong, 0);
}

// The walk reads chunks through the chunk buffer: 20000 text chunks put
// chunk headers, data and CRCs across every refill, and a wrong CRC far into
// them is still found.
TEST_F(Png, ManyTextChunksAcrossRefills) {
    Bytes chunks;
    for (uint32_t i = 0; i < 20000; ++i) {
        const Bytes text = chunk("tEXt", Bytes(i % 23, uint8_t('a' + i % 26)));
        chunks.insert(chunks.end(), text.begin(), text.end());
    }
    ASSERT_GT(chunks.size(), 3 * 98304u);
    const Bytes idat = chunk("IDAT", deflated(gray_rows(4)));
    Bytes whole = file({header(4, 4, 8, 0), chunks, idat});
    EXPECT_EQ(load(whole), IMG_OK);
    EXPECT_EQ(rows_loaded(), 4u);
    whole[33 + chunks.size() - 1] ^= 1;  // the last text chunk's CRC
    EXPECT_EQ(load(whole), IMG_ERR_PNG);
    EXPECT_EQ(imaging::png_last_detail(), imaging::PNG_DETAIL_CRC);
}

// Rows far wider than the target: only the stored columns are kept and
// unfiltered (each row's filter reads the row above), the rest of each row is
// inflated and dropped. Rows of 3 x 70000 bytes of RGB pass the inflater in
// many pieces; the 16 x 2 descriptor gets the first 16 pixels of each.
TEST_F(Png, RowsWiderThanTheTargetKeepTheStoredColumns) {
    const uint32_t width = 70000;
    Bytes raw;
    for (uint32_t y = 0; y < 3; ++y) {
        raw.push_back(y == 0 ? 1 : 4);  // Sub, then Paeth
        for (uint32_t i = 0; i < 3 * width; ++i) {
            raw.push_back(uint8_t(i * 7 + y));
        }
    }
    ASSERT_EQ(load(file({header(width, 3, 8, 2), chunk("IDAT", deflated(raw))}), 16, 2, 24),
              IMG_OK);
    // What libpng makes of the same file, for the stored part.
    const fs::path path = dir / "wide.png";
    test_support::write_file(path, file({header(width, 3, 8, 2), chunk("IDAT", deflated(raw))}));
    uint32_t w = 0, h = 0;
    const Bytes want = libpng_rgb(path, &w, &h);
    ASSERT_EQ(w, width);
    int wrong = 0;
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            const uint8_t* p = &want[(size_t{y} * width + x) * 3];
            wrong += rgb(image, x, y) != uint32_t((p[0] << 16) | (p[1] << 8) | p[2]);
        }
    }
    EXPECT_EQ(wrong, 0);
}

// Rows inflated on a helper thread and filtered on the calling one land as
// on one thread, also when the stream is damaged or cut short: same rows,
// same status, same detail. Every filter type, real compression, IDAT data
// in chunks of 1000 bytes.
TEST_F(Png, FilteringBesideInflatingGivesTheRowsOfOneThread) {
    const uint32_t width = 300, height = 120;
    Bytes raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(uint8_t(y % 5));
        for (uint32_t i = 0; i < width * 3; ++i) {
            raw.push_back(uint8_t((i * 7 + y * 3) % 11 + (y % 3) * i / 200));
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    Bytes z(size);
    compress2(z.data(), &size, raw.data(), uLong(raw.size()), 6);
    z.resize(size);
    auto with_chunks = [&](const Bytes& data, size_t bad_crc_chunk) {
        Bytes out = file({header(width, height, 8, 2)});
        out.resize(out.size() - 12);
        for (size_t at = 0, k = 0; at < data.size(); at += 1000, ++k) {
            Bytes c = chunk(
                "IDAT", Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + 1000)));
            if (k == bad_crc_chunk) {
                c.back() ^= 1;
            }
            out.insert(out.end(), c.begin(), c.end());
        }
        const Bytes end = chunk("IEND", {});
        out.insert(out.end(), end.begin(), end.end());
        return out;
    };
    Bytes damaged = z;
    damaged[z.size() / 2] ^= 0x55;
    const Bytes cases[] = {with_chunks(z, SIZE_MAX), with_chunks(z, 2),
                           with_chunks(Bytes(z.begin(), z.begin() + z.size() * 2 / 3), SIZE_MAX),
                           with_chunks(damaged, SIZE_MAX)};
    for (const Bytes& bytes : cases) {
        std::vector<uint8_t> one;
        ImgStatus one_status = IMG_OK;
        int32_t one_detail = 0;
        for (uint32_t parts : {1u, 2u}) {
            const imaging::ThreadLimit threads(parts);
            const ImgStatus status = load(bytes, width, height, 24);
            const int32_t detail = imaging::png_last_detail();
            const std::vector<uint8_t> pixels(image.pixels,
                                              image.pixels + size_t{image.row_bytes} * height);
            if (parts == 1) {
                one = pixels;
                one_status = status;
                one_detail = detail;
            } else {
                EXPECT_EQ(status, one_status);
                EXPECT_EQ(detail, one_detail);
                EXPECT_EQ(pixels, one);
            }
        }
    }
}

TEST_F(Png, FilterTypesAboveFourLeaveTheRow) {
    EXPECT_EQ(load(file({header(4, 4, 8, 0), chunk("IDAT", deflated(gray_rows(4, 7)))})), IMG_OK);
    EXPECT_EQ(rows_loaded(), 4u);
}

TEST_F(Png, InfoRecordsAncillaryChunks) {
    const fs::path path = dir / "info.png";
    const Bytes idat = chunk("IDAT", deflated({0, 0x40}));
    test_support::write_file(
        path, file({header(2, 1, 2, 3), chunk("tRNS", {}), chunk("tRNS", {255, 0, 128, 0}),
                    chunk("tRNS", {0}), chunk("bKGD", {7}), chunk("gAMA", {0, 0, 0xB1, 0x8F}),
                    chunk("pHYs", {0, 0, 1, 2, 0, 0, 3, 4, 1}), chunk("sBIT", {1, 2, 3}),
                    chunk("oFFs", {0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 5, 0}), idat}));
    imaging::PngInfo info{};
    ASSERT_EQ(imaging::png_info(path.c_str(), &info), IMG_OK);
    EXPECT_EQ(info.bits_per_pixel, 8u);
    EXPECT_EQ(info.format_index, 8u);
    EXPECT_EQ(info.stored_row_bytes, 1u);
    EXPECT_EQ(info.has_transparency, 1u);
    EXPECT_EQ(info.transparency[0], 1);
    EXPECT_EQ(info.transparency_count, 1u);
    EXPECT_EQ(info.background_count, 1u);
    EXPECT_EQ(info.background[0], 7);
    EXPECT_EQ(info.gamma, 45455u);
    EXPECT_EQ(info.pixels_per_unit_x, 258u);
    EXPECT_EQ(info.pixels_per_unit_y, 772u);
    EXPECT_EQ(info.significant_bits[2], 3);
    EXPECT_EQ(info.offset_x, -2);
    EXPECT_EQ(info.offset_y, 5);

    // A gray tRNS keeps its 16-bit value; the bKGD longer than 6 is skipped;
    // a short gAMA gives what it holds, a long pHYs its first 9 bytes.
    test_support::write_file(
        path, file({header(2, 1, 16, 0), chunk("tRNS", {0x12, 0x34}), chunk("bKGD", Bytes(8, 1)),
                    chunk("gAMA", {1, 2}), chunk("pHYs", Bytes(12, 1)), idat}));
    ASSERT_EQ(imaging::png_info(path.c_str(), &info), IMG_OK);
    EXPECT_EQ(info.transparency[0] | (info.transparency[1] << 8), 0x1234);
    EXPECT_EQ(info.has_background, 0u);
    EXPECT_EQ(info.gamma, 0x01020000u);
    EXPECT_EQ(info.physical_unit, 1u);
    // Rows longer than any buffer may hold are refused by the walk,
    test_support::write_file(path, file({header(0x7FFFFFFF, 1, 16, 6), idat}));
    EXPECT_EQ(imaging::png_info(path.c_str(), &info), imaging::IMG_ERR_MEMORY);
    // and so are pictures larger than any descriptor.
    test_support::write_file(path, file({header(0x10000, 0x8001, 8, 0), idat}));
    EXPECT_EQ(imaging::png_info(path.c_str(), &info), imaging::IMG_ERR_MEMORY);
}

TEST_F(Png, PaletteFitsTheDescriptor) {
    // A 1-bit image with four palette entries keeps two; the rows behind the
    // colour table stay intact.
    const Bytes plte = chunk("PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3});
    const Bytes one_bit = file({header(8, 1, 1, 3), plte, chunk("IDAT", deflated({0, 0xA5}))});
    ASSERT_EQ(load(one_bit, 8, 1, 1), IMG_OK);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(image.palette[1].red, 40);
    EXPECT_EQ(image.pixels[0], 0xA5);
    // A descriptor of another depth than the file's is refused.
    EXPECT_EQ(load(one_bit, 8, 1, 8), imaging::IMG_ERR_BPP);
    // A 2-bit palette image: one index per byte, and the palette's count.
    ASSERT_EQ(load(file({header(4, 1, 2, 3), plte, chunk("IDAT", deflated({0, 0x1B}))}), 4, 1),
              IMG_OK);
    EXPECT_EQ(pixel(image, 3, 0), 3u);
    EXPECT_EQ(image.color_count, 4);
    EXPECT_EQ(image.type_flags, 0u);
}

TEST_F(Png, LoadsFromSeveralThreadsAndAfterCleanup) {
    const fs::path path = dir / "threads.png";
    test_support::write_file(path,
                             file({header(4, 4, 8, 0), chunk("IDAT", deflated(gray_rows(4, 3)))}));
    imaging::library_shutdown();
    std::vector<int> failures(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 20; ++n) {
                ImageDesc mine{};
                imaging::image_alloc(&mine, 4, 4, 8);
                failures[t] += imaging::png_load(path.c_str(), &mine) != IMG_OK;
                imaging::image_free(&mine);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4));
}

}  // namespace
