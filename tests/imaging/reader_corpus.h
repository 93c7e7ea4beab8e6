// Shared by the readers' tests: a fixture that loads hand-built files, a
// picture's colours, reference renderings decoded with libpng, and one pass
// over a corpus folder.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/readers/picture_open.h"
#include "tests/support/test_support.h"

namespace reader_corpus {

namespace fs = std::filesystem;

// 0xRRGGBB of palette entry i.
inline uint32_t entry(const imaging::ImageDesc& image, uint32_t i) {
    const imaging::PaletteEntry& e = image.palette[i];
    return (e.red << 16) | (e.green << 8) | e.blue;
}

// 0xRRGGBB of pixel (x, y), row 0 at the top.
inline uint32_t rgb(const imaging::ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = imaging::image_row(image, y);
    switch (imaging::image_bits(image)) {
        case 1:
            return entry(image, (row[x / 8] >> (7 - x % 8)) & 1);
        case 8:
            return entry(image, row[x]);
        default:
            return (row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    }
}

// Loads hand-built files with one reader.
class ReaderTest : public ::testing::Test {
  protected:
    using Load = imaging::ImgStatus (*)(const char*, imaging::ImageDesc*);
    ReaderTest(const char* extension, Load load) : extension_(extension), load_(load) {}
    void TearDown() override { imaging::image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / (std::to_string(++files_) + extension_);
        test_support::write_file(path, bytes);
        return path.string();
    }

    // Allocates width x height x bits, chooses the area of interest (left,
    // top, right, bottom) when given, and loads the file.
    imaging::ImgStatus load(const std::vector<uint8_t>& bytes, int32_t width, int32_t height,
                            int32_t bits, std::vector<uint32_t> area = {}) {
        imaging::image_free(&image);
        EXPECT_EQ(imaging::image_alloc(&image, width, height, bits), imaging::IMG_OK);
        if (area.size() == 4) {
            imaging::image_set_area(&image, area[0], area[1], area[2], area[3]);
        }
        return load_(write(bytes).c_str(), &image);
    }

    // Indexes (1 and 8 bits) or 0xRRGGBB values of `rows` rows from row `top`,
    // `width` columns each.
    std::vector<uint32_t> pixels(uint32_t top, uint32_t rows, uint32_t width) const {
        std::vector<uint32_t> out;
        const int32_t bits = imaging::image_bits(image);
        for (uint32_t y = top; y < top + rows; ++y) {
            const uint8_t* row = imaging::image_row(image, y);
            for (uint32_t x = 0; x < width; ++x) {
                out.push_back(bits == 1   ? (row[x / 8] >> (7 - x % 8)) & 1
                              : bits == 8 ? row[x]
                                          : rgb(image, x, y));
            }
        }
        return out;
    }

    test_support::TempDir dir;
    imaging::ImageDesc image{};

  private:
    const char* extension_;
    Load load_;
    int files_ = 0;
};

// A reference picture as RGBA bytes, top row first (empty when unreadable).
struct Rendering {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
};

inline Rendering read_png(const fs::path& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    Rendering out;
    if (png_image_begin_read_from_file(&png, path.c_str())) {
        png.format = PNG_FORMAT_RGBA;
        out.rgba.resize(PNG_IMAGE_SIZE(png));
        if (png_image_finish_read(&png, nullptr, out.rgba.data(), 0, nullptr)) {
            out.width = png.width;
            out.height = png.height;
        } else {
            out.rgba.clear();
        }
    }
    return out;
}

// Pixels of the rendering that are opaque and differ in a channel by more than
// `tolerance` from the picture, whose top row is image row `top`; -1 when the
// rendering is not of the picture's size.
inline int differences(const imaging::ImageDesc& image, const imaging::PictureInfo& info,
                       const Rendering& want, int tolerance, uint32_t top = 0) {
    if (want.width != uint32_t(info.width) || want.height != uint32_t(info.height)) {
        return -1;
    }
    int count = 0;
    for (uint32_t i = 0; i < want.width * want.height; ++i) {
        const uint32_t got = rgb(image, i % want.width, top + i / want.width);
        bool differs = false;
        for (int c = 0; c < 3 && want.rgba[4 * i + 3] == 255; ++c) {
            differs |=
                std::abs(int((got >> (16 - 8 * c)) & 0xFF) - want.rgba[4 * i + c]) > tolerance;
        }
        count += differs;
    }
    return count;
}

// FNV-1a over the picture's colours, row by row.
inline uint32_t checksum(const imaging::ImageDesc& image, const imaging::PictureInfo& info) {
    uint32_t hash = 2166136261u;
    for (int32_t y = 0; y < info.height; ++y) {
        for (int32_t x = 0; x < info.width; ++x) {
            hash = (hash ^ rgb(image, uint32_t(x), uint32_t(y))) * 16777619u;
        }
    }
    return hash;
}

// Loads the file cut just inside its header of `header_bytes`, and cut half
// way through what follows, into a picture like `full`. The first cut is
// refused with `header_status`; the second loads (when the data is whole) or
// ends with IMG_ERR_LZW: the pixels are the full load's where the data
// reached them and the allocator's zeros elsewhere, and the palette is loaded.
inline void check_cuts(const imaging::ReaderEntry& reader, const fs::path& file,
                       const imaging::ImageDesc& full, size_t header_bytes,
                       imaging::ImgStatus header_status) {
    const std::vector<uint8_t> bytes = test_support::read_file(file);
    const test_support::TempDir dir;
    for (const size_t size : {header_bytes - 1, header_bytes + (bytes.size() - header_bytes) / 2}) {
        SCOPED_TRACE(size);
        const fs::path cut = dir / ("cut" + file.extension().string());
        test_support::write_file(cut, {bytes.begin(), bytes.begin() + long(size)});
        imaging::ImageDesc image{};
        ASSERT_EQ(imaging::image_alloc(&image, imaging::image_width(full),
                                       imaging::image_height(full), imaging::image_bits(full)),
                  imaging::IMG_OK);
        const imaging::ImgStatus status = reader.load(cut.c_str(), &image);
        if (size < header_bytes) {
            EXPECT_EQ(status, header_status);
        } else {
            EXPECT_TRUE(status == imaging::IMG_OK || status == imaging::IMG_ERR_LZW) << status;
            const size_t total = size_t{image.row_bytes} * uint32_t(imaging::image_height(image));
            int differing = 0;
            for (size_t i = 0; i < total; ++i) {
                differing += image.pixels[i] != full.pixels[i] &&
                             (status == imaging::IMG_OK || image.pixels[i] != 0);
            }
            EXPECT_EQ(differing, 0);
            EXPECT_EQ(image.color_count == 0, full.color_count == 0);
        }
        imaging::image_free(&image);
    }
}

// Opens every file of the corpus folder with the extension `.folder` as the
// viewer does. `outcomes` lines "name value [comment]" give a file's status
// name (the others must load), or the checksum of its rendering checked by
// eye. `compare` checks every other loaded file against its references and
// returns how many it compared. Returns the files compared either way. Each
// loaded file is also loaded cut short (check_cuts).
inline int check_corpus(const std::string& folder, const char* outcomes, size_t header_bytes,
                        imaging::ImgStatus header_status,
                        const std::function<int(const std::string& path, const imaging::ImageDesc&,
                                                const imaging::PictureOpen&)>& compare) {
    const fs::path corpus = test_support::corpus_dir(folder);
    const std::map<std::string, std::string> expected = test_support::name_table(outcomes);
    const auto readers = imaging::raster_readers();
    const auto reader = std::find_if(readers.begin(), readers.end(),
                                     [&](const auto& r) { return r.extension == "." + folder; });
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.path().extension() == "." + folder) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    int compared = 0;
    for (const fs::path& file : files) {
        const std::string name = fs::relative(file, corpus).string();
        SCOPED_TRACE(name);
        imaging::ImageDesc image{};
        const imaging::PictureOpen opened = imaging::picture_open(*reader, file.c_str(), &image);
        const std::string want = expected.count(name) ? expected.at(name) : "IMG_OK";
        const bool by_eye = want[0] >= '0' && want[0] <= '9';
        EXPECT_EQ(imaging::status_name(opened.status), by_eye ? "IMG_OK" : want);
        if (opened.status == imaging::IMG_OK && by_eye) {
            EXPECT_EQ(std::to_string(checksum(image, opened.info)), want);
            ++compared;
        } else if (opened.status == imaging::IMG_OK) {
            compared += compare(file.string(), image, opened);
        }
        if (opened.status == imaging::IMG_OK) {
            check_cuts(*reader, file, image, header_bytes, header_status);
        }
        imaging::image_free(&image);
    }
    return compared;
}

}  // namespace reader_corpus
