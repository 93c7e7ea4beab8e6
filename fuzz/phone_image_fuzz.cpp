// Fuzz target for the converter's side of the phone-image reader: the bytes are
// parsed as a document from memory and read into a PhoneImage; a record the
// GIF writer accepts (up to 4 megapixels) is then written to memory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "gif_writer.h"
#include "phone_image.h"
#include "xml_dom.h"

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
    GifFileWriter writer(image);
    writer.write(file);
    std::fclose(file);
    // Read every byte written.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) {
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(buffer[i]));
    }
    std::free(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    xmldom::Document document;
    if (!document.parse(std::span(data, size))) {
        // The reason is one line without trailing white space.
        const std::string& reason = document.parse_error_reason();
        if (reason.empty() || reason.find('\n') != std::string::npos) {
            std::abort();
        }
        return 0;
    }
    PhoneImage image;
    try {
        phone_image_load_document(image, document);
        check_phone_image_for_gif(image);
    } catch (const std::string&) {
        return 0;
    } catch (const char*) {
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
