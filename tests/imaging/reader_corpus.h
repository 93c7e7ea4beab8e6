// Helpers for the readers' conformance tests over the public corpus: opening a
// file as the viewer does, a picture's colours, and reference renderings
// decoded with libpng.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"

namespace reader_corpus {

namespace fs = std::filesystem;
using imaging::ImageDesc;

inline const imaging::ReaderEntry& reader(const std::string& extension) {
    const auto readers = imaging::raster_readers();
    return *std::find_if(readers.begin(), readers.end(),
                         [&](const auto& r) { return r.extension == extension; });
}

// 0xRRGGBB of pixel (x, y), row 0 at the top; through the palette for 1 and
// 8 bits.
inline uint32_t rgb(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = imaging::image_row(image, y);
    uint32_t index = row[x];
    switch (imaging::image_bits(image)) {
        case 1:
            index = (row[x / 8] >> (7 - x % 8)) & 1;
            break;
        case 8:
            break;
        default:
            return (row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x];
    }
    const imaging::PaletteEntry& e = image.palette[index];
    return (e.red << 16) | (e.green << 8) | e.blue;
}

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
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return out;
    }
    png.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, out.rgba.data(), 0, nullptr)) {
        return Rendering{};
    }
    out.width = png.width;
    out.height = png.height;
    return out;
}

// Pixels of the rendering that are opaque and differ in a channel by more
// than `tolerance` from the picture's left columns from row `top` on; -1
// when the rendering is not of the picture's size.
inline int differences(const ImageDesc& image, const imaging::PictureInfo& info,
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

// "name value ..." lines, one entry per line (the rest of a line is a comment).
inline std::map<std::string, std::string> table(const char* text) {
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    std::string name, rest;
    while (lines >> name) {
        std::getline(lines, rest);
        std::istringstream(rest) >> out[name];
    }
    return out;
}

// The files below folder whose names end in `extension`, as paths relative to
// it, sorted.
inline std::vector<std::string> files(const fs::path& folder, const std::string& extension) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().extension() == extension) {
            out.push_back(fs::relative(entry.path(), folder).string());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace reader_corpus
