#include "imaging/readers/reader_table.h"

#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/tiff.h"

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

ImgStatus tiff_picture_info(const char* path, PictureInfo* info) {
    TiffInfo record{};
    const ImgStatus status = tiff_info(path, &record);
    if (status == IMG_OK) {
        info->width = record.width;
        info->height = record.height;
        info->bits_per_pixel = record.bits_per_pixel;
    }
    return status;
}

constexpr ReaderEntry kReaders[] = {
    {".bmp", PictureFormat::Bmp, "BMP", "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup, true},
    {".tif", PictureFormat::Tiff, "TIFF", "image/tiff", tiff_picture_info, tiff_load, tiff_cleanup,
     false},
};

}  // namespace

std::span<const ReaderEntry> raster_readers() {
    return kReaders;
}

}  // namespace imaging
