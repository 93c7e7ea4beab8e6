#include "imaging/readers/picture_open.h"

#include <algorithm>

namespace imaging {

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
