#include "imaging/readers/reader_table.h"

#include <algorithm>
#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/gif.h"
#include "imaging/readers/jpeg/jpeg.h"
#include "imaging/readers/pcx.h"
#include "imaging/readers/png/png.h"
#include "imaging/readers/reader_io.h"
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

constexpr auto gif_picture_info = picture_info_of<GifInfo, gif_info>;
constexpr auto jpeg_picture_info = picture_info_of<JpegInfo, jpeg_info>;
constexpr auto pcx_picture_info = picture_info_of<PcxInfo, pcx_info>;
constexpr auto png_picture_info = picture_info_of<PngInfo, png_info>;
constexpr auto tga_picture_info = picture_info_of<TgaInfo, tga_info>;
constexpr auto tiff_picture_info = picture_info_of<TiffInfo, tiff_info>;

// TGA files carry no signature: only their extension picks their reader.
constexpr ReaderEntry kReaders[] = {
    {".bmp", {}, bmp_signature, "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup},
    {".gif", {}, gif_signature, "image/gif", gif_picture_info, gif_load, gif_cleanup},
    {".jpg", kJpegAliases, jpeg_signature, "image/jpeg", jpeg_picture_info, jpeg_load,
     jpeg_cleanup},
    {".pcx", {}, pcx_signature, "image/vnd.zbrush.pcx", pcx_picture_info, pcx_load, nullptr},
    {".png", {}, png_signature, "image/png", png_picture_info, png_load, png_cleanup},
    {".tga", {}, nullptr, "image/x-tga", tga_picture_info, tga_load, tga_cleanup},
    {".tif", kTiffAliases, tiff_signature, "image/tiff", tiff_picture_info, tiff_load,
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

const ReaderEntry* choose_reader(std::span<const ReaderEntry> readers, const char* path,
                                 std::string_view extension) {
    const ReaderEntry* named = find_reader(readers, extension);
    uint8_t bytes[kSignatureBytes];
    size_t size = 0;
    ReaderFile file;
    if (file.open(path)) {
        size = file.read(bytes, sizeof bytes);
    }
    const std::span<const uint8_t> head(bytes, size);
    auto carries_signature = [&](const ReaderEntry& reader) {
        return reader.signature != nullptr && reader.signature(head);
    };
    if (named != nullptr && carries_signature(*named)) {
        return named;
    }
    for (const ReaderEntry& reader : readers) {
        if (carries_signature(reader)) {
            return &reader;
        }
    }
    return named;
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
