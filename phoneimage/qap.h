// Loading phone-image documents (.qap) into image descriptors, for the viewer.
#pragma once

#include <cstdint>

#include "imaging/image.h"
#include "imaging/readers/reader_table.h"

namespace phoneimage {

// The information record: the document's attributes, read without its pixels.
struct QapInfo {
    int32_t location_x;
    int32_t location_y;
    int32_t width;
    int32_t height;
    int32_t depth;
    char title[imaging::kPhoneTextBytes];  // first 255 bytes, not terminated when longer
    char prompt[imaging::kPhoneTextBytes];
};

// Fills info from the document. A document that does not parse or breaks a
// rule leaves info zeroed and still returns 0 (qap_load reports the error);
// the only failure is IMG_ERR_MEMORY.
imaging::ImgStatus qap_info(const char* path, QapInfo* info);

// Fills an allocated descriptor (8 bits per pixel, at least 16 x 16) with the
// document's pixels, attributes and its four-entry black-to-white palette.
// Returns 0, a code from IMG_ERR_XML_LOAD to IMG_ERR_XML_UNKNOWN, or
// IMG_ERR_LZW when Data ends before Width x Height pixels (the rows it reaches
// are laid and the palette set all the same).
imaging::ImgStatus qap_load(const char* path, imaging::ImageDesc* image);

// The size to open a document at: its Width, and its Height lowered to the
// rows its Data reaches, so that a document declaring a huge picture with
// little Data gets no more memory than its values fill (the load then reports
// IMG_ERR_LZW). A document whose Width or Height no image can take is refused
// with IMG_ERR_RANGE before anything is allocated for it; one that does not
// parse or breaks a rule gets no size (0 x 0), and the load reports its error.
// The bits per pixel are 4: four gray levels, held one per byte.
imaging::ImgStatus qap_picture_info(const char* path, imaging::PictureInfo* info);

// Reading modes of phone_image_read_document.
inline constexpr int32_t kQapReadInformation = 0;  // attributes only; stops before Data
inline constexpr int32_t kQapReadLoad = 1;         // attributes, pixels and palette

// Reads the document into image: the attributes into location_x, location_y,
// depth, title and prompt; in information mode Width and Height into the
// header; in load mode the pixels into the allocated 8-bit rows, each value v
// stored as the index 3 - v, and the palette black, 85, 170, white. In load
// mode the header keeps the allocated size: the picture is laid into the area
// of interest from its top-left corner with the document's Width as its row
// length and clipped to the allocated rows, and pixels the picture does not
// cover are white. Returns 0, IMG_ERR_XML_NO_DEST when image cannot take the
// document (null, no header, or in load mode no 8-bit rows), a code from
// IMG_ERR_XML_LOAD to IMG_ERR_XML_UNKNOWN, IMG_ERR_LZW (load mode) when Data
// ends early, or IMG_ERR_MEMORY. A document over 64 MiB is refused with
// IMG_ERR_XML_LOAD before it is read. What was read before a failure stays
// in image.
imaging::ImgStatus phone_image_read_document(const char* path, imaging::ImageDesc* image,
                                             int32_t mode);

}  // namespace phoneimage
