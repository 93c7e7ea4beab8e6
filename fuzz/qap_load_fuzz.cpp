// Fuzz target for the viewer's phone-image loading: the bytes are written to a
// file, read with qap_info, and loaded with qap_load into an image allocated as
// the viewer's document allocates it (at least 16 x 16, 4 bits per pixel),
// refusing sizes above 4 megapixels (a 16 x 16 image is loaded instead, which
// still exercises the clipping).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qap.h"
#include "scratch_file.h"

using namespace imaging;

namespace {

constexpr int64_t kMaxPixels = int64_t{4} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile scratch("qap_load_fuzz");
    const char* path = scratch.write(data, size);

    QapInfo info;
    if (qap_info(path, &info) != IMG_OK) {
        std::abort();  // only a failed 40-byte allocation could fail it
    }
    int32_t width = std::max(16, info.width);
    int32_t height = std::max(16, info.height);
    if (int64_t{width} * height > kMaxPixels) {
        width = 16;
        height = 16;
    }
    ImageDesc image{};
    if (image_alloc(&image, width, height, 4) != IMG_OK) {
        return 0;
    }
    const ImgStatus status = qap_load(path, &image);
    if (status != IMG_OK && (status > IMG_ERR_XML_LOAD || status < IMG_ERR_XML_UNKNOWN)) {
        std::abort();
    }
    // The header still describes the allocated rows; read every byte of them.
    if (image.header->biWidth != width || image.header->biHeight != height) {
        std::abort();
    }
    volatile uint8_t sum = 0;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = image_row(image, static_cast<uint32_t>(y));
        for (int32_t x = 0; x < width; ++x) {
            sum = static_cast<uint8_t>(sum + row[x]);
        }
    }
    for (int32_t i = 0; i < image.color_count; ++i) {
        sum = static_cast<uint8_t>(sum + image.palette[i].red);
    }
    image_free(&image);
    return 0;
}
