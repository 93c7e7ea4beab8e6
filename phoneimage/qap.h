// Loading phone-image documents (.qap) into image descriptors, for the viewer.
#pragma once

#include <cstdint>

#include "image.h"

// The information record: the document's attributes, read without its pixels.
struct QapInfo {
    int32_t location_x;
    int32_t location_y;
    int32_t width;
    int32_t height;
    int32_t depth;
    char title[kPhoneTextBytes];   // first 255 bytes, not terminated when longer
    char prompt[kPhoneTextBytes];
};

// Fills info from the document. A document that does not parse or breaks a
// rule leaves info zeroed and still returns 0 (qap_load reports the error);
// the only failure is IMG_ERR_MEMORY.
ImgStatus qap_info(const char* path, QapInfo* info);

// Fills an allocated descriptor (8 bits per pixel, at least 16 x 16) with the
// document's pixels, attributes and its four-entry black-to-white palette.
// Returns 0 or a code from IMG_ERR_XML_LOAD to IMG_ERR_XML_UNKNOWN.
ImgStatus qap_load(const char* path, ImageDesc* image);
