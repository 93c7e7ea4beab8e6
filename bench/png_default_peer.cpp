// The libpng peer of `pelora-cli convert FILE OUT.png` in png_writer_bench:
// opens FILE with the project's reader, as pelora-cli does, and writes the
// same pixels through libpng's simplified API with libpng's default
// compression (zlib level 6, the filtered strategy, the adaptive filter
// choice on all but palette rows): palette pictures as palette PNGs, true
// colour as RGB.
//
//   png_default_peer FILE.bmp OUT.png

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"

using namespace imaging;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: png_default_peer FILE.bmp OUT.png\n");
        return 2;
    }
    const ReaderEntry* bmp = find_reader(raster_readers(), ".bmp");
    ImageDesc image{};
    if (bmp == nullptr || picture_open(*bmp, argv[1], &image).status != IMG_OK) {
        return 1;
    }
    const int bits = image_bits(image);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image_width(image));
    png.height = static_cast<png_uint_32>(image_height(image));
    std::vector<png_byte> colormap;
    if (bits == 8) {
        png.format = PNG_FORMAT_RGB_COLORMAP;
        png.colormap_entries = static_cast<png_uint_32>(palette_entries(image));
        for (png_uint_32 i = 0; i < png.colormap_entries; ++i) {
            colormap.insert(colormap.end(),
                            {image.palette[i].red, image.palette[i].green, image.palette[i].blue});
        }
    } else if (bits == 24) {
        png.format = PNG_FORMAT_BGR;
    } else {
        return 1;
    }
    // A negative stride: the rows are stored bottom-up.
    const png_int_32 stride = -static_cast<png_int_32>(image.row_bytes);
    const bool written = png_image_write_to_file(&png, argv[2], 0, image.pixels, stride,
                                                 colormap.empty() ? nullptr : colormap.data());
    image_free(&image);
    return written ? 0 : 1;
}
