// Opening a picture file as the viewer does: the reader's information call,
// the pixel limit, the allocation (each side raised to at least 16 pixels),
// then the load. The
// viewer's document, the fuzz targets and the tests all open pictures through
// this one function.
#pragma once

#include <cstdint>

#include "imaging/image.h"
#include "imaging/readers/reader_table.h"

namespace imaging {

// The least width and height of an opened picture.
inline constexpr int32_t kMinimumPictureSide = 16;

// How far an open got.
enum class OpenStage {
    kNotOpened,    // nothing was opened (a new picture)
    kUnsupported,  // no reader takes the file
    kInfo,         // the information call failed
    kLimit,        // the picture is above the pixel limit and was not let in
    kAllocation,   // the picture could not be allocated
    kLoad,         // the load call ran; the status is its result
};

struct PictureOpen {
    OpenStage stage = OpenStage::kNotOpened;
    ImgStatus status = IMG_OK;  // of the last step that ran
    PictureInfo info;           // what the information call gave

    // Whether the picture holds what was read of the file: the load ran and
    // succeeded, or failed part way through the data (damaged, cut short, an
    // element the document may not hold). False when the file could not be
    // opened, recognised or taken at all: a missing or unparsable phone image,
    // for example, whose load ran on a picture with nothing of the file in it.
    bool picture_read() const;
};

struct OpenLimits {
    // Pictures of more pixels than this (0: no limit) are loaded into a 16 x 16
    // image instead, which still runs the whole header parse and a clipped
    // pixel pass. Fuzz targets use it to stay fast.
    int64_t clip_above_pixels = 0;
    // Pictures of more pixels than this (0: no limit) are opened only when
    // allow_above_limit, called with `context`, lets them in; otherwise the
    // open stops with IMG_ERR_RANGE at kLimit, before anything is allocated
    // and with the image as it was.
    int64_t max_pixels = 0;
    bool (*allow_above_limit)(const PictureInfo& info, const void* context) = nullptr;
    // Called between the allocation and the load when set, with `context`
    // (tests and fuzz targets use it to choose a smaller area of interest).
    void (*before_load)(ImageDesc* image, const void* context) = nullptr;
    const void* context = nullptr;
};

// Opens path with the reader into image (zeroed, or holding a picture). The
// picture the image held is kept when the information call fails and freed
// once it succeeds. After a failed allocation the image is empty; after the
// load it holds what the reader stored, also when the load failed part way.
PictureOpen picture_open(const ReaderEntry& reader, const char* path, ImageDesc* image,
                         const OpenLimits& limits = {});

}  // namespace imaging
