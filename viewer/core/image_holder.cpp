#include "viewer/core/image_holder.h"

using namespace imaging;

namespace viewer {

namespace {

// The storage block runs from the header to the end of the rows (image.h).
size_t block_bytes(const ImageDesc& image) {
    if (image.header == nullptr) {
        return 0;
    }
    const auto* block = reinterpret_cast<const uint8_t*>(image.header);
    const auto head = static_cast<size_t>(image.pixels - block);
    return head + size_t{image.row_bytes} * static_cast<size_t>(image_height(image));
}

}  // namespace

size_t ImageHolder::storage_bytes() const {
    return block_bytes(image_);
}

ImgStatus ImageHolder::copy_from(const ImageDesc& source) {
    reset();
    if (source.header == nullptr) {
        return IMG_OK;  // an empty picture copies as an empty one
    }
    const ImgStatus status =
        image_alloc(&image_, image_width(source), image_height(source), image_bits(source));
    if (status != IMG_OK) {
        reset();
        return status;
    }
    if (block_bytes(image_) != block_bytes(source)) {
        reset();  // not a block image_alloc made: nothing to copy it by
        return IMG_ERR_RANGE;
    }
    // The same size and depth give the same block layout: header, colour
    // table and rows copy as one block; then the record's own fields, with
    // this holder's pointers.
    std::memcpy(image_.header, source.header, block_bytes(source));
    ImageDesc copy;
    image_copy_desc(&source, &copy);
    copy.header = image_.header;
    copy.palette = image_.palette;
    copy.pixels = image_.pixels;
    copy.section_bitmap = nullptr;
    image_copy_desc(&copy, &image_);
    return IMG_OK;
}

}  // namespace viewer
