// The photo-like 4000 x 3000 picture of the whole-process benchmark: large
// smooth shading, a few hard-edged shapes, and a little per-pixel grain (as a
// camera's sensor leaves it), so that every coder meets both long runs of
// similar values and short literal stretches.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace whole_process {

inline constexpr uint32_t kWidth = 4000;
inline constexpr uint32_t kHeight = 3000;

// Red, green, blue, top row first.
inline std::vector<uint8_t> photo_rgb() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    for (uint32_t y = 0; y < kHeight; ++y) {
        const double fy = y / double(kHeight);
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double fx = x / double(kWidth);
            uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u;
            h ^= h >> 15;
            h *= 0x2C1B3C6Du;
            h ^= h >> 12;
            const int grain = int(h & 7) - 4;
            const double sky = 0.5 + 0.4 * std::sin(3.1 * fx + 1.7 * fy);
            const bool disc = (fx - 0.3) * (fx - 0.3) + (fy - 0.6) * (fy - 0.6) < 0.04;
            const bool bar = fx > 0.62 && fx < 0.7;
            const double lit = disc ? 0.9 - 0.5 * fy : bar ? 0.2 + 0.1 * fx : sky;
            auto channel = [&](double scale, double offset) {
                const int v = int(255 * (offset + scale * lit)) + grain;
                return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            };
            uint8_t* p = &rgb[(size_t{y} * kWidth + x) * 3];
            p[0] = channel(0.8, 0.1 * fx);
            p[1] = channel(0.7, 0.15);
            p[2] = channel(0.5, 0.4 * fy);
        }
    }
    return rgb;
}

}  // namespace whole_process
