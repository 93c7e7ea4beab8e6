// Building phone-image documents in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace phone_document {

// Data text for pixel values 0..3: four values per byte, the first in the low
// bit pair, two digits per byte, a line feed after every line_digits digits.
inline std::string hex_data(const std::vector<uint8_t>& values, size_t line_digits = 64) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    size_t digits = 0;
    for (size_t i = 0; i < values.size(); i += 4) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 4 && i + j < values.size(); ++j) {
            byte |= static_cast<uint8_t>((values[i + j] & 3) << (2 * j));
        }
        for (char digit : {kDigits[byte >> 4], kDigits[byte & 15]}) {
            if (line_digits != 0 && digits != 0 && digits % line_digits == 0) {
                text += '\n';
            }
            text += digit;
            ++digits;
        }
    }
    return text;
}

// A document whose root holds the given children.
inline std::string document(std::string_view children) {
    return "<TarvoIPPhoneImage>" + std::string(children) + "</TarvoIPPhoneImage>";
}

// A complete document of width x height pixels.
inline std::string image_document(int32_t width, int32_t height, int32_t depth,
                                  const std::vector<uint8_t>& values,
                                  std::string_view title = "Title",
                                  std::string_view prompt = "Prompt") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TarvoIPPhoneImage>\n<Title>" +
           std::string(title) + "</Title>\n<Prompt>" + std::string(prompt) +
           "</Prompt>\n<LocationX>0</LocationX>\n<LocationY>0</LocationY>\n<Width>" +
           std::to_string(width) + "</Width>\n<Height>" + std::to_string(height) +
           "</Height>\n<Depth>" + std::to_string(depth) + "</Depth>\n<Data>\n" + hex_data(values) +
           "\n</Data>\n</TarvoIPPhoneImage>\n";
}

}  // namespace phone_document
