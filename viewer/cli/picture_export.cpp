#include "picture_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace imaging;

namespace {

struct Rgb {
    uint8_t red, green, blue;
};

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

// Colour of pixel (x, y) of an allocated picture of 1, 8, 16 or 24 bits: palette
// pictures through their colour table, 16-bit gray by the sample's high byte.
Rgb pixel_rgb(const ImageDesc& image, uint32_t x, uint32_t y) {
    const uint8_t* row = image_row(image, y);
    switch (image_bits(image)) {
        case 1: {
            const int index = (row[x / 8] >> (7 - x % 8)) & 1;
            const PaletteEntry& entry = image.palette[index];
            return {entry.red, entry.green, entry.blue};
        }
        case 8: {
            const PaletteEntry& entry = image.palette[row[x]];
            return {entry.red, entry.green, entry.blue};
        }
        case 16: {
            const uint8_t gray = row[2 * x + 1];
            return {gray, gray, gray};
        }
        default:
            return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    }
}

void put_u16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    put_u16(out, v & 0xFFFF);
    put_u16(out, v >> 16);
}

// Phone-image value of a colour: its gray level mapped to the nearest of the
// four levels 255, 170, 85, 0 (values 0 white .. 3 black).
uint8_t phone_value(Rgb c) {
    const unsigned gray = (30u * c.red + 59u * c.green + 11u * c.blue) / 100u;
    if (gray > 212)
        return 0;
    if (gray > 127)
        return 1;
    if (gray > 42)
        return 2;
    return 3;
}

// Keeps the text writable as XML character data: whole, valid UTF-8 sequences
// of characters XML allows (a title cut to 255 bytes may end inside one),
// with the markup characters escaped.
std::string xml_text(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!valid) {
            ++i;  // a stray or cut byte: dropped
            continue;
        }
        if (length == 1) {
            const char c = text[i];
            if (c == '&')
                out += "&amp;";
            else if (c == '<')
                out += "&lt;";
            else if (c == '>')
                out += "&gt;";
            else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

std::string terminated_field(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != '\0') {
        ++n;
    }
    return std::string(field, n);
}

bool is_blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

bool export_format_for_path(const std::string& path, ExportFormat* format) {
    if (ends_with_ignoring_case(path, ".ppm")) {
        *format = ExportFormat::Ppm;
    } else if (ends_with_ignoring_case(path, ".bmp")) {
        *format = ExportFormat::Bmp;
    } else if (ends_with_ignoring_case(path, ".qap")) {
        *format = ExportFormat::PhoneImage;
    } else {
        return false;
    }
    return true;
}

PhoneAttributes phone_attributes_of(const ImageDesc& image) {
    PhoneAttributes attributes;
    attributes.location_x = image.location_x;
    attributes.location_y = image.location_y;
    attributes.title = terminated_field(image.title, sizeof image.title);
    attributes.prompt = terminated_field(image.prompt, sizeof image.prompt);
    return attributes;
}

std::vector<uint8_t> encode_ppm(const ImageDesc& image) {
    const auto width = static_cast<uint32_t>(image_width(image));
    const auto height = static_cast<uint32_t>(image_height(image));
    const std::string head =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> out(head.size() + size_t{width} * height * 3);
    uint8_t* p = std::copy(head.begin(), head.end(), out.begin()).base();
    for (uint32_t y = 0; y < height; ++y) {
        if (image_bits(image) == 24) {
            // Blue, green, red reversed, a row at a time.
            const uint8_t* row = image_row(image, y);
            for (uint32_t x = 0; x < width; ++x, p += 3, row += 3) {
                p[0] = row[2];
                p[1] = row[1];
                p[2] = row[0];
            }
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            const Rgb c = pixel_rgb(image, x, y);
            p[0] = c.red;
            p[1] = c.green;
            p[2] = c.blue;
        }
    }
    return out;
}

std::vector<uint8_t> encode_bmp(const ImageDesc& image) {
    const auto width = static_cast<uint32_t>(image_width(image));
    const auto height = static_cast<uint32_t>(image_height(image));
    const int bits = image_bits(image);
    const int out_bits = bits == 16 ? 8 : bits;  // 16-bit gray is written as 8-bit gray
    const uint32_t colors = out_bits == 24 ? 0
                            : bits == 16   ? 256
                                           : static_cast<uint32_t>(image.color_count);
    const uint32_t row_size = ((width * out_bits + 31) / 32) * 4;
    const uint32_t data_offset = 14 + 40 + 4 * colors;
    const uint32_t image_size = row_size * height;

    std::vector<uint8_t> out;
    out.reserve(data_offset + image_size);
    out.push_back('B');
    out.push_back('M');
    put_u32(out, data_offset + image_size);
    put_u32(out, 0);
    put_u32(out, data_offset);
    put_u32(out, 40);
    put_u32(out, width);
    put_u32(out, height);
    put_u16(out, 1);
    put_u16(out, static_cast<uint32_t>(out_bits));
    put_u32(out, 0);
    put_u32(out, image_size);
    put_u32(out, 0);
    put_u32(out, 0);
    put_u32(out, colors);
    put_u32(out, colors);
    for (uint32_t i = 0; i < colors; ++i) {
        const PaletteEntry entry =
            bits == 16 ? PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0} : image.palette[i];
        out.insert(out.end(), {entry.blue, entry.green, entry.red, 0});
    }
    // Bitmap files keep their rows bottom-up, like the descriptor.
    for (uint32_t stored = 0; stored < height; ++stored) {
        const uint8_t* row = image_row(image, height - 1 - stored);
        const size_t start = out.size();
        if (bits == 16) {
            for (uint32_t x = 0; x < width; ++x) {
                out.push_back(row[2 * x + 1]);
            }
        } else {
            const uint32_t used = (width * static_cast<uint32_t>(bits) + 7) / 8;
            out.insert(out.end(), row, row + used);
        }
        out.resize(start + row_size, 0);
    }
    return out;
}

std::string encode_phone_image(const ImageDesc& image, const PhoneAttributes& attributes) {
    const auto width = static_cast<uint32_t>(image_width(image));
    const auto height = static_cast<uint32_t>(image_height(image));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TarvoIPPhoneImage>\n";
    // An element must carry text: empty (or blank) titles and prompts are left out.
    const std::string title = xml_text(attributes.title);
    const std::string prompt = xml_text(attributes.prompt);
    if (!is_blank(title)) {
        out += "<Title>" + title + "</Title>\n";
    }
    if (!is_blank(prompt)) {
        out += "<Prompt>" + prompt + "</Prompt>\n";
    }
    out += "<LocationX>" + std::to_string(attributes.location_x) + "</LocationX>\n";
    out += "<LocationY>" + std::to_string(attributes.location_y) + "</LocationY>\n";
    out += "<Width>" + std::to_string(width) + "</Width>\n";
    out += "<Height>" + std::to_string(height) + "</Height>\n";
    out += "<Depth>2</Depth>\n<Data>";

    // Four pixels per byte, the first in the lowest two bits; two hex digits per
    // byte, high digit first; lines of at most 64 digits.
    static constexpr char kHex[] = "0123456789ABCDEF";
    const uint64_t pixels = uint64_t{width} * height;
    uint8_t byte = 0;
    int digits_on_line = 0;
    for (uint64_t i = 0; i < pixels; ++i) {
        const auto x = static_cast<uint32_t>(i % width);
        const auto y = static_cast<uint32_t>(i / width);
        byte |= static_cast<uint8_t>(phone_value(pixel_rgb(image, x, y)) << (2 * (i % 4)));
        if (i % 4 == 3 || i + 1 == pixels) {
            if (digits_on_line == 64) {
                out += '\n';
                digits_on_line = 0;
            }
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
            digits_on_line += 2;
            byte = 0;
        }
    }
    out += "</Data>\n</TarvoIPPhoneImage>\n";
    return out;
}

std::string write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return "cannot create a file beside " + path + ": " + std::strerror(errno);
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    int error = 0;
    size_t done = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno != EINTR)
                error = errno;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (error == 0 && fsync(fd) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temp.c_str());
        return "cannot write " + path + ": " + std::strerror(error);
    }
    return std::string();
}
