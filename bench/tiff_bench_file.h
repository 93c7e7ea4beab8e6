// Writes the TIFF benchmarks' pictures with libtiff: RGB with LZW and
// Predictor 2 (16 rows per strip), a bilevel picture as one T.6 strip
// (min-is-white: 1 bits are black), or uncompressed RGB.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tiff_bench {

enum class Kind { kRgbLzwPredictor, kBilevelT6, kRgbRaw };

// data: RGB rows, or bilevel rows of (width + 7) / 8 bytes. False when libtiff
// fails.
inline bool write_file(const std::string& path, Kind kind, const std::vector<uint8_t>& data,
                       uint32_t width, uint32_t height) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const bool bilevel = kind == Kind::kBilevelT6;
    const uint32_t rows_per_strip = bilevel ? height : 16;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    if (bilevel) {
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else {
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (kind == Kind::kRgbLzwPredictor) {
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
            TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
    }
    const size_t row_bytes = bilevel ? (size_t{width} + 7) / 8 : size_t{width} * 3;
    bool ok = true;
    for (uint32_t y = 0; y < height && ok; y += rows_per_strip) {
        const uint32_t rows = std::min(rows_per_strip, height - y);
        // The encoder applies the predictor in place: it gets a copy.
        std::vector<uint8_t> strip(data.begin() + ptrdiff_t(y * row_bytes),
                                   data.begin() + ptrdiff_t((y + rows) * row_bytes));
        ok = TIFFWriteEncodedStrip(tif, y / rows_per_strip, strip.data(), tmsize_t(strip.size())) >=
             0;
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace tiff_bench
