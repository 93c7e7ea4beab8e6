// The GIF test picture of the GIF benchmarks: 4000 x 3000 pixels, 256 colours,
// written with giflib's encoder. It looks like a photograph reduced to a
// palette: smooth shading over several scales plus a little grain, so LZW
// strings are short in textured parts and longer in smooth ones.
#pragma once

#include <gif_lib.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace gif_bench {

inline constexpr int kWidth = 4000;
inline constexpr int kHeight = 3000;

// The picture's palette index at (x, y).
inline uint8_t picture_index(int x, int y, uint32_t& seed) {
    const double fx = x / double(kWidth), fy = y / double(kHeight);
    const double shade = 0.35 * std::sin(6.1 * fx + 2.0 * fy) +
                         0.25 * std::cos(17.0 * fy - 9.0 * fx) +
                         0.15 * std::sin(53.0 * fx * fy + 40.0 * fx) + 0.25 * fx * fy;
    seed = seed * 1664525u + 1013904223u;
    const int grain = int(seed >> 29) - 4;  // -4..3
    const int v = int(128 + 110 * shade) + grain;
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Writes the picture to path; false when giflib fails.
inline bool write_picture(const char* path) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path, false, &error);
    if (gif == nullptr) {
        return false;
    }
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) {
        colors[i] = GifColorType{uint8_t(i), uint8_t(255 - i / 2), uint8_t((i * 7) & 255)};
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
    bool ok = map != nullptr && EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(kWidth);
    uint32_t seed = 12345;
    for (int y = 0; ok && y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            row[size_t(x)] = picture_index(x, y, seed);
        }
        ok = EGifPutLine(gif, row.data(), kWidth) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

}  // namespace gif_bench
