// The peer of `pelora-cli convert FILE OUT.ppm` for PNG files: libpng decodes
// FILE to 8-bit red, green, blue rows (16-bit samples cut to their high byte,
// alpha dropped, palettes and gray expanded), which are written as the same
// binary PPM.
//
//   png_to_ppm_peer FILE.png OUT.ppm

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "bench/ppm_output.h"

namespace {

// Plain C style: nothing with a destructor lives across the jump.
bool decode(std::FILE* file, std::vector<uint8_t>* rgb, uint32_t* width, uint32_t* height) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    const size_t row_bytes = size_t{*width} * 3;
    rgb->resize(row_bytes * *height);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < *height; ++y) {
            png_read_row(png, rgb->data() + row_bytes * y, nullptr);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: png_to_ppm_peer FILE.png OUT.ppm\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    const bool decoded = file != nullptr && decode(file, &rgb, &width, &height);
    if (file != nullptr) {
        std::fclose(file);
    }
    return decoded && whole_process::write_ppm(argv[2], width, height, rgb.data()) ? 0 : 1;
}
