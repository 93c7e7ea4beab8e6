// Export over the command-line tool's encoders.
#include "picture_writer.h"

#include <cstring>

#include "picture_export.h"

namespace {

bool ends_with_ignoring_case(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (text.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool export_format_for_path(const std::string& path, ExportFormat* format) {
    if (ends_with_ignoring_case(path, ".ppm")) {
        *format = ExportFormat::Ppm;
    } else if (ends_with_ignoring_case(path, ".bmp")) {
        *format = ExportFormat::Bmp;
    } else if (ends_with_ignoring_case(path, ".qap")) {
        *format = ExportFormat::PhoneImage;
    } else if (ends_with_ignoring_case(path, ".png")) {
        *format = ExportFormat::Png;
    } else {
        return false;
    }
    return true;
}

std::string export_picture(const imaging::ImageDesc& image, const std::string& path,
                           ExportFormat format) {
    std::vector<uint8_t> bytes;
    switch (format) {
        case ExportFormat::Ppm:
            bytes = encode_ppm(image);
            break;
        case ExportFormat::Bmp:
            bytes = encode_bmp(image);
            break;
        case ExportFormat::PhoneImage: {
            const std::string text = encode_phone_image(image, phone_attributes_of(image));
            bytes.assign(text.begin(), text.end());
            break;
        }
        case ExportFormat::Png:
            return "PNG output is not available";
    }
    return write_file_atomically(path, bytes);
}
