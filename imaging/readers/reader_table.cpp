#include "imaging/readers/reader_table.h"

#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/png.h"

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

ImgStatus png_picture_info(const char* path, PictureInfo* info) {
    PngInfo record{};
    const ImgStatus status = png_info(path, &record);
    if (status == IMG_OK) {
        // Both sides are at most 2^31 - 1 once the header is checked.
        info->width = static_cast<int32_t>(record.width);
        info->height = static_cast<int32_t>(record.height);
        info->bits_per_pixel = static_cast<int32_t>(record.bits_per_pixel);
    }
    return status;
}

constexpr ReaderEntry kReaders[] = {
    {".bmp", PictureFormat::Bmp, "BMP", "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup, true},
    {".png", PictureFormat::Png, "PNG", "image/png", png_picture_info, png_load, png_cleanup,
     false},
};

}  // namespace

std::span<const ReaderEntry> raster_readers() {
    return kReaders;
}

}  // namespace imaging
