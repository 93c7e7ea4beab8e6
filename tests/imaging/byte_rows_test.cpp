#include "imaging/simd/byte_rows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace imaging::simd;

namespace {

// The SIMD levels this build and processor run (the plain version aside).
std::vector<SimdLevel> simd_levels() {
    std::vector<SimdLevel> levels;
    for (SimdLevel level : {SimdLevel::kSse2, SimdLevel::kAvx2}) {
        if (level_available(level)) {
            levels.push_back(level);
        }
    }
    return levels;
}

std::vector<uint8_t> random_bytes(std::mt19937& random, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) {
        // Bytes near the thresholds tested below are common.
        b = static_cast<uint8_t>(random() % 4 == 0 ? 0xBE + random() % 5 : random());
    }
    return bytes;
}

TEST(ByteRows, PlainKernelsDoWhatTheySay) {
    const ByteRowKernels& plain = byte_row_kernels(SimdLevel::kPlain);
    std::vector<uint8_t> block(64, 0xC0);
    block[0] = 0xC1;
    block[63] = 0xFF;
    EXPECT_EQ(plain.bytes_above(block.data(), 0xC0), 0x8000000000000001u);
    const uint8_t red[2] = {1, 2}, green[2] = {3, 4}, blue[2] = {5, 6};
    uint8_t bgr[6];
    plain.planes_to_bgr(red, green, blue, bgr, 2);
    EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 6), (std::vector<uint8_t>{5, 3, 1, 6, 4, 2}));
    plain.swap_outer_bytes(bgr, bgr, 2);
    EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 6), (std::vector<uint8_t>{1, 3, 5, 2, 4, 6}));
}

// Each SIMD kernel gives the plain one's bytes at every row length, and
// writes nothing past its row.
TEST(ByteRows, SimdKernelsMatchThePlainOnes) {
    const ByteRowKernels& plain = byte_row_kernels(SimdLevel::kPlain);
    for (SimdLevel level : simd_levels()) {
        SCOPED_TRACE(level_name(level));
        const ByteRowKernels& fast = byte_row_kernels(level);
        std::mt19937 random(3);
        for (int round = 0; round < 2000; ++round) {
            const std::vector<uint8_t> block = random_bytes(random, 64);
            const uint8_t threshold = static_cast<uint8_t>(round < 256 ? round : 0xC0);
            ASSERT_EQ(fast.bytes_above(block.data(), threshold),
                      plain.bytes_above(block.data(), threshold))
                << round;

            const uint32_t n = static_cast<uint32_t>(round % 200);
            const std::vector<uint8_t> planes = random_bytes(random, 3 * size_t{n});
            const uint8_t* red = planes.data();
            std::vector<uint8_t> got(3 * size_t{n} + 8, 0xEE), want(got);
            fast.planes_to_bgr(red, red + n, red + 2 * n, got.data(), n);
            plain.planes_to_bgr(red, red + n, red + 2 * n, want.data(), n);
            ASSERT_EQ(got, want) << n;

            fast.swap_outer_bytes(planes.data(), got.data(), n);
            plain.swap_outer_bytes(planes.data(), want.data(), n);
            ASSERT_EQ(got, want) << n;
            std::vector<uint8_t> in_place = planes;
            fast.swap_outer_bytes(in_place.data(), in_place.data(), n);
            ASSERT_TRUE(std::equal(in_place.begin(), in_place.end(), want.begin())) << n;
        }
    }
}

}  // namespace
