#include "imaging/readers/reader_table.h"

#include <algorithm>
#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/gif.h"
#include "imaging/readers/jpeg/jpeg.h"
#include "imaging/readers/pcx.h"
#include "imaging/readers/png/png.h"
#include "imaging/readers/tga.h"
#include "imaging/readers/tiff/tiff.h"

namespace imaging {
namespace {

ImgStatus bmp_picture_info(const char* path, PictureInfo* info) {
    BmpInfo record{};
    const ImgStatus status = bmp_info(path, &record);
    if (status == IMG_OK) {
        info->width = record.biWidth;
        // A negative height marks rows stored top-down; the picture is as high
        // as its absolute value.
        info->height = record.biHeight == INT32_MIN ? INT32_MAX : std::abs(record.biHeight);
        info->bits_per_pixel = record.biBitCount >= 16 ? 24 : record.biBitCount;
    }
    return status;
}

// The information calls' records, reduced to what opening a picture takes.
template <typename Record, ImgStatus (*info_call)(const char*, Record*)>
ImgStatus picture_info_of(const char* path, PictureInfo* info) {
    Record record{};
    const ImgStatus status = info_call(path, &record);
    if (status == IMG_OK) {
        info->width = static_cast<int32_t>(record.width);
        info->height = static_cast<int32_t>(record.height);
        info->bits_per_pixel = static_cast<int32_t>(record.bits_per_pixel);
    }
    return status;
}

constexpr const char* kJpegAliases[] = {".jpeg", ".jpe", ".jfif"};
constexpr const char* kTiffAliases[] = {".tiff"};

constexpr ReaderEntry kReaders[] = {
    {".bmp", {}, "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup},
    {".gif", {}, "image/gif", picture_info_of<GifInfo, gif_info>, gif_load, gif_cleanup},
    {".jpg", kJpegAliases, "image/jpeg", picture_info_of<JpegInfo, jpeg_info>, jpeg_load,
     jpeg_cleanup},
    {".pcx", {}, "image/vnd.zbrush.pcx", picture_info_of<PcxInfo, pcx_info>, pcx_load, nullptr},
    {".png", {}, "image/png", picture_info_of<PngInfo, png_info>, png_load, png_cleanup},
    {".tga", {}, "image/x-tga", picture_info_of<TgaInfo, tga_info>, tga_load, tga_cleanup},
    {".tif", kTiffAliases, "image/tiff", picture_info_of<TiffInfo, tiff_info>, tiff_load,
     tiff_cleanup},
};

// Case-insensitive comparison of ASCII letters only, whatever the locale.
bool equal_ignoring_case(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::vector<const char*> reader_extensions(const ReaderEntry& reader) {
    std::vector<const char*> extensions{reader.extension};
    extensions.insert(extensions.end(), reader.aliases.begin(), reader.aliases.end());
    return extensions;
}

std::span<const ReaderEntry> raster_readers() {
    return kReaders;
}

const ReaderEntry* find_reader(std::span<const ReaderEntry> readers, std::string_view extension) {
    for (const ReaderEntry& reader : readers) {
        if (equal_ignoring_case(extension, reader.extension) ||
            std::any_of(reader.aliases.begin(), reader.aliases.end(),
                        [&](const char* alias) { return equal_ignoring_case(extension, alias); })) {
            return &reader;
        }
    }
    return nullptr;
}

}  // namespace imaging
