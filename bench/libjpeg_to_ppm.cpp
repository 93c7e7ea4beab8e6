// A minimal peer of `pelora-cli convert FILE OUT.ppm` for JPEG files, used by
// bench/whole_process.sh when the JPEG benchmark's own peer (jpeg_to_ppm_peer)
// is not built: libjpeg-turbo with the reader's arithmetic (the integer
// inverse DCT, chroma replicated rather than smoothed) to RGB rows, written as
// the same binary PPM. Errors end the program (libjpeg's default handler).
//
//   libjpeg_to_ppm FILE.jpg OUT.ppm

#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <cstdio>
#include <vector>

#include "bench/ppm_output.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: libjpeg_to_ppm FILE.jpg OUT.ppm\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        return 1;
    }
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    const size_t row_bytes = size_t{cinfo.output_width} * 3;
    std::vector<uint8_t> rgb(row_bytes * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &rgb[row_bytes * cinfo.output_scanline];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    const uint32_t width = cinfo.output_width, height = cinfo.output_height;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return whole_process::write_ppm(argv[2], width, height, rgb.data()) ? 0 : 1;
}
