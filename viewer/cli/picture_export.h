// Writing a document's picture to a file: binary PPM, Windows bitmap, or a
// phone-image document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"

using imaging::ImageDesc;

// The phone-image attributes written into a .qap file (kept from a phone-image
// source; zero and empty otherwise).
struct PhoneAttributes {
    int32_t location_x = 0;
    int32_t location_y = 0;
    std::string title;
    std::string prompt;
};

// The attributes a phone-image reader left in a descriptor.
PhoneAttributes phone_attributes_of(const ImageDesc& image);

// The whole picture of an allocated descriptor, encoded.
std::vector<uint8_t> encode_ppm(const ImageDesc& image);
std::vector<uint8_t> encode_bmp(const ImageDesc& image);
std::string encode_phone_image(const ImageDesc& image, const PhoneAttributes& attributes);

// Writes bytes to a temporary file beside `path` and renames it into place once
// complete, so `path` is never left truncated. Returns an empty string on
// success, else a description of the failure.
std::string write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes);
