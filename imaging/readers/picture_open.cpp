#include "imaging/readers/picture_open.h"

#include <algorithm>

namespace imaging {

bool PictureOpen::picture_read() const {
    if (stage != OpenStage::kLoad) {
        return false;
    }
    // A load that ends with one of these refused the file (its argument checks,
    // its header, a phone image's document as a whole); with any other status
    // it stored what it read.
    switch (status) {
        case IMG_ERR_RANGE:
        case IMG_ERR_OPEN:
        case IMG_ERR_PARAM:
        case IMG_ERR_MEMORY:
        case IMG_ERR_BPP:
        case IMG_ERR_NOT_BMP:
        case IMG_ERR_NOT_GIF:
        case IMG_ERR_BAD_BUFFER:
        case IMG_ERR_XML_LOAD:
        case IMG_ERR_XML_ROOT:
            return false;
        default:
            return true;
    }
}

PictureOpen picture_open(const ReaderEntry& reader, const char* path, ImageDesc* image,
                         const OpenLimits& limits) {
    PictureOpen result;
    result.stage = OpenStage::kInfo;
    result.status = reader.info(path, &result.info);
    if (result.status != IMG_OK) {
        return result;
    }
    int32_t width = std::max(result.info.width, kMinimumPictureSide);
    int32_t height = std::max(result.info.height, kMinimumPictureSide);
    if (limits.max_pixels > 0 && int64_t{width} * height > limits.max_pixels &&
        (limits.allow_above_limit == nullptr ||
         !limits.allow_above_limit(result.info, limits.context))) {
        result.stage = OpenStage::kLimit;
        result.status = IMG_ERR_RANGE;
        return result;
    }
    if (limits.clip_above_pixels > 0 && int64_t{width} * height > limits.clip_above_pixels) {
        width = kMinimumPictureSide;
        height = kMinimumPictureSide;
    }
    image_free(image);
    result.stage = OpenStage::kAllocation;
    result.status = image_alloc(image, width, height, result.info.bits_per_pixel);
    if (result.status != IMG_OK) {
        return result;
    }
    if (limits.before_load != nullptr) {
        limits.before_load(image, limits.context);
    }
    result.stage = OpenStage::kLoad;
    result.status = reader.load(path, image);
    return result;
}

}  // namespace imaging
