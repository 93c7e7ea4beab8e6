// The picture formats the viewer opens, chosen by file extension.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/image.h"

using imaging::ImageDesc;
using imaging::ImgStatus;

enum class PictureFormat { None, PhoneImage, Bmp, Gif, Jpeg, Pcx, Png, Tga, Tiff };

// What the document takes from a reader's information call.
struct PictureInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits_per_pixel = 0;  // as passed to the allocation
};

struct PictureReader {
    const char* extension;  // with the dot, lower case: ".qap"
    PictureFormat format;
    // Null while the format's reader is not part of the library yet: the
    // extension is then answered like an unsupported one.
    ImgStatus (*info)(const char* path, PictureInfo* info);
    ImgStatus (*load)(const char* path, ImageDesc* image);
    // Phone images and BMP files set the document's size before allocating;
    // the other formats only once the allocation succeeded.
    bool size_before_allocation;
};

// The reader for an extension (dot included), compared without regard to case
// against ".qap", ".bmp", ".gif", ".jpg", ".pcx", ".png", ".tga", ".tif" in that
// order. Null when the extension is not one of them or its reader is missing.
const PictureReader* find_picture_reader(const std::string& extension);

// The eight extensions in table order, for file dialogs.
const char* const* picture_extensions(int* count);
