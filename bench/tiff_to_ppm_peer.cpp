// The peer of `pelora-cli convert FILE OUT.ppm` for the benchmark's TIFF files:
// libtiff decodes every strip (TIFFReadEncodedStrip) of an 8-bit RGB or a
// bilevel picture, which is written as the same binary PPM (bilevel pixels as
// black and white by the photometric interpretation).
//
//   tiff_to_ppm_peer FILE.tif OUT.ppm

#include <tiffio.h>

#include <cstdio>
#include <vector>

#include "bench/ppm_output.h"

namespace {

bool decode(TIFF* tif, std::vector<uint8_t>* rgb, uint32_t* width, uint32_t* height) {
    uint16_t bits = 0, samples = 0, photometric = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const bool bilevel = bits == 1 && samples == 1;
    if (!bilevel && !(bits == 8 && samples == 3)) {
        return false;
    }
    const tmsize_t strip_size = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    std::vector<uint8_t> data(size_t(strip_size) * strips);
    for (uint32_t s = 0; s < strips; ++s) {
        if (TIFFReadEncodedStrip(tif, s, data.data() + size_t(s) * size_t(strip_size), strip_size) <
            0) {
            return false;
        }
    }
    if (!bilevel) {
        data.resize(size_t{*width} * *height * 3);
        rgb->swap(data);
        return true;
    }
    rgb->resize(size_t{*width} * *height * 3);
    const size_t row_bytes = (size_t{*width} + 7) / 8;
    const uint8_t one = photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255;
    for (uint32_t y = 0; y < *height; ++y) {
        const uint8_t* row = &data[y * row_bytes];
        uint8_t* out = &(*rgb)[size_t{y} * *width * 3];
        for (uint32_t x = 0; x < *width; ++x) {
            const uint8_t v = (row[x / 8] >> (7 - x % 8)) & 1 ? one : uint8_t(255 - one);
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tiff_to_ppm_peer FILE.tif OUT.ppm\n");
        return 2;
    }
    TIFF* tif = TIFFOpen(argv[1], "r");
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    const bool decoded = tif != nullptr && decode(tif, &rgb, &width, &height);
    if (tif != nullptr) {
        TIFFClose(tif);
    }
    return decoded && whole_process::write_ppm(argv[2], width, height, rgb.data()) ? 0 : 1;
}
