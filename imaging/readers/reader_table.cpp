#include "imaging/readers/reader_table.h"

#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/jpeg.h"

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

ImgStatus jpeg_picture_info(const char* path, PictureInfo* info) {
    JpegInfo record{};
    const ImgStatus status = jpeg_info(path, &record);
    if (status == IMG_OK) {
        info->width = static_cast<int32_t>(record.width);  // 0..65535
        info->height = static_cast<int32_t>(record.height);
        info->bits_per_pixel = static_cast<int32_t>(record.bits_per_pixel);
    }
    return status;
}

constexpr ReaderEntry kReaders[] = {
    {".bmp", PictureFormat::Bmp, "BMP", "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup, true},
    {".jpg", PictureFormat::Jpeg, "JPEG", "image/jpeg", jpeg_picture_info, jpeg_load, jpeg_cleanup,
     false},
};

}  // namespace

std::span<const ReaderEntry> raster_readers() {
    return kReaders;
}

}  // namespace imaging
