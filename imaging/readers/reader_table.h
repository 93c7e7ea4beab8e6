// The table of raster readers: one entry per file format, from which every list
// of formats is derived (the viewer's extension dispatch and Open dialog
// filters, the desktop entry's MIME types, pelora-cli's format list) and whose
// cleanup hooks library_shutdown runs. Adding a reader is one entry in
// reader_table.cpp plus the reader's own files.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/image.h"

namespace imaging {

enum class PictureFormat { None, PhoneImage, Bmp, Gif, Jpeg, Pcx, Png, Tga, Tiff };

// What opening a picture takes from a reader's information call.
struct PictureInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits_per_pixel = 0;  // as passed to the allocation
};

struct ReaderEntry {
    const char* extension;  // with the dot, lower case: ".bmp"
    PictureFormat format;
    const char* name;       // for file dialogs: "BMP"
    const char* mime_type;  // for the desktop entry: "image/bmp"
    ImgStatus (*info)(const char* path, PictureInfo* info);
    ImgStatus (*load)(const char* path, ImageDesc* image);
    void (*cleanup)();  // deletes the reader's lock; null when it keeps none
    // Phone images and BMP files set the document's size before allocating;
    // the other formats only once the allocation succeeded.
    bool size_before_allocation;
};

// The raster readers of the library, in the order .bmp, .gif, .jpg, .pcx,
// .png, .tga, .tif (those that are built).
std::span<const ReaderEntry> raster_readers();

}  // namespace imaging
