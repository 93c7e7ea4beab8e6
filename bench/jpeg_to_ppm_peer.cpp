// The peer of `pelora-cli convert FILE OUT.ppm` for JPEG files: decodes FILE
// with libjpeg-turbo set to the reader's arithmetic (the integer inverse DCT,
// replication of subsampled chroma rather than smoothing) and writes the same
// binary PPM, flushed to the disk before it ends as pelora-cli flushes its
// output. Also writes the JPEG benchmarks' test pictures:
//
//   jpeg_to_ppm_peer --make STEM       writes STEM{baseline420,baseline444,progressive420}.jpg
//   jpeg_to_ppm_peer FILE.jpg OUT.ppm
//
// bench/whole_process.sh times both programs.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/jpeg_bench.h"

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
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    const bool decoded = jpeg_bench::peer_decode(in, &rgb, &width, &height);
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
