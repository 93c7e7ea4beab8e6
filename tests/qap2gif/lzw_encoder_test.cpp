#include "qap2gif/lzw_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/qap2gif/memory_file.h"

using namespace qap2gif;

namespace {

// Joins GIF data sub-blocks (up to the 0 terminator or the end). Every block
// but the last must hold 255 bytes.
std::vector<uint8_t> join_blocks(const std::vector<uint8_t>& blocks) {
    std::vector<uint8_t> data;
    size_t pos = 0;
    bool short_block_seen = false;
    while (pos < blocks.size() && blocks[pos] != 0) {
        const size_t length = blocks[pos];
        EXPECT_FALSE(short_block_seen) << "a short sub-block before the last one";
        short_block_seen = length < 255;
        EXPECT_LE(pos + 1 + length, blocks.size());
        data.insert(
            data.end(), blocks.begin() + static_cast<ptrdiff_t>(pos + 1),
            blocks.begin() + static_cast<ptrdiff_t>(std::min(blocks.size(), pos + 1 + length)));
        pos += 1 + length;
    }
    return data;
}

struct Code {
    uint32_t value;
    int width;
    bool operator==(const Code&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Code& code) {
    return out << code.value << "@" << code.width;
}

// A plain GIF LZW decoder, written from the format's description: it records
// every code with the width it was read at, and the pixels.
struct Decoded {
    std::vector<Code> codes;
    std::vector<uint8_t> pixels;
    bool ended = false;
};

Decoded decode(const std::vector<uint8_t>& data, int min_code_size) {
    Decoded out;
    const uint32_t clear = 1u << min_code_size;
    const uint32_t end = clear + 1;
    std::vector<uint32_t> prefix(4096);
    std::vector<uint8_t> suffix(4096);
    std::vector<uint8_t> first(4096);
    for (uint32_t i = 0; i < clear; ++i) {
        suffix[i] = first[i] = static_cast<uint8_t>(i);
    }
    auto emit = [&](uint32_t code) {
        std::vector<uint8_t> string;
        while (code >= clear) {
            string.push_back(suffix[code]);
            code = prefix[code];
        }
        string.push_back(static_cast<uint8_t>(code));
        out.pixels.insert(out.pixels.end(), string.rbegin(), string.rend());
    };

    int width = min_code_size + 1;
    uint32_t next = clear + 2;
    int64_t previous = -1;
    size_t bit = 0;
    while (bit + static_cast<size_t>(width) <= data.size() * 8) {
        uint32_t code = 0;
        for (int i = 0; i < width; ++i, ++bit) {
            code |= ((data[bit / 8] >> (bit % 8)) & 1u) << i;
        }
        out.codes.push_back({code, width});
        if (code == clear) {
            width = min_code_size + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) {
            out.ended = true;
            break;
        }
        if (previous < 0) {
            EXPECT_LT(code, clear);
            emit(code);
            previous = code;
            continue;
        }
        EXPECT_LE(code, next) << "code beyond the table";
        if (code > next) {
            break;
        }
        const uint8_t head = code < next ? first[code] : first[previous];
        if (next < 4096) {
            prefix[next] = static_cast<uint32_t>(previous);
            suffix[next] = head;
            first[next] = first[previous];
            ++next;
            if (next == (1u << width) && width < 12) {
                ++width;
            }
        }
        emit(code);
        previous = code;
    }
    return out;
}

std::vector<uint8_t> encode_all(const std::vector<uint8_t>& pixels, int min_code_size,
                                size_t chunk = 0) {
    MemoryFile file;
    GifLzwEncoder encoder(file.get(), min_code_size);
    EXPECT_EQ(encoder.start(), 0);
    if (chunk == 0) {
        chunk = pixels.size();
    }
    for (size_t pos = 0; pos < pixels.size(); pos += chunk) {
        EXPECT_EQ(encoder.encode(pixels.data() + pos, std::min(chunk, pixels.size() - pos)), 0);
    }
    EXPECT_EQ(encoder.finish(), 0);
    return file.bytes();
}

std::vector<uint8_t> random_pixels(size_t count, uint32_t seed, int levels = 4) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> pixels(count);
    for (auto& p : pixels) {
        p = static_cast<uint8_t>(rng() % static_cast<uint32_t>(levels));
    }
    return pixels;
}

TEST(GifCodePacker, PacksLeastSignificantBitFirst) {
    MemoryFile file;
    GifCodePacker packer(file.get());
    packer.set_code_width(3);
    for (uint32_t code : {4u, 0u, 1u, 2u}) {
        packer.put_code(code);
    }
    packer.set_code_width(4);
    packer.put_code(3);
    packer.put_code(5);
    packer.flush();
    EXPECT_EQ(file.bytes(), (std::vector<uint8_t>{0x03, 0x44, 0x34, 0x05}));
    EXPECT_EQ(packer.error(), 0);
}

TEST(GifCodePacker, SubBlocksAreFullExceptTheLast) {
    for (size_t count : {1u, 254u, 255u, 256u, 510u, 511u}) {
        MemoryFile file;
        GifCodePacker packer(file.get());
        for (size_t i = 0; i < count; ++i) {
            packer.put_byte(static_cast<uint8_t>(i));
        }
        packer.flush();
        packer.flush();  // nothing pending: writes nothing
        const std::vector<uint8_t> bytes = file.bytes();
        const size_t blocks = (count + 254) / 255;
        ASSERT_EQ(bytes.size(), count + blocks) << count;
        for (size_t b = 0; b < blocks; ++b) {
            const size_t expected = b + 1 < blocks ? 255 : count - 255 * b;
            EXPECT_EQ(bytes[b * 256], expected) << count;  // no empty block after a full one
        }
        const std::vector<uint8_t> data = join_blocks(bytes);
        ASSERT_EQ(data.size(), count);
        EXPECT_EQ(data[count - 1], static_cast<uint8_t>(count - 1));
    }
}

TEST(GifCodePacker, WriteFailureIsKept) {
    std::FILE* read_only = std::fopen("/dev/null", "rb");
    ASSERT_NE(read_only, nullptr);
    GifCodePacker packer(read_only);
    for (int i = 0; i < 300; ++i) {
        packer.put_byte(1);
    }
    packer.flush();
    EXPECT_EQ(packer.error(), EBADF);
    std::fclose(read_only);
}

TEST(GifLzwEncoder, FourPixelsGiveTheKnownCodes) {
    const std::vector<uint8_t> bytes = encode_all({0, 1, 2, 3}, 2);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x03, 0x44, 0x34, 0x05}));
    const Decoded decoded = decode(join_blocks(bytes), 2);
    EXPECT_EQ(decoded.codes, (std::vector<Code>{{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}}));
}

TEST(GifLzwEncoder, WidthGrowsAfterCodeEight) {
    // A run of one value assigns one code per emitted code: 6, 7, 8 at 3 bits,
    // then 4 bits from the code that assigns 9.
    const Decoded decoded = decode(join_blocks(encode_all(std::vector<uint8_t>(100, 1), 2)), 2);
    ASSERT_GE(decoded.codes.size(), 6u);
    EXPECT_EQ(decoded.codes[0], (Code{4, 3}));
    EXPECT_EQ(decoded.codes[1], (Code{1, 3}));
    EXPECT_EQ(decoded.codes[2], (Code{6, 3}));
    EXPECT_EQ(decoded.codes[3], (Code{7, 3}));
    EXPECT_EQ(decoded.codes[4].width, 4);
    EXPECT_EQ(decoded.pixels, std::vector<uint8_t>(100, 1));
}

TEST(GifLzwEncoder, FullTableClearsAfterCode4095) {
    const std::vector<uint8_t> pixels = random_pixels(300000, 11);
    const Decoded decoded = decode(join_blocks(encode_all(pixels, 2)), 2);
    ASSERT_TRUE(decoded.ended);
    EXPECT_EQ(decoded.pixels, pixels);

    std::vector<size_t> clears;
    int widest = 0;
    for (size_t i = 0; i < decoded.codes.size(); ++i) {
        widest = std::max(widest, decoded.codes[i].width);
        if (decoded.codes[i].value == 4) {
            clears.push_back(i);
        }
    }
    EXPECT_EQ(widest, 12);
    ASSERT_GE(clears.size(), 3u);
    EXPECT_EQ(clears[0], 0u);
    EXPECT_EQ(decoded.codes[0].width, 3);
    for (size_t c = 1; c < clears.size(); ++c) {
        // Codes 6 .. 4095 are given out, one for each code put, then the clear
        // code follows at 12 bits and the next code is 3 bits wide again.
        EXPECT_EQ(clears[c] - clears[c - 1] - 1, 4090u);
        EXPECT_EQ(decoded.codes[clears[c]].width, 12);
        EXPECT_EQ(decoded.codes[clears[c] + 1].width, 3);
    }
}

TEST(GifLzwEncoder, RowsFormOneStream) {
    const std::vector<uint8_t> pixels = random_pixels(20000, 12, 2);
    const std::vector<uint8_t> whole = encode_all(pixels, 2);
    for (size_t chunk : {1u, 7u, 133u, 4096u}) {
        EXPECT_EQ(encode_all(pixels, 2, chunk), whole) << chunk;
    }
}

TEST(GifLzwEncoder, WiderMinimumCodeSizes) {
    for (int size = 3; size <= 8; ++size) {
        const std::vector<uint8_t> pixels = random_pixels(50000, 13 + size);
        const Decoded decoded = decode(join_blocks(encode_all(pixels, size)), size);
        ASSERT_FALSE(decoded.codes.empty());
        EXPECT_EQ(decoded.codes[0], (Code{1u << size, size + 1})) << size;
        EXPECT_TRUE(decoded.ended);
        EXPECT_EQ(decoded.pixels, pixels) << size;
    }
}

TEST(GifLzwEncoder, EmptyStreamHasOnlyClearAndEnd) {
    const Decoded decoded = decode(join_blocks(encode_all({}, 2)), 2);
    EXPECT_EQ(decoded.codes, (std::vector<Code>{{4, 3}, {5, 3}}));
}

}  // namespace
