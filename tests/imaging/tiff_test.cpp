#include "imaging/readers/tiff/tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/parallel.h"
#include "imaging/readers/picture_open.h"
#include "tests/support/test_support.h"

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
// Building TIFF files in memory.

struct Field {
    uint16_t tag;
    uint16_t type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG
    std::vector<uint32_t> values;
};

struct TiffFile {
    bool big_endian = false;
    uint32_t width = 8, height = 1;
    uint32_t bits = 8, samples = 1, photometric = 1, compression = 1;
    std::vector<Field> extra;                  // more tags (or replacements)
    std::vector<std::vector<uint8_t>> strips;  // each strip's bytes
    bool with_byte_counts = true;
};

class Writer {
  public:
    explicit Writer(bool big) : big_(big) {}
    void put(uint32_t v, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big_ ? size - 1 - i : i);
            bytes.push_back(uint8_t(v >> shift));
        }
    }
    void set32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = uint8_t(v >> (8 * (big_ ? 3 - i : i)));
        }
    }
    std::vector<uint8_t> bytes;

  private:
    bool big_;
};

std::vector<uint8_t> build(const TiffFile& f) {
    std::map<uint16_t, Field> fields;
    for (const Field& field :
         {Field{256, 4, {f.width}}, Field{257, 4, {f.height}}, Field{258, 3, {f.bits}},
          Field{259, 3, {f.compression}}, Field{262, 3, {f.photometric}},
          Field{277, 3, {f.samples}}, Field{278, 4, {f.height}}}) {
        fields[field.tag] = field;
    }
    Writer w(f.big_endian);
    w.bytes = f.big_endian ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    w.put(42, 2);
    w.put(0, 4);  // IFD offset, set below
    Field offsets{273, 4, {}}, counts{279, 4, {}};
    for (const auto& strip : f.strips) {
        offsets.values.push_back(uint32_t(w.bytes.size()));
        counts.values.push_back(uint32_t(strip.size()));
        w.bytes.insert(w.bytes.end(), strip.begin(), strip.end());
    }
    if (!f.strips.empty()) {
        fields[273] = offsets;
        if (f.with_byte_counts) {
            fields[279] = counts;
        }
    }
    for (const Field& field : f.extra) {
        fields[field.tag] = field;
    }
    const int sizes[] = {0, 1, 1, 2, 4};
    std::vector<std::pair<size_t, const Field*>> later;
    const size_t ifd = w.bytes.size() + (w.bytes.size() & 1);
    w.bytes.resize(ifd);
    w.set32(4, uint32_t(ifd));
    w.put(uint32_t(fields.size()), 2);
    for (const auto& [tag, field] : fields) {
        w.put(tag, 2);
        w.put(field.type, 2);
        w.put(uint32_t(field.values.size()), 4);
        const int size = sizes[field.type];
        if (size * field.values.size() <= 4) {
            for (uint32_t v : field.values) {
                w.put(v, size);
            }
            w.bytes.resize(w.bytes.size() + 4 - size * field.values.size());
        } else {
            later.emplace_back(w.bytes.size(), &field);
            w.put(0, 4);
        }
    }
    w.put(0, 4);  // no next IFD
    for (const auto& [at, field] : later) {
        w.set32(at, uint32_t(w.bytes.size()));
        for (uint32_t v : field->values) {
            w.put(v, sizes[field->type]);
        }
    }
    return w.bytes;
}

// libtiff's encoding of 1-bit rows (1 = black, min-is-white) with a
// compression, as the raw bytes of each strip.
std::vector<std::vector<uint8_t>> libtiff_strips(const fs::path& path,
                                                 const std::vector<uint8_t>& rows, uint32_t width,
                                                 uint32_t height, uint16_t compression,
                                                 uint32_t rows_per_strip, uint32_t t4_options = 0) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    if (compression == COMPRESSION_CCITTFAX3) {
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, t4_options);
    }
    const size_t row_bytes = (width + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rows.begin() + ptrdiff_t(y * row_bytes),
                                 rows.begin() + ptrdiff_t((y + 1) * row_bytes));
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    tif = TIFFOpen(path.c_str(), "r");
    std::vector<std::vector<uint8_t>> strips(TIFFNumberOfStrips(tif));
    for (uint32_t s = 0; s < strips.size(); ++s) {
        strips[s].resize(size_t(TIFFRawStripSize(tif, s)));
        TIFFReadRawStrip(tif, s, strips[s].data(), tmsize_t(strips[s].size()));
    }
    TIFFClose(tif);
    return strips;
}

uint32_t bit(const ImageDesc& image, uint32_t x, uint32_t y) {
    return (image_row(image, y)[x / 8] >> (7 - x % 8)) & 1;
}

class Tiff : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / ("file" + std::to_string(++files) + ".tif");
        test_support::write_file(path, bytes);
        return path.string();
    }
    ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height, int32_t bits) {
        image_free(&image);
        EXPECT_EQ(image_alloc(&image, width, height, bits), IMG_OK);
        return tiff_load(write(bytes).c_str(), &image);
    }
    ImgStatus load(const TiffFile& f, int32_t bits) {
        return load(build(f), int32_t(f.width), int32_t(f.height), bits);
    }
    std::vector<uint8_t> row(uint32_t y, size_t n) const {
        return std::vector<uint8_t>(image_row(image, y), image_row(image, y) + n);
    }

    TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// ---------------------------------------------------------------------------
// Directory and statuses

TEST_F(Tiff, InfoReportsTheFirstDirectory) {
    TiffFile f;
    f.big_endian = true;
    f.width = 3;
    f.samples = 3;
    f.photometric = 2;
    f.extra = {{258, 3, {8, 8, 8}}};
    TiffInfo info{};
    ASSERT_EQ(tiff_info(write(build(f)).c_str(), &info), IMG_OK);
    EXPECT_EQ(std::vector<int32_t>({info.byte_order, info.width, info.height, info.bits_per_sample,
                                    info.compression, info.samples_per_pixel, info.photometric,
                                    info.planar_config, info.bits_per_pixel}),
              std::vector<int32_t>({0x4D4D, 3, 1, 8, 1, 3, 2, 1, 24}));
}

TEST_F(Tiff, EveryStatusOfTheFailureTable) {
    TiffFile good;
    good.strips = {{1, 2, 3, 4, 5, 6, 7, 8}};
    const std::vector<uint8_t> bytes = build(good);
    struct Patch {
        const char* what;
        size_t at;
        uint8_t value;
    };
    for (const Patch& p :
         {Patch{"byte order", 0, 'X'}, Patch{"version", 2, 43}, Patch{"IFD past the end", 6, 9}}) {
        std::vector<uint8_t> bad = bytes;
        bad[p.at] = p.value;
        EXPECT_EQ(load(bad, 8, 1, 8), IMG_ERR_TIFF_STRUCTURE) << p.what;
    }
    EXPECT_EQ(load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 2), 8, 1, 8),
              IMG_ERR_TIFF_STRUCTURE);  // the next-IFD offset cut short

    struct Case {
        const char* what;
        std::function<void(TiffFile&)> change;
        int32_t target;
        ImgStatus status;
    };
    auto tag = [](Field field) { return [field](TiffFile& f) { f.extra.push_back(field); }; };
    const Case cases[] = {
        {"width of count 2", tag({256, 3, {8, 8}}), 8, IMG_ERR_TIFF_STRUCTURE},
        {"width as BYTE", tag({256, 1, {8}}), 8, IMG_ERR_TIFF_STRUCTURE},
        {"5 BitsPerSample values", tag({258, 3, {8, 8, 8, 8, 8}}), 8, IMG_ERR_TIFF_STRUCTURE},
        {"32 bits", tag({258, 3, {32}}), 8, IMG_ERR_TIFF_STRUCTURE},
        {"no StripOffsets", [](TiffFile& f) { f.strips.clear(); }, 8, IMG_ERR_TIFF_STRUCTURE},
        {"T.4 without StripOffsets",
         [](TiffFile& f) { f.strips.clear(), f.bits = 1, f.compression = 3; }, 1, IMG_ERR_LZW},
        {"deflate", tag({259, 3, {8}}), 8, IMG_ERR_ENCODING},
        {"LZW, predictor 3",
         [](TiffFile& f) {
             f.compression = 5, f.extra = {{317, 3, {3}}};
         },
         8, IMG_ERR_ENCODING},
        {"16-bit RGB",
         [](TiffFile& f) {
             f.bits = 16, f.samples = 3, f.photometric = 2;
             f.extra = {{258, 3, {16, 16, 16}}};
         },
         24, IMG_ERR_ENCODING},
        {"planar RGB",
         [](TiffFile& f) {
             f.samples = 3, f.photometric = 2;
             f.extra = {{258, 3, {8, 8, 8}}, {284, 3, {2}}};
         },
         24, IMG_ERR_ENCODING},
        {"16-bit min-is-white", [](TiffFile& f) { f.bits = 16, f.photometric = 0; }, 16,
         IMG_ERR_ENCODING},
        {"8 bits into 24", [](TiffFile&) {}, 24, IMG_ERR_BPP},
        {"4 bits into 1", [](TiffFile& f) { f.bits = 4; }, 1, IMG_ERR_BPP},
        {"T.6 of 65536 columns",
         [](TiffFile& f) { f.bits = 1, f.compression = 4, f.width = 65536; }, 1, IMG_ERR_TIFF_SIZE},
        {"data ends early",
         [](TiffFile& f) {
             f.height = 2, f.extra = {{278, 4, {1}}}, f.strips.push_back({1});
         },
         8, IMG_ERR_LZW},
    };
    for (const Case& c : cases) {
        TiffFile f = good;
        c.change(f);
        EXPECT_EQ(load(build(f), 16, 2, c.target), c.status) << c.what;
    }
    TiffInfo info{};
    EXPECT_EQ(tiff_info((dir / "missing.tif").c_str(), &info), IMG_ERR_OPEN);
    image_free(&image);
    ASSERT_EQ(image_alloc(&image, 4, 4, 8), IMG_OK);
    EXPECT_EQ(tiff_load((dir / "missing.tif").c_str(), &image), IMG_ERR_OPEN);
}

// ---------------------------------------------------------------------------
// Decoding modes and row conversions

TEST_F(Tiff, PackBitsEdgeBytes) {
    // FE 41: three 0x41; 02 01 02 03: a literal; 80: nothing; a literal cut
    // at the row's end leaves its last byte to be read as the next count
    // (00: one literal byte).
    TiffFile f;
    f.width = 8;
    f.height = 2;
    f.compression = 32773;
    f.strips = {
        {0xFE, 0x41, 0x80, 0x02, 0x01, 0x02, 0x03, 0x01, 0x09, 0x08, 0x00, 0x07, 0xF9, 0x33}};
    ASSERT_EQ(load(f, 8), IMG_OK);
    EXPECT_EQ(row(0, 8), (std::vector<uint8_t>{0x41, 0x41, 0x41, 1, 2, 3, 9, 8}));
    EXPECT_EQ(row(1, 8), (std::vector<uint8_t>{7, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}));
}

TEST_F(Tiff, FaxCodingsMatchTheirRows) {
    // A 37 x 40 picture with runs of every length from 0 to 37 pixels.
    const uint32_t width = 37, height = 40;
    std::vector<uint8_t> rows((width + 7) / 8 * height);
    auto black = [](uint32_t x, uint32_t y) { return (x * x + 7 * y) % (y % 9 + 2) == 0; };
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            rows[y * 5 + x / 8] |= uint8_t(black(x, y) << (7 - x % 8));
        }
    }
    struct Case {
        const char* what;
        uint16_t compression;
        uint32_t t4_options;
        uint32_t rows_per_strip;
        bool zero_padding;
    };
    for (const Case& c :
         {Case{"modified Huffman", 2, 0, 40, false}, Case{"T.4 1-D", 3, 0, 40, false},
          Case{"T.4 1-D with fill bits", 3, 4, 40, false},
          Case{"T.4 2-D with fill bits, 7-row strips", 3, 5, 7, false},
          Case{"T.6", 4, 0, 40, false},
          Case{"T.6, 6-row strips with EOFB and zero bytes", 4, 0, 6, true}}) {
        SCOPED_TRACE(c.what);
        TiffFile f;
        f.bits = 1;
        f.width = width;
        f.height = height;
        f.photometric = 0;
        f.compression = c.compression;
        f.strips = libtiff_strips(dir / "fax.tif", rows, width, height, c.compression,
                                  c.rows_per_strip, c.t4_options);
        for (auto& strip : f.strips) {
            strip.insert(strip.end(), c.zero_padding ? 3 : 0, 0);
        }
        f.extra = {{278, 4, {c.rows_per_strip}}, {292, 4, {c.t4_options}}};
        ASSERT_EQ(load(f, 1), IMG_OK);
        int wrong = 0;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                wrong += bit(image, x, y) != uint32_t(!black(x, y));
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(Tiff, FaxFailures) {
    // T.6: seven zero bits for a mode code; a row of horizontal modes with
    // empty runs (001 00110101 0000110111) fills the changing-element list.
    TiffFile f;
    f.bits = 1;
    f.width = 8;
    f.height = 1;
    f.compression = 4;
    f.strips = {{0x00, 0x00}};
    EXPECT_EQ(load(f, 1), IMG_ERR_LZW);
    std::vector<uint8_t> codes;
    uint64_t acc = 0;
    int n = 0;
    for (int i = 0; i < 8; ++i) {
        acc = (acc << 21) | (0b001u << 18) | (0b00110101u << 10) | 0b0000110111u;
        n += 21;
        while (n >= 8) {
            codes.push_back(uint8_t(acc >> (n - 8)));
            n -= 8;
        }
    }
    f.strips = {codes};
    EXPECT_EQ(load(f, 1), IMG_ERR_CCITT_ROW);
    // Damaged one-dimensional data (codes that no table holds) runs out
    // without looping.
    for (uint32_t compression : {2u, 3u}) {
        f.compression = compression;
        f.height = 1000;
        f.strips = {std::vector<uint8_t>(64, 0x02)};
        EXPECT_EQ(load(f, 1), IMG_ERR_LZW);
    }
}

// LZW codes of 9 bits, most significant bit first.
std::vector<uint8_t> lzw9(const std::vector<uint32_t>& codes) {
    std::vector<uint8_t> out;
    uint32_t acc = 0, n = 0;
    for (uint32_t code : codes) {
        acc = (acc << 9) | code;
        for (n += 9; n >= 8; n -= 8) {
            out.push_back(uint8_t(acc >> (n - 8)));
        }
    }
    if (n > 0) {
        out.push_back(uint8_t(acc << (8 - n)));
    }
    return out;
}

TEST_F(Tiff, LzwAndPredictor) {
    TiffFile f;
    f.width = 4;
    f.height = 2;
    f.compression = 5;
    f.extra = {{317, 3, {2}}};
    // 10 01 01 01 (01 01 as the code being defined) undoes to 10 11 12 13;
    // a clear followed by the end code adds nothing.
    f.extra.push_back({278, 4, {1}});
    f.strips = {lzw9({256, 0x10, 1, 259, 257}), lzw9({256, 5, 1, 259, 256, 257})};
    ASSERT_EQ(load(f, 8), IMG_OK);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{0x10, 0x11, 0x12, 0x13}));
    EXPECT_EQ(row(1, 4), (std::vector<uint8_t>{5, 6, 7, 8}));

    // A code beyond the next free one, and a chain through entries left
    // from before a clear, are damaged data; rows before stay.
    f.extra = {{278, 4, {1}}};
    f.strips = {lzw9({256, 1, 2, 3, 4, 257}), lzw9({256, 1, 300, 257})};
    EXPECT_EQ(load(f, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    f.strips = {lzw9({256, 1, 2, 258, 256, 300, 1, 258, 257})};
    EXPECT_EQ(load(f, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 1, 2}));
    // Strips that end before every row: the rows read stay.
    f.strips = {lzw9({256, 1, 2, 3, 4, 257})};
    EXPECT_EQ(load(f, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

// LZW codes for bytes given as literals: a clear code first and after every
// 250 literals (so codes stay 9 bits wide), the end code last.
std::vector<uint8_t> lzw_literals(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> codes = {256};
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 250 == 0) {
            codes.push_back(256);
        }
        codes.push_back(bytes[i]);
    }
    codes.push_back(257);
    return lzw9(codes);
}

// Strips decoded on several threads land where one thread puts them, also
// when a strip holds more or fewer rows than RowsPerStrip says, is damaged, or
// is missing: the picture and the status of three parts equal those of one.
TEST_F(Tiff, StripsOnThreadsGiveTheRowsOfOneThread) {
    constexpr uint32_t kWidth = 7, kHeight = 30, kRowsPerStrip = 4;
    auto rgb_row = [](uint32_t y) {
        std::vector<uint8_t> row(kWidth * 3);
        for (uint32_t i = 0; i < row.size(); ++i) {
            row[i] = uint8_t(i == 0 ? y * 9 : 1 + (i + y) % 5);  // differences
        }
        return row;
    };
    // Strip k holds rows_in[k] rows; damaged strips hold a code past the
    // next free one after their rows.
    auto file = [&](const std::vector<uint32_t>& rows_in, int damaged) {
        TiffFile f;
        f.width = kWidth;
        f.height = kHeight;
        f.bits = 8;
        f.samples = 3;
        f.photometric = 2;
        f.compression = 5;
        f.extra = {{278, 4, {kRowsPerStrip}}, {317, 3, {2}}, {258, 3, {8, 8, 8}}};
        uint32_t y = 0;
        for (size_t k = 0; k < rows_in.size(); ++k) {
            std::vector<uint8_t> raw;
            for (uint32_t r = 0; r < rows_in[k]; ++r, ++y) {
                const std::vector<uint8_t> row = rgb_row(y);
                raw.insert(raw.end(), row.begin(), row.end());
            }
            std::vector<uint8_t> strip = lzw_literals(raw);
            if (int(k) == damaged) {
                strip = lzw_literals(raw);
                strip.resize(strip.size() - 2);  // drops the end code
                const std::vector<uint8_t> bad = lzw9({256, 1, 400});
                strip.insert(strip.end(), bad.begin(), bad.end());
            }
            f.strips.push_back(strip);
        }
        return build(f);
    };
    const std::vector<uint32_t> regular(8, kRowsPerStrip);  // 32 rows for 30
    std::vector<uint32_t> longer = regular, shorter = regular, fewer(5, kRowsPerStrip);
    longer[2] = 5;
    shorter[3] = 3;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    for (const Case& c :
         {Case{"regular", file(regular, -1)}, Case{"longer", file(longer, -1)},
          Case{"shorter", file(shorter, -1)}, Case{"damaged", file(regular, 4)},
          Case{"damaged first", file(regular, 0)}, Case{"too few strips", file(fewer, -1)}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> one_thread;
        ImgStatus one_status = IMG_OK;
        for (uint32_t parts : {1u, 3u, 8u}) {
            const ThreadLimit limit(parts);
            const ImgStatus status = load(c.bytes, kWidth, kHeight, 24);
            const std::vector<uint8_t> pixels(image.pixels,
                                              image.pixels + size_t{image.row_bytes} * kHeight);
            if (parts == 1) {
                one_thread = pixels;
                one_status = status;
                continue;
            }
            EXPECT_EQ(status, one_status) << parts;
            EXPECT_EQ(pixels, one_thread) << parts;
        }
        if (std::string(c.name) == "regular") {
            EXPECT_EQ(one_status, IMG_OK);
            // Row 29, pixel 0: its first three samples, stored blue, green, red.
            EXPECT_EQ(row(29, 3), (std::vector<uint8_t>{2, 1, uint8_t(29 * 9)}));
        }
    }
}

// A 4-bit image with a ColorMap of 48 values gives indexes and 16 entries; a
// 1-bit palette image only the two its table holds.
TEST_F(Tiff, ColourMapsAreCutToTheTable) {
    TiffFile palette;
    palette.bits = 4;
    palette.width = 16;
    palette.photometric = 3;
    palette.extra = {{320, 3, std::vector<uint32_t>(48, 0xFF00)}};
    palette.strips = {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    ASSERT_EQ(load(palette, 8), IMG_OK);
    EXPECT_EQ(row(0, 3), (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(image.color_count, 16);
    palette.bits = 1;
    palette.extra = {{320, 3, std::vector<uint32_t>(768, 0xFF00)}};
    ASSERT_EQ(load(palette, 1), IMG_OK);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(row(0, 1), std::vector<uint8_t>{0x01});  // indexes are not inverted
}

// ---------------------------------------------------------------------------
// Strips and placement

TEST_F(Tiff, StripsStreamAndAreCutToTheFile) {
    TiffFile f;
    f.width = 4;
    f.height = 3;
    f.extra = {{278, 4, {1}}};
    // Strips out of order, with rows crossing their boundaries: one stream.
    f.strips = {{1, 2, 3, 4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
    ASSERT_EQ(load(f, 8), IMG_OK);
    EXPECT_EQ(row(2, 4), (std::vector<uint8_t>{9, 10, 11, 12}));

    // Byte counts past the end of the file read what the file holds; a strip
    // beyond it is empty.
    f.extra.push_back({279, 4, {6, 0x7FFFFFFF, 4000000000u}});
    ASSERT_EQ(load(f, 8), IMG_OK);
    f.extra = {{278, 4, {1}}, {279, 4, {6, 3, 3}}, {273, 4, {8, 4000000000u, 14}}};
    EXPECT_EQ(load(f, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(row(1, 4), (std::vector<uint8_t>{5, 6, 7, 8}));

    // One strip with a wrong byte count is read to the end of the file;
    // computed counts of strips out of order run to the end of the file too.
    TiffFile one;
    one.width = 4;
    one.strips = {{1, 2, 3, 4}};
    one.extra = {{279, 4, {1}}};
    ASSERT_EQ(load(one, 8), IMG_OK);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    f.with_byte_counts = false;
    f.extra = {{278, 4, {1}}, {273, 4, {14, 8, 11}}};
    ASSERT_EQ(load(f, 8), IMG_OK);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{7, 8, 9, 10}));
}

// Rows and codes that straddle the chunk buffer's refills (every 96 KiB).
TEST_F(Tiff, DataStraddlesRefills) {
    // 300 rows of 999 bytes in strips of 43 rows, raw and as PackBits rows
    // (each coded on its own, literals of up to 100 bytes).
    const uint32_t width = 999, height = 300;
    std::vector<uint8_t> all(width * height);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = uint8_t(i * 7 ^ i >> 9);
    }
    TiffFile raw;
    raw.width = width;
    raw.height = height;
    raw.extra = {{278, 4, {43}}};
    TiffFile packbits = raw;
    packbits.compression = 32773;
    for (size_t row = 0; row < height; ++row) {
        if (row % 43 == 0) {
            raw.strips.emplace_back();
            packbits.strips.emplace_back();
        }
        const auto start = all.begin() + ptrdiff_t(row * width);
        raw.strips.back().insert(raw.strips.back().end(), start, start + width);
        for (uint32_t i = 0; i < width; i += 100) {
            const uint32_t n = std::min(100u, width - i);
            packbits.strips.back().push_back(uint8_t(n - 1));
            packbits.strips.back().insert(packbits.strips.back().end(), start + i, start + i + n);
        }
    }
    for (const TiffFile* f : {&raw, &packbits}) {
        ASSERT_EQ(load(*f, 8), IMG_OK);
        for (uint32_t y = 0; y < height; ++y) {
            ASSERT_EQ(row(y, width),
                      std::vector<uint8_t>(all.begin() + y * width, all.begin() + (y + 1) * width))
                << f->compression << " row " << y;
        }
    }
    // T.6 of noise: about 130 KB of codes.
    const uint32_t fax_height = 600;
    std::vector<uint8_t> bits(125 * fax_height);
    for (size_t i = 0; i < bits.size(); ++i) {
        bits[i] = uint8_t(i * 2654435761u >> 24);
    }
    TiffFile fax;
    fax.bits = 1;
    fax.width = 1000;
    fax.height = fax_height;
    fax.photometric = 0;
    fax.compression = 4;
    fax.strips = libtiff_strips(dir / "noise.tif", bits, 1000, fax_height, 4, fax_height);
    ASSERT_GT(fax.strips[0].size(), size_t{98304});
    ASSERT_EQ(load(fax, 1), IMG_OK);
    int wrong = 0;
    for (uint32_t y = 0; y < fax_height; ++y) {
        for (uint32_t x = 0; x < 1000; ++x) {
            wrong += bit(image, x, y) == ((bits[y * 125 + x / 8] >> (7 - x % 8)) & 1u);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Tiff, RowsLandInTheAreaOfInterest) {
    // 10 x 10 into 16 x 16: top left; then into a 4 x 3 area at (5, 2).
    TiffFile f;
    f.width = 10;
    f.height = 10;
    f.strips.emplace_back();
    for (int i = 0; i < 100; ++i) {
        f.strips[0].push_back(uint8_t(i + 1));
    }
    ASSERT_EQ(load(build(f), 16, 16, 8), IMG_OK);
    EXPECT_EQ(image_row(image, 9)[9], 100);
    EXPECT_EQ(image_row(image, 10)[0], 0);
    EXPECT_EQ(image_row(image, 0)[10], 0);
    image_set_area(&image, 5, 2, 8, 4);
    std::memset(image.pixels, 0xEE, size_t(image.row_bytes) * 16);
    ASSERT_EQ(tiff_load(write(build(f)).c_str(), &image), IMG_OK);
    EXPECT_EQ(row(2, 10), (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 4, 0xEE}));
    EXPECT_EQ(image_row(image, 4)[8], 24);
    EXPECT_EQ(image_row(image, 5)[5], 0xEE);

    // A 1-bit row stored from column 11 starts inside the second byte.
    TiffFile ones;
    ones.bits = 1;
    ones.width = 8;
    ones.strips = {{0xFF}};
    ASSERT_EQ(load(build(ones), 32, 1, 1), IMG_OK);
    image_set_area(&image, 11, 0, 31, 0);
    ASSERT_EQ(tiff_load(write(build(ones)).c_str(), &image), IMG_OK);
    EXPECT_EQ(row(0, 3), (std::vector<uint8_t>{0xFF, 0x1F, 0xE0}));
}

TEST_F(Tiff, LargeDirectoriesAndTruncation) {
    // A directory of 6000 entries is read whole.
    TiffFile f;
    f.width = 4;
    f.height = 2;
    f.strips = {{1, 2, 3, 4, 5, 6, 7, 8}};
    for (uint16_t t = 400; t < 6400; ++t) {
        f.extra.push_back({t, 3, {1}});
    }
    ASSERT_EQ(load(f, 8), IMG_OK);
    EXPECT_EQ(row(1, 4), (std::vector<uint8_t>{5, 6, 7, 8}));

    // A palette file cut at each boundary: in the header, after it, in the
    // strip data before the directory, in the directory: unreadable; in the
    // colour map: the pixels with the entries it holds, reported damaged.
    TiffFile p;
    p.width = 4;
    p.height = 2;
    p.photometric = 3;
    p.extra = {{278, 4, {1}}, {320, 3, std::vector<uint32_t>(768, 0x4000)}};
    p.strips = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    const std::vector<uint8_t> bytes = build(p);
    for (size_t cut : {size_t{4}, size_t{8}, size_t{12}, size_t{20}}) {
        const auto part = std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
        EXPECT_EQ(load(part, 4, 2, 8), IMG_ERR_TIFF_STRUCTURE) << cut;
    }
    ASSERT_EQ(load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), 4, 2, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(1, 4), (std::vector<uint8_t>{5, 6, 7, 8}));
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.palette[254].blue, 0x40);
    EXPECT_EQ(image.palette[255].blue, 0);  // its value is past the end
    // Cut among the greens: reds whole, greens up to the cut, no blues.
    ASSERT_EQ(load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 2 * 256 - 2 * 156), 4, 2, 8),
              IMG_ERR_LZW);
    EXPECT_EQ(image.palette[99].red, 0x40);
    EXPECT_EQ(image.palette[99].green, 0x40);
    EXPECT_EQ(image.palette[100].green, 0);
    EXPECT_EQ(image.palette[0].blue, 0);
    // Cut before the map: pixels with the gray ramp.
    ASSERT_EQ(load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 2 * 768), 4, 2, 8),
              IMG_ERR_LZW);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    // The second strip cut short: the first row and the palette stay.
    p.strips[1].resize(2);
    ASSERT_EQ(load(p, 8), IMG_ERR_LZW);
    EXPECT_EQ(row(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(row(1, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.palette[9].red, 0x40);
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

// Palette entries that differ from the reference's colour map (high bytes).
int palette_differences(const ImageDesc& image, const Reference& ref) {
    const size_t n = ref.map.size() / 3;
    int count = 0;
    for (size_t i = 0; i < n && i < size_t(image.color_count); ++i) {
        const PaletteEntry& e = image.palette[i];
        count += e.red != ref.map[i] >> 8 || e.green != ref.map[n + i] >> 8 ||
                 e.blue != ref.map[2 * n + i] >> 8;
    }
    return count;
}

// A file as libtiff writes it, in strips of 64 rows. Each row is a third
// noise (the LZW table fills, its codes widen to 12 bits and the encoder
// clears it), a third ramp (long strings, most of all after Predictor 2) and
// a third one value (PackBits runs).
struct Written {
    const char* what;
    uint16_t bits, samples, photometric, compression, predictor;
    bool big_endian;
};

void write_with_libtiff(const fs::path& path, const Written& w, uint32_t width, uint32_t height) {
    TIFF* tif = TIFFOpen(path.c_str(), w.big_endian ? "wb" : "wl");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, w.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, w.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, w.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, w.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, w.predictor);
    if (w.samples == 2 || w.samples == 4) {
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    std::vector<uint16_t> map(3u << w.bits);
    for (size_t i = 0; i < map.size(); ++i) {
        map[i] = uint16_t(i * 40503u);  // high bytes differ from low bytes
    }
    const size_t n = map.size() / 3;
    if (w.photometric == PHOTOMETRIC_PALETTE) {
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i) {
            const size_t third = 3 * i / row.size();
            row[i] = third == 0   ? uint8_t((i * 2654435761u + y * 40503u) >> 13)
                     : third == 1 ? uint8_t(i + y)
                                  : uint8_t(y);
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

TEST(TiffWritten, FilesOfEveryDecodingModeMatchLibtiff) {
    const TempDir dir;
    for (const Written& w : {
             Written{"gray, LZW, predictor", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 2, 0},
             Written{"gray and alpha, LZW, predictor", 8, 2, PHOTOMETRIC_MINISBLACK,
                     COMPRESSION_LZW, 2, 1},
             Written{"RGB, LZW, predictor", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, 2, 0},
             Written{"RGBA, LZW, predictor", 8, 4, PHOTOMETRIC_RGB, COMPRESSION_LZW, 2, 1},
             Written{"RGB, LZW", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, 1},
             Written{"palette, LZW", 8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW, 1, 0},
             Written{"bilevel, LZW", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_LZW, 1, 0},
             Written{"gray, PackBits", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS, 1, 0},
             Written{"gray and alpha", 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, 0},
             Written{"16-bit gray", 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, 1},
             Written{"16-bit gray", 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, 0},
             Written{"4-bit gray", 4, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, 0},
             Written{"4-bit palette, PackBits", 4, 1, PHOTOMETRIC_PALETTE, COMPRESSION_PACKBITS, 1,
                     1},
         }) {
        SCOPED_TRACE(testing::Message() << w.what << (w.big_endian ? ", MM" : ", II"));
        const fs::path path = dir / "written.tif";
        write_with_libtiff(path, w, 211, 128);
        ImageDesc image{};
        Reference ref;
        ASSERT_EQ(open_file(path, &image).status, IMG_OK);
        ASSERT_TRUE(reference(path, &ref));
        EXPECT_EQ(differences(image, ref), 0);
        EXPECT_EQ(palette_differences(image, ref), 0);
        image_free(&image);
    }
}

// Names by status: a word starting with IMG_ names the status of the names
// after it, a word ending in '/' their folder; '#' starts a comment.
std::map<std::string, std::string> table(const char* text) {
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string line, word, status, folder;
    while (std::getline(lines, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        while (words >> word) {
            if (word.starts_with("IMG_")) {
                status = word;
            } else if (word.ends_with('/')) {
                folder = word;
            } else {
                out[folder + word] = status;
            }
        }
    }
    return out;
}

// Every corpus file (outside the fuzzers' inputs, which only must give a
// status) whose open does not end in success, by status, without extension.
constexpr const char* kRefused = R"(
IMG_ERR_BPP  # depths the viewer cannot allocate: 2, 3, 5 to 7, 10 to 14, 32 and 64 bits
    image-tiff/ 12bit.cropped 12bit.cropped.rgb gradient-1c-32b gradient-1c-32b-float
        gradient-1c-64b gradient-1c-64b-float hpredict-1c-12b minisblack-1c-3b minisblack-1c-5b
        minisblack-1c-7b miniswhite-1c-12b miniswhite-1c-3b miniswhite-1c-6b
    image-tiff/seq/ seq-1c-10b-6d739fa2 seq-1c-10b-hpredict-6d739fa2
        seq-1c-10b-miniswhite-6d739fa2 seq-1c-12b-47c39b31 seq-1c-12b-hpredict-47c39b31
        seq-1c-12b-miniswhite-47c39b31 seq-1c-14b-e883657f seq-1c-14b-hpredict-e883657f
        seq-1c-14b-miniswhite-e883657f seq-1c-2b-58b25f76 seq-1c-32f-390fe673
        seq-1c-32f-deflate-fpredict-390fe673 seq-1c-3b-ef237c07 seq-1c-3b-miniswhite-ef237c07
        seq-1c-5b-73098d17 seq-1c-5b-miniswhite-73098d17 seq-1c-64f-afa8560e
        seq-1c-64f-deflate-fpredict-afa8560e seq-1c-6b-miniswhite-79cafbb6 seq-1c-7b-9c61ba70
        seq-1c-7b-miniswhite-9c61ba70 seq-1c-i32-99fddec2 seq-3c-10b-contig-d08d5dc0
        seq-3c-10b-planar-c82e8ab6 seq-3c-12b-contig-e6f40b4a seq-3c-12b-planar-e29e8e25
        seq-3c-14b-contig-f4dcc6cc seq-3c-14b-planar-4dde706b seq-3c-5b-contig-09f197f4
        seq-3c-7b-contig-2e4f43c5
    libtiff/ test_float64_predictor2_be_lzw test_float64_predictor2_le_lzw
    libtiffpic/depth/ flower-minisblack-02 flower-minisblack-06 flower-minisblack-10
        flower-minisblack-12 flower-minisblack-14 flower-minisblack-32 flower-palette-02
        flower-rgb-contig-02 flower-rgb-contig-04 flower-rgb-contig-10 flower-rgb-contig-12
        flower-rgb-contig-14 flower-rgb-planar-02 flower-rgb-planar-04 flower-rgb-planar-10
        flower-rgb-planar-12 flower-rgb-planar-14
    pillow/ 12bit.cropped crash-0da013a13571cc8eb457a39fee8db18f8a3c7127
    pillow/tiff_gray_2_4_bpp/ hopper2 hopper2I hopper2IR hopper2R
IMG_ERR_ENCODING  # deflate, JPEG, zstd, WebP, LogLuv, ThunderScan; planar or CMYK samples; 16-bit RGB
    go-image/ bw-deflate invalid-palette-ref video-001 video-001-16bit video-001-paletted
        video-001-strip-64
    image-rs/ clusterfuzz-testcase-minimized-fuzzer_script_tiff-5026894169374720 cmyk_u8_edge_case
        cmyk_u8_trunc_case hpredict_packbits
    image-tiff/ cmyk-3c-8b int16_rgb int16_zstd issue_69_lzw issue_69_packbits random-fp16
        random-fp16-pred2 random-fp16-pred3 single-black-fp16 subsubifds tiled-jpeg-ycbcr
        white-fp16-pred2 white-fp16-pred3
    image-tiff/seq/ seq-1c-16b-deflate-68f373a0 seq-1c-16b-lzw-68f373a0 seq-1c-24b-072a9dc9
        seq-1c-24b-hpredict-072a9dc9 seq-1c-24b-miniswhite-072a9dc9 seq-1c-8b-deflate-20f3db0c
        seq-3c-24b-planar-6296c0c9 seq-3c-i16-f7fcf423 seq-3c-i8-d7550ce4 seq-4c-16b-cmyk-c6e52592
        seq-4c-16b-rgba-5181991f seq-4c-8b-cmyk-352ac1da
    libtiff/ 32bpp-None-jpeg deflate-last-strip-extra-data logluv-3c-16b
        ojpeg_chewey_subsamp21_multi_strip ojpeg_single_strip_no_rowsperstrip rgb-3c-16b
        webp_lossless_rgba_alpha_fully_opaque
    libtiffpic/ ladoga off_l16 oxford quad-jpeg smallliz text ycbcr-cat
    libtiffpic/depth/ flower-minisblack-24 flower-palette-16 flower-rgb-contig-16
        flower-rgb-planar-08 flower-rgb-planar-16 flower-rgb-planar-24 flower-separated-contig-08
        flower-separated-contig-16 flower-separated-planar-08 flower-separated-planar-16
    pillow/ copyleft crash-0c7e0e8e11ce787078f00b5b0ca409a167f070e0
        crash-0e16d3bfb83be87356d026d66919deaefca44dac
        crash-1152ec2d1a1a71395b6f2ce6721c38924d025bf3
        crash-1185209cf7655b5aed8ae5e77784dfdd18ab59e9
        crash-338516dbd2f0e83caddb8ce256c22db3bd6dc40f
        crash-4f085cc12ece8cde18758d42608bed6a2a2cfb1c
        crash-f46f5b2f43c370fe65706c11449f567ecc345e74 pil168 separate_planar_extra_samples
        tiff_16bit_RGBa
IMG_ERR_LZW  # old-style LZW (codes least significant bit first) and damaged data
    libtiff/ quad-lzw-compat
    pillow/ crash-74d2a78403a5a59db1fb0a2b8735ac068a75f6e3
IMG_ERR_RANGE  # the allocation refuses the size (1 x 65537)
    image-tiff/ big_g4
    pillow/ libtiff_segfault
IMG_ERR_TIFF_STRUCTURE  # BigTIFF, tiles (no StripOffsets), 32 and more bits, 5 BitsPerSample values
    go-image/ video-001-tile-64x64
    image-rs/ rgb32f_bw rgb32f_color
    image-tiff/ cmyk-3c-32b-float cmyk-4c-8b gradient-3c-32b gradient-3c-32b-float gradient-3c-64b
        predictor-3-rgb-f32 tiled-gray-i1
    image-tiff/bigtiff/ BigTIFF BigTIFFLong BigTIFFMotorola
    image-tiff/seq/ seq-1c-16b-tiled-68f373a0 seq-1c-8b-bigtiff-20f3db0c seq-1c-8b-tiled-20f3db0c
        seq-1c-8b-tiled-bigtiff-20f3db0c seq-1c-8b-tiled-deflate-20f3db0c
        seq-1c-8b-tiled-lzw-20f3db0c seq-3c-16b-bigtiff-1b40ca6e seq-3c-32f-9a471c2b
        seq-3c-64f-9fff098a seq-3c-8b-tiled-8743c999
    libtiff/ ojpeg_zackthecat_subsamp22_single_strip quad-tile.jpg tiff_with_subifd_chain
    libtiffpic/depth/ flower-rgb-contig-32 flower-rgb-planar-32
    pillow/ crash-2020-10-test crash-63b1dffefc8c075ddc606c0a2f5fdc15ece78863
        crash-86214e58da443d2b80820cff9677a38a33dcbbca hopper_bigtiff
        oom-225817ca0f8c663be7ab4b9e717b02c661e66834 seek_too_large tiff_16bit_RGB
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
            EXPECT_EQ(palette_differences(image, ref), 0) << name;
            ++compared;
        }
        image_free(&image);
    }
    EXPECT_EQ(files, 435);
    EXPECT_EQ(compared, 121);  // every file whose layout is compared
}

}  // namespace
