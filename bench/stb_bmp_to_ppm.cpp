// The peer of `pelora-cli convert IN.bmp OUT.ppm` for peak-memory and CPU
// comparisons with /usr/bin/time -v: stb_image decodes the file, and the same
// PPM is written from its pixels.
//
//   build/bench/stb_bmp_to_ppm IN.bmp OUT.ppm

#include <stb_image.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stb_bmp_to_ppm IN.bmp OUT.ppm\n");
        return 2;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = stbi_load(argv[1], &width, &height, &channels, 3);
    if (pixels == nullptr) {
        std::fprintf(stderr, "cannot decode %s\n", argv[1]);
        return 1;
    }
    std::FILE* file = std::fopen(argv[2], "wb");
    const bool ok = file != nullptr && std::fprintf(file, "P6\n%d %d\n255\n", width, height) > 0 &&
                    std::fwrite(pixels, 3, size_t(width) * size_t(height), file) ==
                        size_t(width) * size_t(height);
    const bool closed = file != nullptr && std::fclose(file) == 0;
    stbi_image_free(pixels);
    return ok && closed ? 0 : 1;
}
