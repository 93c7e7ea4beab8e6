// Ownership of one image descriptor.
//
// An ImageHolder owns the storage of its descriptor and frees it when it goes
// away. take_over() is the one way a finished picture changes hands: the old
// picture is freed (or handed to the caller, who keeps it to undo the change),
// the record of the other holder is copied in (the storage is shared, not
// duplicated) and the other holder is left empty, so exactly one owner ever
// frees each block. The phone-image attributes (screen location,
// depth, title and prompt) stay: a conversion changes the pixels of a picture,
// not where on the phone it goes, so an export after it writes them again.
#pragma once

#include <cstddef>
#include <cstring>

#include "imaging/image.h"

namespace viewer {

class ImageHolder {
  public:
    ImageHolder() { imaging::image_zero(&image_); }
    ~ImageHolder() { imaging::image_free(&image_); }
    ImageHolder(const ImageHolder&) = delete;
    ImageHolder& operator=(const ImageHolder&) = delete;

    imaging::ImageDesc* get() { return &image_; }
    const imaging::ImageDesc& desc() const { return image_; }

    // Takes the other's picture over, leaving the other holder empty; this
    // holder's old picture goes to `previous`.
    void take_over(ImageHolder& other, ImageHolder& previous) {
        previous.reset();
        previous.swap(*this);
        swap(other);
        const imaging::ImageDesc& attributes = previous.image_;
        image_.location_x = attributes.location_x;
        image_.location_y = attributes.location_y;
        image_.depth = attributes.depth;
        std::memcpy(image_.title, attributes.title, sizeof image_.title);
        std::memcpy(image_.prompt, attributes.prompt, sizeof image_.prompt);
    }

    // Frees this holder's picture and takes the other's over.
    void take_over(ImageHolder& other) {
        ImageHolder previous;
        take_over(other, previous);
    }

    void reset() { imaging::image_free(&image_); }

    bool empty() const { return image_.header == nullptr; }

    // Exchanges the two pictures, attributes and all.
    void swap(ImageHolder& other) {
        imaging::ImageDesc mine;
        imaging::image_copy_desc(&image_, &mine);
        imaging::image_copy_desc(&other.image_, &image_);
        imaging::image_copy_desc(&mine, &other.image_);
    }

    // Replaces this holder's picture by a copy of `source` with storage of its
    // own. IMG_ERR_MEMORY (and an empty holder) when there is no room for it.
    imaging::ImgStatus copy_from(const imaging::ImageDesc& source);

    // Bytes of the picture's storage block (0 when empty).
    size_t storage_bytes() const;

  private:
    imaging::ImageDesc image_;
};

}  // namespace viewer
