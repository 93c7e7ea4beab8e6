// Fuzz target for the converter's side of the phone-image reader: the bytes are
// parsed as a document from memory and read into a PhoneImage; a record the
// GIF writer accepts (up to 4 megapixels) is then written to memory. The same
// bytes are also read as the converter reads a file, streamed, which must give
// the same record or the same message.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz/scratch_file.h"
#include "phoneimage/phone_image.h"
#include "phoneimage/xml_dom.h"
#include "qap2gif/gif_writer.h"

using namespace phoneimage;

namespace {

constexpr uint64_t kMaxPixels = uint64_t{4} << 20;

void write_gif(const PhoneImage& image) {
    if (uint64_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height) >
        kMaxPixels) {
        return;
    }
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* file = open_memstream(&buffer, &size);
    if (file == nullptr) {
        return;
    }
    qap2gif::GifFileWriter writer(image);
    writer.write(file);
    std::fclose(file);
    // Read every byte written.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) {
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(buffer[i]));
    }
    std::free(buffer);
}

// What reading gave: the message thrown, empty when none was.
template <typename Read>
std::string message_of(Read read) {
    try {
        read();
    } catch (const std::string& text) {
        return text;
    } catch (const char* text) {
        return text;
    }
    return {};
}

bool same_record(const PhoneImage& a, const PhoneImage& b) {
    return a.location_x == b.location_x && a.location_y == b.location_y && a.width == b.width &&
           a.height == b.height && a.depth == b.depth && a.title == b.title &&
           a.prompt == b.prompt && a.pixel_values == b.pixel_values;
}

// The file read streams the document; it must agree with the parsed one.
void compare_with_file_read(const uint8_t* data, size_t size, const xml::Document& document,
                            bool parsed, const std::string& message, const PhoneImage& image) {
    static ScratchFile scratch("phone_image_fuzz");
    const char* path = scratch.write(data, size);
    PhoneImage streamed;
    const std::string streamed_message = message_of([&] { phone_image_load(streamed, path); });
    if (!parsed) {
        // Refused markup may be reported with the root's rule instead.
        if (streamed_message.empty() ||
            (document.markup_excess().kind == xml::MarkupExcess::Kind::none &&
             streamed_message != message)) {
            std::abort();
        }
    } else if (streamed_message != message || !same_record(streamed, image)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xml::Document document;
    const bool parsed = document.parse(std::span(data, size));
    PhoneImage image;
    const std::string message =
        parsed ? message_of([&] { phone_image_load_document(image, document); })
               : document.parse_error_reason();
    compare_with_file_read(data, size, document, parsed, message, image);
    if (!parsed) {
        // The reason is one line without trailing white space.
        if (message.empty() || message.find('\n') != std::string::npos || message.back() == ' ') {
            std::abort();
        }
        return 0;
    }
    if (!message.empty() ||
        !message_of([&] { qap2gif::check_phone_image_for_gif(image); }).empty()) {
        return 0;
    }
    volatile uint8_t sum = 0;
    for (uint8_t v : image.pixel_values) {
        if (v > 3) {
            std::abort();
        }
        sum = static_cast<uint8_t>(sum + v);
    }
    write_gif(image);
    return 0;
}
