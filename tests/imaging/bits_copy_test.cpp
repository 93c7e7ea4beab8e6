#include "imaging/bits_copy.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace imaging;

namespace {

bool get_bit(const std::vector<uint8_t>& bytes, uint32_t i) {
    return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Every offset and length up to three bytes against a bit-by-bit model: the run
// lands where it should and every bit outside it keeps its value.
TEST(BitsCopy, MatchesBitByBitModel) {
    std::mt19937 rng(7);
    for (uint32_t offset = 0; offset < 8; ++offset) {
        for (uint32_t count = 1; count <= 24; ++count) {
            std::vector<uint8_t> source(4);
            std::vector<uint8_t> destination(6);
            for (auto& b : source)
                b = static_cast<uint8_t>(rng());
            for (auto& b : destination)
                b = static_cast<uint8_t>(rng());
            const std::vector<uint8_t> before = destination;
            bits_copy(destination.data(), source.data(), offset, count);
            for (uint32_t i = 0; i < destination.size() * 8; ++i) {
                const bool inside = i >= offset && i < offset + count;
                const bool expected = inside ? get_bit(source, i - offset) : get_bit(before, i);
                ASSERT_EQ(get_bit(destination, i), expected)
                    << "offset " << offset << " count " << count << " bit " << i;
            }
        }
    }
}

TEST(BitsCopy, OnlyTheLowThreeOffsetBitsCount) {
    std::vector<uint8_t> destination = {0x00, 0x00};
    const uint8_t source[] = {0xE0};
    bits_copy(destination.data(), source, 3 + 8 * 5, 3);  // the caller points at the byte
    EXPECT_EQ(destination[0], 0x1C);
    EXPECT_EQ(destination[1], 0x00);
}

}  // namespace
