// Fuzz target for one reader of the viewer, chosen at build time by its
// extension (READER_EXTENSION, ".bmp"): the input becomes a file, which is
// opened the way the viewer opens it (picture_open: information call,
// allocation of at least 16 x 16, load), pictures above 4 megapixels into a
// 16 x 16 image. The last input byte sometimes picks a smaller area of
// interest. The input also goes through the choice of a reader by its
// signature. Every byte of the result is read, so the sanitizers see any pixel
// or palette byte the reader left out of bounds or uninitialised.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/scratch_file.h"
#include "imaging/image.h"
#include "imaging/parallel.h"
#include "imaging/readers/picture_open.h"
#include "viewer/core/picture_formats.h"

using namespace imaging;

#ifndef READER_EXTENSION
#error "READER_EXTENSION names the reader to fuzz"
#endif

namespace {

constexpr int64_t kMaxPixels = int64_t{4} << 20;

void pick_area(ImageDesc* image, const void* context) {
    const uint8_t pick = *static_cast<const uint8_t*>(context);
    if (pick & 1) {
        const uint32_t left = (pick >> 1) % 8;
        const uint32_t top = (pick >> 4) % 8;
        image_set_area(image, left, top, image->area_right / 2 + left,
                       image->area_bottom / 2 + top);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ReaderEntry* reader = viewer::find_picture_reader(READER_EXTENSION);
    static ScratchFile scratch("reader_fuzz");
    if (reader == nullptr) {
        std::abort();
    }
    const char* path = scratch.write(data, size);
    // The threaded paths run whatever the picture's size: two parts each.
    const imaging::ThreadLimit threads(2);
    // The signature tests of every format see the input too (their pick is not
    // used: the target fuzzes its own reader).
    if (viewer::choose_picture_reader(path, READER_EXTENSION) == nullptr) {
        std::abort();  // the extension's reader at least
    }

    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    OpenLimits limits;
    limits.clip_above_pixels = kMaxPixels;
    limits.before_load = pick_area;
    limits.context = &pick;
    ImageDesc image{};
    const PictureOpen opened = picture_open(*reader, path, &image, limits);
    if (opened.stage != OpenStage::kLoad) {
        if (image.header != nullptr) {
            std::abort();  // a failed open leaves nothing allocated
        }
        return 0;
    }
    if (opened.status > 0) {
        std::abort();
    }
    // The colour table in use never runs past the one the image holds.
    const int32_t capacity = palette_capacity(image_bits(image));
    if (image.color_count < 0 || image.color_count > capacity) {
        std::abort();
    }
    // Eight bytes a step (rows are 4-byte multiples): a picture of some
    // megapixels then costs the instrumented loop little beside its decoding.
    uint64_t sum = 0;
    const size_t pixel_bytes = size_t{image.row_bytes} * uint32_t(image_height(image));
    size_t i = 0;
    for (; i + 8 <= pixel_bytes; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, image.pixels + i, sizeof eight);
        sum += eight;
    }
    for (; i < pixel_bytes; ++i) {
        sum += image.pixels[i];
    }
    const auto* palette = reinterpret_cast<const uint8_t*>(image.palette);
    for (int32_t i = 0; i < 4 * image.color_count; ++i) {
        sum += palette[i];
    }
    volatile uint64_t sink = sum + image.type_flags;
    (void)sink;
    image_free(&image);
    return 0;
}
