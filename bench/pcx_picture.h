// Writes a 24-bit PCX file (three run-length planes per line) from red, green,
// blue pixels, top row first, for the benchmarks that read one.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace pcx_bench {

// A PCX run-length line: runs of equal bytes (at most 63), bytes of 0xC0 and above
// as runs of one (a lone byte of 0xC0 or above would read as a count).
inline void encode_line(const uint8_t* line, size_t size, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < size;) {
        size_t n = 1;
        while (i + n < size && n < 63 && line[i + n] == line[i]) {
            ++n;
        }
        if (n > 1 || line[i] >= 0xC0) {
            out.push_back(uint8_t(0xC0 + n));
        }
        out.push_back(line[i]);
        i += n;
    }
}

inline std::vector<uint8_t> file_bytes(const std::vector<uint8_t>& rgb, uint16_t width,
                                       uint16_t height) {
    std::vector<uint8_t> out(128);
    out[0] = 0x0A;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    const uint16_t words[] = {0, 0, uint16_t(width - 1), uint16_t(height - 1)};
    std::memcpy(&out[4], words, sizeof words);
    out[65] = 3;
    std::memcpy(&out[66], &width, 2);  // bytes per plane line
    std::vector<uint8_t> plane(width);
    for (size_t y = 0; y < height; ++y) {
        for (int c = 0; c < 3; ++c) {
            for (size_t x = 0; x < width; ++x) {
                plane[x] = rgb[(y * width + x) * 3 + c];
            }
            encode_line(plane.data(), plane.size(), out);
        }
    }
    return out;
}

}  // namespace pcx_bench
