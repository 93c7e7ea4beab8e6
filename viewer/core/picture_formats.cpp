#include "picture_formats.h"

#include <cstdlib>
#include <iterator>

#include "imaging/readers/bmp.h"
#include "qap.h"

using namespace imaging;

namespace {

// Case-insensitive comparison of ASCII letters only, whatever the locale.
bool equal_ignoring_case(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

ImgStatus phone_image_info(const char* path, PictureInfo* info) {
    QapInfo record{};
    const ImgStatus status = qap_info(path, &record);
    if (status == IMG_OK) {
        info->width = record.width;
        info->height = record.height;
        info->bits_per_pixel = 4;  // four gray levels, held one per byte
    }
    return status;
}

ImgStatus bitmap_info(const char* path, PictureInfo* info) {
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

constexpr PictureReader kReaders[] = {
    {".qap", PictureFormat::PhoneImage, phone_image_info, qap_load, true},
    {".bmp", PictureFormat::Bmp, bitmap_info, bmp_load, true},
    {".gif", PictureFormat::Gif, nullptr, nullptr, false},
    {".jpg", PictureFormat::Jpeg, nullptr, nullptr, false},
    {".pcx", PictureFormat::Pcx, nullptr, nullptr, false},
    {".png", PictureFormat::Png, nullptr, nullptr, false},
    {".tga", PictureFormat::Tga, nullptr, nullptr, false},
    {".tif", PictureFormat::Tiff, nullptr, nullptr, false},
};

constexpr const char* kExtensions[] = {".qap", ".bmp", ".gif", ".jpg",
                                       ".pcx", ".png", ".tga", ".tif"};

}  // namespace

const PictureReader* find_picture_reader(const std::string& extension) {
    for (const PictureReader& reader : kReaders) {
        if (equal_ignoring_case(extension, reader.extension)) {
            return reader.info != nullptr ? &reader : nullptr;
        }
    }
    return nullptr;
}

const char* const* picture_extensions(int* count) {
    *count = static_cast<int>(std::size(kExtensions));
    return kExtensions;
}
