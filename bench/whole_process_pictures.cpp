// Writes the 4000 x 3000 test pictures of the whole-process benchmark
// (bench/whole_process.sh) into a folder, each with the usual encoder of its
// format:
//
//   photo.bmp       24-bit, uncompressed, bottom-up
//   photo.gif       256 colours (the GIF benchmarks' picture, giflib)
//   photo.jpg       baseline, 4:2:0, quality 90 (libjpeg)
//   photo_progressive.jpg   the same, progressive (libjpeg's simple progression)
//   photo.pcx       24-bit, three run-length planes
//   photo.png       truecolour, zlib level 6, adaptive filters (libpng)
//   photo.tga       24-bit, run-length (stb_image_write)
//   photo_lzw.tif   RGB, LZW with Predictor 2, 16 rows per strip (libtiff)
//   photo_g4.tif    the photo dithered to black and white, one T.6 strip
//
//   whole_process_pictures DIR

#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bmp_picture_file.h"
#include "bench/gif_bench_picture.h"
#include "bench/pcx_picture.h"
#include "bench/tiff_bench_file.h"
#include "bench/whole_process_picture.h"

namespace {

using whole_process::kHeight;
using whole_process::kWidth;

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

bool write_bmp(const std::string& path, const std::vector<uint8_t>& rgb) {
    const uint32_t row_bytes = kWidth * 3;  // a multiple of 4 already
    std::vector<uint8_t> bytes = bmp_bench::header_24(kWidth, kHeight);
    bytes.resize(bytes.size() + size_t{row_bytes} * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
        const uint8_t* in = &rgb[size_t{kHeight - 1 - y} * row_bytes];
        uint8_t* out = &bytes[54 + size_t{y} * row_bytes];
        for (uint32_t x = 0; x < kWidth; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    return write_bytes(path, bytes);
}

bool write_jpeg(const std::string& path, const std::vector<uint8_t>& rgb, bool progressive) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);  // YCbCr, 4:2:0
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < kHeight) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t{cinfo.next_scanline} * kWidth * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

bool write_png(const std::string& path, const std::vector<uint8_t>& rgb) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_write_info(png, info);
    for (uint32_t y = 0; y < kHeight; ++y) {
        png_write_row(png, &rgb[size_t{y} * kWidth * 3]);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// The photo in gray, error-diffused to black and white: 1 bits are black
// (min-is-white), eight pixels a byte.
std::vector<uint8_t> dithered_bits(const std::vector<uint8_t>& rgb) {
    const uint32_t row_bytes = (kWidth + 7) / 8;
    std::vector<uint8_t> bits(size_t{row_bytes} * kHeight);
    std::vector<int> carry(kWidth + 2, 0), next(kWidth + 2, 0);
    for (uint32_t y = 0; y < kHeight; ++y) {
        int right = 0;
        for (uint32_t x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[(size_t{y} * kWidth + x) * 3];
            const int level = (p[0] * 77 + p[1] * 151 + p[2] * 28) / 256 + carry[x + 1] + right;
            const int shown = level < 128 ? 0 : 255;
            if (shown == 0) {
                bits[size_t{y} * row_bytes + x / 8] |= uint8_t(0x80 >> (x % 8));
            }
            const int error = level - shown;
            right = error * 7 / 16;
            next[x] += error * 3 / 16;
            next[x + 1] += error * 5 / 16;
            next[x + 2] += error / 16;
        }
        carry.swap(next);
        std::fill(next.begin(), next.end(), 0);
    }
    return bits;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: whole_process_pictures DIR\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const std::vector<uint8_t> rgb = whole_process::photo_rgb();
    stbi_write_tga_with_rle = 1;
    const bool ok =
        write_bmp(dir + "photo.bmp", rgb) &&
        gif_bench::write_picture((dir + "photo.gif").c_str()) &&
        write_jpeg(dir + "photo.jpg", rgb, false) &&
        write_jpeg(dir + "photo_progressive.jpg", rgb, true) &&
        write_bytes(dir + "photo.pcx", pcx_bench::file_bytes(rgb, kWidth, kHeight)) &&
        write_png(dir + "photo.png", rgb) &&
        stbi_write_tga((dir + "photo.tga").c_str(), kWidth, kHeight, 3, rgb.data()) != 0 &&
        tiff_bench::write_file(dir + "photo_lzw.tif", tiff_bench::Kind::kRgbLzwPredictor, rgb,
                               kWidth, kHeight) &&
        tiff_bench::write_file(dir + "photo_g4.tif", tiff_bench::Kind::kBilevelT6,
                               dithered_bits(rgb), kWidth, kHeight);
    if (!ok) {
        std::fprintf(stderr, "whole_process_pictures: cannot write the pictures into %s\n",
                     argv[1]);
        return 1;
    }
    return 0;
}
