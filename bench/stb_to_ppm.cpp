// The peer of `pelora-cli convert FILE OUT.ppm` in the whole-process
// comparisons (CPU time and peak memory with /usr/bin/time -v): decodes FILE
// with stb_image and writes the same binary PPM, flushed to the disk before it
// ends as pelora-cli flushes its output.
//
//   stb_to_ppm FILE OUT.ppm

#include <stb_image.h>

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stb_to_ppm FILE OUT.ppm\n");
        return 2;
    }
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(argv[1], &width, &height, &channels, 3);
    if (pixels == nullptr) {
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    bool ok = out != nullptr && std::fprintf(out, "P6\n%d %d\n255\n", width, height) > 0 &&
              std::fwrite(pixels, 3, size_t(width) * size_t(height), out) ==
                  size_t(width) * size_t(height);
    ok = ok && std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
    ok = out != nullptr && std::fclose(out) == 0 && ok;
    stbi_image_free(pixels);
    return ok ? 0 : 1;
}
