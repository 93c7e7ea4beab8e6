// The readers' shared I/O layer: the chunk buffer against a plain model of
// the data, the file's refusals, and where stored rows land.

#include "imaging/readers/reader_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace imaging;

namespace {

// Bytes 0, 1, 2, ... (mod 251, so that no period lines up with a buffer size).
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 251);
    }
    return bytes;
}

// A source in memory that counts what the chunk buffer asks of it.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(const std::vector<uint8_t>& data) : data_(data) {}
    size_t read(uint8_t* destination, size_t size) override {
        const size_t n = std::min(size, data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<long>(pos_), n, destination);
        pos_ += n;
        ++reads;
        return n;
    }
    size_t reads = 0;

  private:
    const std::vector<uint8_t>& data_;
    size_t pos_ = 0;
};

struct StepCase {
    size_t data;      // bytes in the source
    size_t need;      // the most one step takes
    size_t min_size;  // the buffer's least size
    size_t step;      // bytes each step consumes (at most need)
};

// Steps see at least `need` bytes ahead until the data runs short, consume
// every byte once and in order, and refill no more often than every `need`
// bytes: the rows straddle refills at every offset of a small buffer.
TEST(ChunkReader, StepsSeeEveryByteOnceAndNeedBytesAhead) {
    const StepCase cases[] = {
        {0, 1, 16, 1},     {1, 1, 16, 1},    {100, 7, 16, 7},
        {100, 7, 16, 3},   {32, 16, 16, 16}, {33, 16, 16, 16},
        {1000, 64, 16, 5}, {1000, 1, 16, 1}, {4096, 300, 0, 299},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.data) + " bytes, need " + std::to_string(c.need) + ", step " +
                     std::to_string(c.step));
        const std::vector<uint8_t> data = pattern(c.data);
        MemorySource source(data);
        ChunkReader in;
        ASSERT_EQ(in.start(source, c.need, c.min_size), IMG_OK);
        std::vector<uint8_t> seen;
        while (in.next_step()) {
            ChargedBytes ahead = in.ahead();
            ASSERT_GE(ahead.left(), std::min(c.need, data.size() - seen.size()));
            const uint8_t* bytes = ahead.span(std::min(c.step, ahead.left()));
            seen.insert(seen.end(), bytes, bytes + ahead.used());
            in.advance(ahead.used());
        }
        EXPECT_EQ(seen, data);
        EXPECT_TRUE(in.at_end());
        // Each refill follows at least `need` consumed bytes; the last read
        // comes back short.
        EXPECT_LE(source.reads, 2 + c.data / c.need);
    }
}

// Byte-stream reads, skips and steps mixed at random give what a plain cursor
// over the data gives, up to and past its end.
TEST(ChunkReader, MixedReadsFollowAPlainCursor) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        const std::vector<uint8_t> data = pattern(random() % 600);
        MemorySource source(data);
        ChunkReader in;
        ASSERT_EQ(in.start(source, 1 + random() % 40, 16), IMG_OK);
        size_t pos = 0;  // the model
        for (int op = 0; op < 200; ++op) {
            const size_t left = data.size() - pos;
            const size_t count = random() % 50;
            switch (random() % 4) {
                case 0: {
                    uint8_t byte = 0;
                    ASSERT_EQ(in.byte(&byte), left > 0) << seed;
                    if (left > 0) {
                        ASSERT_EQ(byte, data[pos++]) << seed;
                    }
                    break;
                }
                case 1: {
                    std::vector<uint8_t> out(count);
                    const size_t got = in.read(out.data(), count);
                    ASSERT_EQ(got, std::min(count, left)) << seed;
                    ASSERT_TRUE(
                        std::equal(out.begin(), out.begin() + long(got), data.begin() + long(pos)))
                        << seed;
                    pos += got;
                    break;
                }
                case 2:
                    ASSERT_EQ(in.skip(count), count <= left) << seed;
                    pos += std::min(count, left);
                    break;
                default: {
                    ASSERT_EQ(in.next_step(), left > 0) << seed;
                    if (left > 0) {
                        ChargedBytes ahead = in.ahead();
                        const size_t take = std::min(count, ahead.left());
                        ASSERT_EQ(*ahead.peek(1), data[pos]) << seed;
                        in.advance(take);
                        pos += take;
                    }
                }
            }
        }
    }
}

TEST(ChargedBytes, ReadsStopAtTheirEnd) {
    const uint8_t bytes[3] = {7, 8, 9};
    ChargedBytes in(bytes, sizeof bytes);
    EXPECT_EQ(in.span(4), nullptr);  // a refused span consumes nothing
    EXPECT_EQ(in.peek(3), bytes);
    uint8_t b = 0;
    ASSERT_TRUE(in.byte(&b));
    EXPECT_EQ(b, 7);
    EXPECT_EQ(in.span(2), bytes + 1);
    EXPECT_EQ(in.left(), 0u);
    EXPECT_FALSE(in.byte(&b));
    EXPECT_EQ(in.peek(1), nullptr);
    EXPECT_EQ(in.used(), 3u);
}

// Only regular files open: a folder, a named pipe (whose read could block) and
// a missing file are refused, as is a second open of the same object.
TEST(ReaderFile, OpensRegularFilesOnlyAndReadsToTheirEnd) {
    test_support::TempDir dir;
    const std::string file = (dir / "ten").string();
    test_support::write_file(file, pattern(10));
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& refused : {dir.path().string(), fifo, (dir / "missing").string()}) {
        ReaderFile f;
        EXPECT_FALSE(f.open(refused.c_str())) << refused;
    }
    ReaderFile none;
    EXPECT_FALSE(none.open(nullptr));

    ReaderFile f;
    ASSERT_TRUE(f.open(file.c_str()));
    EXPECT_FALSE(f.open(file.c_str()));
    EXPECT_EQ(f.size(), 10u);
    uint8_t out[16] = {};
    EXPECT_FALSE(f.read_exact(out, 11));  // all ten bytes arrive, the call says short
    EXPECT_EQ(out[9], 9);
    ASSERT_TRUE(f.seek(4));
    EXPECT_EQ(f.read(out, sizeof out), 6u);
    EXPECT_EQ(out[0], 4);
    ASSERT_TRUE(f.seek(1000));  // past the end: nothing more to read
    EXPECT_EQ(f.read(out, sizeof out), 0u);
}

struct PlaceCase {
    int32_t bits;
    uint32_t left, top, right, bottom;  // area of interest of a 40 x 30 image
    uint32_t file_rows, file_columns;
    RowFill fill;
    RowPlacement want;
};

TEST(PlaceRows, RowsAndColumnsAreCutToTheAreaOfInterest) {
    const PlaceCase cases[] = {
        // The whole image, a smaller picture.
        {8, 0, 0, 39, 29, 10, 12, RowFill::kFromTop, {10, 12, 0, 0, false}},
        {8, 0, 0, 39, 29, 10, 12, RowFill::kFromBottom, {10, 12, 0, 29, true}},
        {8, 0, 0, 39, 29, 10, 12, RowFill::kDownToBottom, {10, 12, 0, 20, false}},
        // A small area, a larger picture: cut to the area.
        {24, 5, 3, 9, 6, 100, 100, RowFill::kFromTop, {4, 5, 15, 3, false}},
        {24, 5, 3, 9, 6, 100, 100, RowFill::kFromBottom, {4, 5, 15, 6, true}},
        {24, 5, 3, 9, 6, 100, 100, RowFill::kDownToBottom, {4, 5, 15, 3, false}},
        // 1-bit rows: the byte that holds the area's first bit.
        {1, 17, 0, 39, 0, 1, 50, RowFill::kFromTop, {1, 23, 2, 0, false}},
        {16, 3, 0, 3, 29, 0, 0, RowFill::kFromTop, {0, 0, 6, 0, false}},
    };
    for (const PlaceCase& c : cases) {
        ImageDesc image{};
        ASSERT_EQ(image_alloc(&image, 40, 30, c.bits), IMG_OK);
        image_set_area(&image, c.left, c.top, c.right, c.bottom);
        const RowPlacement got = place_rows(image, c.file_rows, c.file_columns, c.fill);
        image_free(&image);
        SCOPED_TRACE(std::to_string(c.bits) + " bits, area from " + std::to_string(c.left) + "," +
                     std::to_string(c.top));
        EXPECT_EQ(got.rows, c.want.rows);
        EXPECT_EQ(got.columns, c.want.columns);
        EXPECT_EQ(got.bytes_left, c.want.bytes_left);
        EXPECT_EQ(got.first_row, c.want.first_row);
        EXPECT_EQ(got.upward, c.want.upward);
    }
}

}  // namespace
