// The viewer's front end of the phone-image reader: the shared reading steps
// with an image descriptor as the destination and failures returned as status
// codes.
//
// The finished image is 8 bits per pixel with a four-entry palette running
// from black to white, so a document value v (0 white .. 3 black) is stored as
// the index 3 - v. The descriptor's header, area of interest and rows always
// describe the allocated image: the document's Width and Height only say how
// the picture runs through the Data values (its row length) and how far it
// reaches, and the picture is clipped to what was allocated. The picture is
// laid once every child element has been read, so a Width that follows Data
// still gives the right row length.

#include "phoneimage/qap.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/readers/picture_open.h"
#include "phoneimage/phone_image_reader.h"

using namespace imaging;

namespace phoneimage {

namespace {

// The phone value v is stored as 3 - v, which for 0..3 is v XOR 3.
constexpr uint8_t kStoredFlip = 3;
constexpr uint8_t kStoredWhite = 3;

// The palette of a phone image, black to white (blue, green, red, 0).
constexpr PaletteEntry kPhonePalette[4] = {
    {0, 0, 0, 0}, {85, 85, 85, 0}, {170, 170, 170, 0}, {255, 255, 255, 0}};

// First 255 bytes of text, zero-filled after a shorter text and not
// terminated after a longer one.
void copy_phone_text(char (&field)[kPhoneTextBytes], std::string_view text) {
    const size_t count = std::min(text.size(), sizeof field);
    std::memcpy(field, text.data(), count);
    std::memset(field + count, 0, sizeof field - count);
}

class DescriptorDestination final : public ReadDestination {
  public:
    DescriptorDestination(ImageDesc& image, ReadMode mode) : image_(image), mode_(mode) {}

    void set_number(NumberField field, int32_t value) override {
        switch (field) {
            case NumberField::location_x:
                image_.location_x = value;
                break;
            case NumberField::location_y:
                image_.location_y = value;
                break;
            case NumberField::width:
                // The information read reports the size through its scratch
                // header; a loaded image keeps the size it was allocated with.
                if (mode_ == ReadMode::information) {
                    image_.header->biWidth = value;
                } else {
                    picture_width_ = value;
                }
                break;
            case NumberField::height:
                if (mode_ == ReadMode::information) {
                    image_.header->biHeight = value;
                } else {
                    picture_height_ = value;
                }
                break;
            case NumberField::depth:
                image_.depth = value;
                break;
        }
    }

    void set_text(TextField field, std::string_view text) override {
        copy_phone_text(field == TextField::title ? image_.title : image_.prompt, text);
    }

    void set_pixels(PixelData&& pixels) override { pixels_ = std::move(pixels); }

    void lay_pixels() const;

    // Whether the Data values end before the document's Width x Height
    // picture does (no Data at all included). Without a positive Width and
    // Height the document sets no size to fall short of.
    bool data_ends_early() const {
        return picture_width_ > 0 && picture_height_ > 0 &&
               pixels_.size() / static_cast<uint64_t>(picture_width_) <
                   static_cast<uint64_t>(picture_height_);
    }

  private:
    ImageDesc& image_;
    ReadMode mode_;
    int32_t picture_width_ = 0;   // the document's last Width (load mode)
    int32_t picture_height_ = 0;  // the document's last Height (load mode)
    PixelData pixels_;            // the last Data's values
};

// Whites the area of interest, clipped to the allocated image, then copies the
// picture into it from its top-left corner. The picture's row length is the
// document's Width, or the area's width when the document gives none; its
// height is the document's Height, or as many rows as the values fill.
void DescriptorDestination::lay_pixels() const {
    const BitmapInfoHeader& header = *image_.header;
    if (header.biWidth <= 0 || header.biHeight <= 0) {
        return;
    }
    const auto width = static_cast<uint32_t>(header.biWidth);
    const auto height = static_cast<uint32_t>(header.biHeight);
    // An 8-bit row has row_bytes bytes, at least the width once allocated.
    const uint32_t row_width = std::min(width, image_.row_bytes);
    const uint32_t left = std::min(image_.area_left, image_.area_right);
    const uint32_t top = std::min(image_.area_top, image_.area_bottom);
    if (left >= row_width || top >= height) {
        return;
    }
    const uint32_t right = std::min(std::max(image_.area_left, image_.area_right), row_width - 1);
    const uint32_t bottom = std::min(std::max(image_.area_top, image_.area_bottom), height - 1);
    const uint32_t columns = right - left + 1;  // 1 .. row_width - left
    const uint32_t rows = bottom - top + 1;     // 1 .. height - top

    for (uint32_t y = 0; y < rows; ++y) {
        std::memset(image_row(image_, top + y) + left, kStoredWhite, columns);
    }

    const uint64_t stride = picture_width_ > 0 ? static_cast<uint64_t>(picture_width_) : columns;
    const uint32_t picture_rows =
        picture_height_ > 0 ? std::min(rows, static_cast<uint32_t>(picture_height_)) : rows;
    const size_t picture_columns = static_cast<size_t>(std::min<uint64_t>(columns, stride));
    const uint64_t value_count = pixels_.size();
    for (uint32_t y = 0; y < picture_rows; ++y) {
        const uint64_t first = y * stride;  // below 2^31 * 2^31: no overflow
        if (first >= value_count) {
            break;  // the rest of the picture stays white
        }
        const auto count =
            static_cast<size_t>(std::min<uint64_t>(picture_columns, value_count - first));
        pixels_.copy_values(static_cast<size_t>(first), count, image_row(image_, top + y) + left,
                            kStoredFlip);
    }
}

// Whether the descriptor can take the document in this mode.
bool can_take(const ImageDesc* image, ReadMode mode) {
    if (image == nullptr || image->header == nullptr) {
        return false;
    }
    if (mode == ReadMode::load) {
        return image->pixels != nullptr && image->palette != nullptr &&
               image->header->biBitCount == 8;
    }
    return true;
}

// The colour information of a phone image: 8 bits per pixel, four colours,
// not gray; in load mode also the black-to-white palette.
void set_phone_colours(ImageDesc& image, ReadMode mode) {
    image.header->biBitCount = 8;
    image.color_count = 4;
    image.header->biClrUsed = 4;
    image.header->biClrImportant = 4;
    image.type_flags &= ~IMAGE_GRAY;
    if (mode == ReadMode::load) {
        std::copy(std::begin(kPhonePalette), std::end(kPhonePalette), image.palette);
        image_sync_palette(&image);
    }
}

}  // namespace

ImgStatus phone_image_read_document(const char* path, ImageDesc* image, int32_t mode) {
    const ReadMode read_mode = mode == kQapReadInformation ? ReadMode::information : ReadMode::load;
    if (!can_take(image, read_mode)) {
        return IMG_ERR_XML_NO_DEST;
    }
    if (path == nullptr) {
        return IMG_ERR_XML_LOAD;
    }
    try {
        DescriptorDestination destination(*image, read_mode);
        const StepResult result = read_file(path, destination, read_mode);
        // Once the root was accepted, the picture read so far is laid even when
        // a later element fails, like the attributes read before the failure,
        // and it gets its four-level palette: its rows hold indices 0..3, which
        // the allocation's gray ramp would show as all but black.
        if (read_mode == ReadMode::load && result.status != IMG_ERR_XML_LOAD &&
            result.status != IMG_ERR_XML_ROOT) {
            destination.lay_pixels();
            set_phone_colours(*image, read_mode);
        }
        if (!result.ok()) {
            return result.status;
        }
        // The rows the values reach are laid and the palette is set; the
        // picture is reported damaged all the same.
        if (read_mode == ReadMode::load && destination.data_ends_early()) {
            return IMG_ERR_LZW;
        }
    } catch (const std::bad_alloc&) {
        return IMG_ERR_MEMORY;
    } catch (...) {
        return IMG_ERR_XML_LOAD;  // the parser could not be set up
    }
    set_phone_colours(*image, read_mode);
    return IMG_OK;
}

ImgStatus qap_info(const char* path, QapInfo* info) {
    if (info == nullptr) {
        return IMG_ERR_XML_NO_DEST;
    }
    std::memset(info, 0, sizeof *info);
    // A scratch descriptor with a bare header: no colour table, no rows.
    std::unique_ptr<BitmapInfoHeader> header(new (std::nothrow) BitmapInfoHeader{});
    if (header == nullptr) {
        return IMG_ERR_MEMORY;
    }
    ImageDesc scratch{};
    scratch.header = header.get();
    // A document error is not reported here: the record stays zero and the
    // load reports it.
    if (phone_image_read_document(path, &scratch, kQapReadInformation) == IMG_OK) {
        info->location_x = scratch.location_x;
        info->location_y = scratch.location_y;
        info->depth = scratch.depth;
        info->width = header->biWidth;
        info->height = header->biHeight;
        std::memcpy(info->title, scratch.title, sizeof info->title);
        std::memcpy(info->prompt, scratch.prompt, sizeof info->prompt);
    }
    return IMG_OK;
}

ImgStatus qap_load(const char* path, ImageDesc* image) {
    return phone_image_read_document(path, image, kQapReadLoad);
}

namespace {

// The widest and tallest picture an 8-bit image takes whole (image_check
// lets its area reach column and row 32767).
constexpr int32_t kMaxPictureSide = 32768;

// What the load will lay: the document's last Width and Height and the
// number of values of its last Data, read from the whole document as the load
// reads it (Width and Height may follow Data).
class PictureSize final : public ReadDestination {
  public:
    void set_number(NumberField field, int32_t value) override {
        if (field == NumberField::width) {
            width = value;
        } else if (field == NumberField::height) {
            height = value;
        }
    }
    void set_text(TextField /*field*/, std::string_view /*text*/) override {}
    void set_pixels(PixelData&& pixels) override { values = pixels.size(); }

    // The document's Height, lowered to the rows the values reach. Rows run
    // Width values long; without a Width the load lays them as wide as the
    // narrowest picture it allocates.
    int32_t rows_filled() const {
        if (height <= 0) {
            return height;
        }
        const uint64_t stride = width > 0 ? static_cast<uint64_t>(width)
                                          : static_cast<uint64_t>(imaging::kMinimumPictureSide);
        const uint64_t rows = (values + stride - 1) / stride;
        return static_cast<int32_t>(std::min<uint64_t>(rows, static_cast<uint64_t>(height)));
    }

    int32_t width = 0;
    int32_t height = 0;
    uint64_t values = 0;
};

}  // namespace

ImgStatus qap_picture_info(const char* path, imaging::PictureInfo* info) {
    PictureSize size;
    ImgStatus read_status = IMG_OK;
    try {
        read_status = read_file(path, size, ReadMode::load).status;
    } catch (const std::bad_alloc&) {
        return IMG_ERR_MEMORY;
    } catch (...) {
        read_status = IMG_ERR_XML_LOAD;  // the parser could not be set up: the load says so
    }
    const bool too_large = size.width > kMaxPictureSide || size.height > kMaxPictureSide;
    if (read_status == IMG_ERR_XML_LOAD || read_status == IMG_ERR_XML_ROOT ||
        (read_status != IMG_OK && too_large)) {
        size = PictureSize{};  // the load reports the document's error
    } else if (too_large) {
        return IMG_ERR_RANGE;
    }
    info->width = size.width;
    info->height = size.rows_filled();
    info->bits_per_pixel = 4;  // four gray levels, held one per byte
    return IMG_OK;
}

}  // namespace phoneimage
