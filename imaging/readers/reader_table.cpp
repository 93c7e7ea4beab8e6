#include "imaging/readers/reader_table.h"

#include <cstdlib>

#include "imaging/readers/bmp.h"
#include "imaging/readers/pcx.h"
#include "imaging/readers/tga.h"

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

ImgStatus pcx_picture_info(const char* path, PictureInfo* info) {
    PcxInfo record{};
    const ImgStatus status = pcx_info(path, &record);
    if (status == IMG_OK) {
        info->width = record.width;
        info->height = record.height;
        info->bits_per_pixel = record.bits_per_pixel;
    }
    return status;
}

ImgStatus tga_picture_info(const char* path, PictureInfo* info) {
    TgaInfo record{};
    const ImgStatus status = tga_info(path, &record);
    if (status == IMG_OK) {
        info->width = record.width;
        info->height = record.height;
        info->bits_per_pixel = record.bits_per_pixel;
    }
    return status;
}

constexpr ReaderEntry kReaders[] = {
    {".bmp", PictureFormat::Bmp, "BMP", "image/bmp", bmp_picture_info, bmp_load, bmp_cleanup, true},
    {".pcx", PictureFormat::Pcx, "PCX", "image/vnd.zbrush.pcx", pcx_picture_info, pcx_load, nullptr,
     false},
    {".tga", PictureFormat::Tga, "TGA", "image/x-tga", tga_picture_info, tga_load, tga_cleanup,
     false},
};

}  // namespace

std::span<const ReaderEntry> raster_readers() {
    return kReaders;
}

}  // namespace imaging
