// Ownership of one image descriptor.
//
// An ImageHolder owns the storage of its descriptor and frees it when it goes
// away. take_over() is the one way a finished picture changes hands: the old
// picture is freed, the record of the other holder is copied in (the storage is
// shared, not duplicated) and the other holder is left empty, so exactly one
// owner ever frees each block. The phone-image attributes (screen location,
// depth, title and prompt) stay: a conversion changes the pixels of a picture,
// not where on the phone it goes, so an export after it writes them again.
#pragma once

#include <cstring>

#include "imaging/image.h"

using imaging::ImageDesc;

class ImageHolder {
  public:
    ImageHolder() { imaging::image_zero(&image_); }
    ~ImageHolder() { imaging::image_free(&image_); }
    ImageHolder(const ImageHolder&) = delete;
    ImageHolder& operator=(const ImageHolder&) = delete;

    ImageDesc* get() { return &image_; }
    const ImageDesc& desc() const { return image_; }

    // Frees this holder's picture and takes the other's over.
    void take_over(ImageHolder& other) {
        ImageDesc attributes;
        imaging::image_copy_desc(&image_, &attributes);
        imaging::image_free(&image_);
        imaging::image_copy_desc(&other.image_, &image_);
        imaging::image_zero(&other.image_);
        image_.location_x = attributes.location_x;
        image_.location_y = attributes.location_y;
        image_.depth = attributes.depth;
        std::memcpy(image_.title, attributes.title, sizeof image_.title);
        std::memcpy(image_.prompt, attributes.prompt, sizeof image_.prompt);
    }

    void reset() { imaging::image_free(&image_); }

  private:
    ImageDesc image_;
};
