// The peer of `pelora-cli convert FILE OUT.ppm` for JPEG files: decodes FILE
// with libjpeg-turbo set to the reader's arithmetic (the integer inverse DCT,
// replication of subsampled chroma rather than smoothing) and writes the same
// binary PPM, flushed to the disk before it ends as pelora-cli flushes its
// output. Also writes the JPEG benchmarks' test pictures:
//
//   jpeg_to_ppm_peer --make STEM       writes STEM{baseline420,baseline444,progressive420}.jpg
//   jpeg_to_ppm_peer FILE.jpg OUT.ppm
//
// bench/jpeg_whole_process.sh times both programs on those pictures.

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/jpeg_bench_picture.h"  // and jpeglib.h after <cstdio>

namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void trap_error(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

// Decodes the file into RGB rows; false on any error. Plain C style: nothing
// with a destructor lives across the jump.
bool decode(std::FILE* file, std::vector<unsigned char>* rgb, unsigned* width, unsigned* height) {
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trap_error;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *width = cinfo.output_width;
    *height = cinfo.output_height;
    const size_t row_bytes = size_t{cinfo.output_width} * 3;
    rgb->resize(row_bytes * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb->data() + size_t{cinfo.output_scanline} * row_bytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
        std::string paths[3];
        size_t sizes[3] = {};
        return jpeg_bench::write_pictures(argv[2], paths, sizes) ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: jpeg_to_ppm_peer --make STEM | FILE.jpg OUT.ppm\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        return 1;
    }
    std::vector<unsigned char> rgb;
    unsigned width = 0, height = 0;
    const bool decoded = decode(in, &rgb, &width, &height);
    std::fclose(in);
    if (!decoded) {
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    bool ok = out != nullptr && std::fprintf(out, "P6\n%u %u\n255\n", width, height) > 0 &&
              std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
    ok = ok && std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
    ok = out != nullptr && std::fclose(out) == 0 && ok;
    return ok ? 0 : 1;
}
