// How the whole-process peers write their result: a binary PPM of red, green,
// blue rows, flushed to the disk before the program ends, as pelora-cli
// flushes its output.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace whole_process {

inline bool write_ppm(const char* path, uint32_t width, uint32_t height, const uint8_t* rgb) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    const size_t bytes = size_t{width} * height * 3;
    bool ok = std::fprintf(out, "P6\n%u %u\n255\n", width, height) > 0 &&
              std::fwrite(rgb, 1, bytes, out) == bytes;
    ok = ok && std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
    return std::fclose(out) == 0 && ok;
}

}  // namespace whole_process
