// The picture writers: each streams the rows of an allocated picture (1, 8,
// 16 or 24 bits per pixel) through one row buffer into an output file.

#include "viewer/core/picture_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include "imaging/simd/byte_rows.h"
#include "output/output_file.h"
#include "viewer/core/png_encoder.h"

using namespace imaging;

namespace viewer {

using output::OutputFile;

namespace {

// Bytes the phone-image writer collects before handing them to the file.
constexpr size_t kTextFlushBytes = size_t{1} << 16;
// Bytes of converted rows the PPM writer hands to the file at once: large
// writes pass the stream's buffer by and cost one system call each.
constexpr size_t kPpmBlockBytes = size_t{1} << 20;

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

// The picture's size, fixed for one write. Width and height are positive
// once picture_problem() passed.
struct Geometry {
    uint32_t width;
    uint32_t height;
    int bits;  // 1, 8, 16 or 24
};

Geometry geometry_of(const ImageDesc& image) {
    return {static_cast<uint32_t>(image_width(image)), static_cast<uint32_t>(image_height(image)),
            image_bits(image)};
}

// Why the descriptor cannot be written, or null.
const char* picture_problem(const ImageDesc& image) {
    if (image.header == nullptr || image.pixels == nullptr) {
        return "the picture is empty";
    }
    const int bits = image_bits(image);
    if (bits != 1 && bits != 8 && bits != 16 && bits != 24) {
        return "the picture's depth cannot be written";
    }
    if (image_width(image) <= 0 || image_height(image) <= 0) {
        return "the picture has no pixels";
    }
    if ((bits == 1 || bits == 8) && image.palette == nullptr) {
        return "the picture has no colour table";
    }
    return nullptr;
}

// Picture row y (0 = top) as red, green, blue bytes: palette pictures through
// their colour table, 16-bit gray by each sample's high byte.
void row_to_rgb(const ImageDesc& image, const Geometry& g, uint32_t y, uint8_t* out) {
    const uint8_t* row = image_row(image, y);
    switch (g.bits) {
        case 1:
            for (uint32_t x = 0; x < g.width; ++x) {
                const PaletteEntry& e = image.palette[(row[x / 8] >> (7 - x % 8)) & 1];
                out[3 * x] = e.red;
                out[3 * x + 1] = e.green;
                out[3 * x + 2] = e.blue;
            }
            break;
        case 8:
            for (uint32_t x = 0; x < g.width; ++x) {
                const PaletteEntry& e = image.palette[row[x]];
                out[3 * x] = e.red;
                out[3 * x + 1] = e.green;
                out[3 * x + 2] = e.blue;
            }
            break;
        case 16:
            for (uint32_t x = 0; x < g.width; ++x) {
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = row[2 * x + 1];
            }
            break;
        default:
            imaging::simd::byte_row_kernels().swap_outer_bytes(row, out, g.width);
            break;
    }
}

// Colour-table entries a palette picture needs: those in use by its colour
// count, raised to cover the highest index its pixels hold (a file whose
// pixels point past its table is refused by other readers). At least 1.
uint32_t palette_needed(const ImageDesc& image, const Geometry& g) {
    uint32_t needed = static_cast<uint32_t>(std::max(palette_entries(image), 1));
    if (g.bits == 1) {
        return 2;  // either index may occur; two entries cost nothing
    }
    uint8_t highest = 0;
    for (uint32_t y = 0; y < g.height && highest < 255; ++y) {
        const uint8_t* row = image_row(image, y);
        highest = std::max(highest, *std::max_element(row, row + g.width));
    }
    return std::max(needed, uint32_t{highest} + 1);
}

// ---- PPM ----

int write_ppm(const ImageDesc& image, OutputFile& file, ExportProgress& progress) {
    const Geometry g = geometry_of(image);
    const std::string head =
        "P6\n" + std::to_string(g.width) + " " + std::to_string(g.height) + "\n255\n";
    file.write(head.data(), head.size());
    // Rows are converted into one block of about kPpmBlockBytes (at least a
    // row), which goes to the file in one write.
    const size_t row_size = size_t{g.width} * 3;
    const uint32_t block_rows =
        static_cast<uint32_t>(std::clamp<size_t>(kPpmBlockBytes / row_size, 1, g.height));
    std::vector<uint8_t> block(row_size * block_rows);
    for (uint32_t y = 0; y < g.height && file.error() == 0;) {
        const uint32_t rows = std::min(block_rows, g.height - y);
        if (!progress.advance(y)) {
            return ECANCELED;
        }
        for (uint32_t k = 0; k < rows; ++k) {
            row_to_rgb(image, g, y + k, block.data() + row_size * k);
        }
        file.write(block.data(), row_size * rows);
        y += rows;
    }
    return file.error();
}

// ---- BMP ----

void put_u16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_u32(uint8_t* p, uint32_t v) {
    put_u16(p, v & 0xFFFF);
    put_u16(p + 2, v >> 16);
}

// File header and 40-byte information header, then the colour table, then
// the rows bottom-up, each padded to a multiple of 4 bytes.
int write_bmp(const ImageDesc& image, OutputFile& file, ExportProgress& progress) {
    const Geometry g = geometry_of(image);
    const int out_bits = g.bits == 16 ? 8 : g.bits;  // 16-bit gray is written as 8-bit gray
    const uint32_t colors = out_bits == 24 ? 0 : g.bits == 16 ? 256 : palette_needed(image, g);
    // An allocated picture's block is below 2 GiB, so these sizes fit.
    const uint32_t row_size = static_cast<uint32_t>(((uint64_t{g.width} * out_bits + 31) / 32) * 4);
    const uint32_t data_offset = 14 + 40 + 4 * colors;
    const uint32_t image_size = static_cast<uint32_t>(uint64_t{row_size} * g.height);

    uint8_t head[54] = {'B', 'M'};
    put_u32(head + 2, data_offset + image_size);
    put_u32(head + 10, data_offset);
    put_u32(head + 14, 40);
    put_u32(head + 18, g.width);
    put_u32(head + 22, g.height);
    put_u16(head + 26, 1);
    put_u16(head + 28, static_cast<uint32_t>(out_bits));
    put_u32(head + 34, image_size);
    put_u32(head + 46, colors);
    put_u32(head + 50, colors);
    file.write(head, sizeof head);
    for (uint32_t i = 0; i < colors; ++i) {
        const PaletteEntry e =
            g.bits == 16 ? PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0} : image.palette[i];
        const uint8_t entry[4] = {e.blue, e.green, e.red, 0};
        file.write(entry, sizeof entry);
    }

    std::vector<uint8_t> row(row_size, 0);  // the padding stays zero
    const size_t used = (size_t{g.width} * out_bits + 7) / 8;
    for (uint32_t stored = 0; stored < g.height && file.error() == 0; ++stored) {
        if (!progress.advance(stored)) {
            return ECANCELED;
        }
        const uint8_t* source = image_row(image, g.height - 1 - stored);
        if (g.bits == 16) {
            for (uint32_t x = 0; x < g.width; ++x) {
                row[x] = source[2 * x + 1];
            }
        } else {
            std::memcpy(row.data(), source, used);
        }
        file.write(row.data(), row.size());
    }
    return file.error();
}

// ---- Phone image ----

// Phone-image value of a colour: its gray level mapped to the nearest of the
// four levels 255, 170, 85, 0 (values 0 white .. 3 black).
uint8_t phone_value(const uint8_t* rgb) {
    const unsigned gray = (30u * rgb[0] + 59u * rgb[1] + 11u * rgb[2]) / 100u;
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

// A title or prompt field: up to its first zero byte, at most its 255 bytes.
std::string field_text(const char (&field)[kPhoneTextBytes]) {
    return std::string(field, strnlen(field, sizeof field));
}

bool is_blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The document: attributes, then Data with four pixels per byte (the first in
// the lowest two bits), two hex digits per byte, high digit first, in lines
// of at most 64 digits. Pixels run on from row to row without padding.
int write_phone_image(const ImageDesc& image, OutputFile& file, ExportProgress& progress) {
    const Geometry g = geometry_of(image);
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TarvoIPPhoneImage>\n";
    // An element must carry text: empty (or blank) titles and prompts are left out.
    const std::string title = xml_text(field_text(image.title));
    const std::string prompt = xml_text(field_text(image.prompt));
    if (!is_blank(title)) {
        text += "<Title>" + title + "</Title>\n";
    }
    if (!is_blank(prompt)) {
        text += "<Prompt>" + prompt + "</Prompt>\n";
    }
    text += "<LocationX>" + std::to_string(image.location_x) + "</LocationX>\n";
    text += "<LocationY>" + std::to_string(image.location_y) + "</LocationY>\n";
    text += "<Width>" + std::to_string(g.width) + "</Width>\n";
    text += "<Height>" + std::to_string(g.height) + "</Height>\n";
    text += "<Depth>2</Depth>\n<Data>";

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<uint8_t> rgb(size_t{g.width} * 3);
    uint8_t byte = 0;
    unsigned in_byte = 0;  // pixels already in byte
    int digits_on_line = 0;
    const auto put_byte = [&] {
        if (digits_on_line == 64) {
            text += '\n';
            digits_on_line = 0;
        }
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
        digits_on_line += 2;
        byte = 0;
        in_byte = 0;
    };
    for (uint32_t y = 0; y < g.height && file.error() == 0; ++y) {
        if (!progress.advance(y)) {
            return ECANCELED;
        }
        row_to_rgb(image, g, y, rgb.data());
        for (uint32_t x = 0; x < g.width; ++x) {
            byte |= static_cast<uint8_t>(phone_value(&rgb[3 * size_t{x}]) << (2 * in_byte));
            if (++in_byte == 4) {
                put_byte();
            }
        }
        if (text.size() >= kTextFlushBytes) {
            file.write(text.data(), text.size());
            text.clear();
        }
    }
    if (in_byte != 0) {
        put_byte();  // the last byte, its unused pixels white
    }
    text += "</Data>\n</TarvoIPPhoneImage>\n";
    file.write(text.data(), text.size());
    return file.error();
}

// ---- PNG ----

// The header for the picture: palette pictures keep their indices and colour
// table; the samples of a palette that is the gray ramp are levels too.
PngHeader png_header(const ImageDesc& image, const Geometry& g, uint8_t* palette) {
    PngHeader header;
    header.width = g.width;
    header.height = g.height;
    switch (g.bits) {
        case 1:
        case 8: {
            header.bit_depth = static_cast<uint8_t>(g.bits);
            header.color_type = PngColorType::Palette;
            header.palette = palette;
            header.palette_entries = static_cast<int>(palette_needed(image, g));
            for (int i = 0; i < header.palette_entries; ++i) {
                const PaletteEntry& e = image.palette[i];
                palette[3 * i] = e.red;
                palette[3 * i + 1] = e.green;
                palette[3 * i + 2] = e.blue;
            }
            header.levels = g.bits == 8 && palette_is_gray(&image) != 0;
            break;
        }
        case 16:
            header.bit_depth = 16;
            header.color_type = PngColorType::Gray;
            break;
        default:
            header.bit_depth = 8;
            header.color_type = PngColorType::Rgb;
            break;
    }
    return header;
}

// Picture row y in the file's byte order: 24-bit rows from blue, green, red
// to red, green, blue; 16-bit samples from little- to big-endian. Palette
// rows are already in order.
const uint8_t* png_row(const ImageDesc& image, const Geometry& g, uint32_t y,
                       std::vector<uint8_t>& buffer) {
    const uint8_t* row = image_row(image, y);
    if (g.bits == 24) {
        for (uint32_t x = 0; x < g.width; ++x) {
            buffer[3 * x] = row[3 * x + 2];
            buffer[3 * x + 1] = row[3 * x + 1];
            buffer[3 * x + 2] = row[3 * x];
        }
        return buffer.data();
    }
    if (g.bits == 16) {
        for (uint32_t x = 0; x < g.width; ++x) {
            buffer[2 * x] = row[2 * x + 1];
            buffer[2 * x + 1] = row[2 * x];
        }
        return buffer.data();
    }
    return row;
}

int write_png(const ImageDesc& image, OutputFile& file, ExportProgress& progress) {
    const Geometry g = geometry_of(image);
    uint8_t palette[3 * 256];
    PngEncoder encoder(file);
    int error = encoder.begin(png_header(image, g, palette));
    std::vector<uint8_t> buffer(g.bits >= 16 ? encoder.row_bytes() : 0);
    for (uint32_t y = 0; y < g.height && error == 0; ++y) {
        if (!progress.advance(y)) {
            return ECANCELED;
        }
        error = encoder.write_row(png_row(image, g, y, buffer));
    }
    return error != 0 ? error : encoder.finish();
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

std::string export_picture(const ImageDesc& image, const std::string& path, ExportFormat format,
                           ExportProgress* progress) {
    ExportProgress unwatched;
    ExportProgress& watch = progress != nullptr ? *progress : unwatched;
    const std::string failure = "cannot write " + path + ": ";
    if (const char* problem = picture_problem(image)) {
        return failure + problem;
    }
    OutputFile file;
    switch (file.open(path)) {
        case OutputFile::Opened::kOk:
            break;
        case OutputFile::Opened::kFailed:
            return failure + std::generic_category().message(file.error());
        case OutputFile::Opened::kNotAFile:
            return failure + "it is a pipe, socket or block device";
    }
    watch.begin(static_cast<uint32_t>(image_height(image)));
    int error = 0;
    switch (format) {
        case ExportFormat::Ppm:
            error = write_ppm(image, file, watch);
            break;
        case ExportFormat::Bmp:
            error = write_bmp(image, file, watch);
            break;
        case ExportFormat::PhoneImage:
            error = write_phone_image(image, file, watch);
            break;
        case ExportFormat::Png:
            error = write_png(image, file, watch);
            break;
    }
    if (error == 0) {
        watch.advance(watch.rows_total());
    }
    if (error == 0) {
        error = file.commit();  // else the file is abandoned, the path unchanged
    }
    if (error == 0) {
        return {};
    }
    std::string message = failure + std::generic_category().message(error);
    if (file.in_place()) {
        message = message + ". " + output::kInPlaceLoss;
    }
    return message;
}

}  // namespace viewer
