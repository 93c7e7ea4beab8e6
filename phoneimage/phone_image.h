// The converter's front end of the phone-image reader: the document is read
// into a PhoneImage record, and every failure is thrown as its message text, a
// fixed message as `const char*` and a composed one as `std::string`. When the
// parser itself cannot be created, xml::DomError is thrown instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "phoneimage/xml_dom.h"

namespace phoneimage {

// The converter's record of one phone-image document.
struct PhoneImage {
    int32_t location_x = 0;
    int32_t location_y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    std::string title;
    std::string prompt;
    std::vector<uint8_t> pixel_values;  // each 0 (white) .. 3 (black), row by row
};

// Reads the file at path into image. Title, prompt and pixels are emptied
// first; the numbers keep their values unless the document sets them.
void phone_image_load(PhoneImage& image, const std::string& path);

// The same for a document already parsed (from memory, for example).
void phone_image_load_document(PhoneImage& image, const xml::Document& document);

// The single steps, each throwing on failure.
void phone_image_check_root(const xml::NodeList* top_level);
void phone_image_read_element(PhoneImage& image, const xml::Node* node);
int32_t phone_image_parse_number(std::string_view name, std::string_view text);
void phone_image_decode_data(PhoneImage& image, std::string_view text);

}  // namespace phoneimage
