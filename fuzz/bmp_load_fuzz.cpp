// Fuzz target for the BMP reader: the input becomes a file, which is opened the
// way the viewer opens it (information call, allocation of at least 16 x 16 at
// the depth the file asks for, load), sometimes into a smaller area of
// interest. Every byte of the result is read, so the sanitizers see any pixel
// or palette byte the reader left out of bounds or uninitialised.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "imaging/image.h"
#include "imaging/readers/bmp.h"
#include "scratch_file.h"

using namespace imaging;

namespace {

// Larger pictures are loaded into a 16 x 16 image, which still runs the whole
// header parse and pixel pass (clipped).
constexpr int64_t kMaxPixels = 4 * 1024 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile scratch("bmp_load_fuzz");
    const char* path = scratch.write(data, size);

    BmpInfo info{};
    if (bmp_info(path, &info) != IMG_OK) {
        return 0;
    }
    int64_t width = info.biWidth < 16 ? 16 : info.biWidth;
    int64_t height = info.biHeight < 0 ? -int64_t{info.biHeight} : int64_t{info.biHeight};
    height = height < 16 ? 16 : height;
    if (width * height > kMaxPixels) {
        width = 16;
        height = 16;
    }
    const int32_t bits = info.biBitCount >= 16 ? 24 : info.biBitCount;
    ImageDesc image{};
    if (image_alloc(&image, int32_t(width), int32_t(height), bits) != IMG_OK &&
        image_alloc(&image, 16, 16, 8) != IMG_OK) {
        return 0;
    }
    // The last input byte picks a smaller area of interest now and then.
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    if (pick & 1) {
        const uint32_t left = (pick >> 1) % 8;
        const uint32_t top = (pick >> 4) % 8;
        image_set_area(&image, left, top, image.area_right / 2 + left, image.area_bottom / 2 + top);
    }
    bmp_load(path, &image);

    // The colour table in use never runs past the one the image holds.
    const int32_t capacity = image_bits(image) < 16 ? 1 << image_bits(image) : 0;
    if (image.color_count < 0 || image.color_count > capacity) {
        std::abort();
    }
    uint32_t sum = 0;
    const size_t pixel_bytes = size_t{image.row_bytes} * uint32_t(image_height(image));
    for (size_t i = 0; i < pixel_bytes; ++i) {
        sum += image.pixels[i];
    }
    const auto* palette = reinterpret_cast<const uint8_t*>(image.palette);
    for (int32_t i = 0; i < 4 * image.color_count; ++i) {
        sum += palette[i];
    }
    volatile uint32_t sink = sum + image.type_flags;
    (void)sink;
    image_free(&image);
    return 0;
}
