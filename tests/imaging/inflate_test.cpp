// The streaming inflater against zlib: every kind of deflate block, output
// taken in slices of any size, input given in pieces of any size, and damaged
// or cut streams.
#include "imaging/readers/png/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using imaging::InflateResult;

// Hands out a stream in pieces of at most `piece` bytes.
class PieceSource final : public imaging::InflateSource {
  public:
    PieceSource(const Bytes& data, size_t piece) : data_(data), piece_(piece) {}
    size_t fill(uint8_t* destination, size_t size) override {
        const size_t n = std::min({size, piece_, data_.size() - at_});
        std::copy_n(data_.begin() + ptrdiff_t(at_), n, destination);
        at_ += n;
        return n;
    }

  private:
    const Bytes& data_;
    size_t piece_;
    size_t at_ = 0;
};

Bytes compressed(const Bytes& raw, int level, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy);
    Bytes out(deflateBound(&z, uLong(raw.size())));
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Text-like runs, noise and long repeats: literals, short and far matches.
Bytes sample(size_t size) {
    Bytes raw(size);
    uint32_t seed = 99;
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        const size_t region = (i / 5000) % 3;
        raw[i] = region == 0   ? uint8_t("deflate streams "[i % 16])
                 : region == 1 ? uint8_t(seed >> 24)
                               : raw[i - 4000 + (seed >> 28)];
    }
    return raw;
}

// Inflates `stream` giving input in pieces and taking output in slices.
InflateResult inflate_all(const Bytes& stream, size_t piece, size_t slice, Bytes* out,
                          size_t expected, bool* complete) {
    PieceSource source(stream, piece);
    imaging::Inflater inflater;
    EXPECT_EQ(inflater.start(source), imaging::IMG_OK);
    out->assign(expected, 0);
    for (size_t at = 0; at < expected; at += slice) {
        const InflateResult r = inflater.read(out->data() + at, std::min(slice, expected - at));
        if (r != InflateResult::kOk) {
            return r;
        }
    }
    return inflater.finish(complete);
}

TEST(Inflate, EveryBlockKindInAnyPiecesAndSlices) {
    const Bytes raw = sample(300000);
    for (const Bytes& z : {compressed(raw, 0), compressed(raw, 1), compressed(raw, 6),
                           compressed(raw, 9), compressed(raw, 6, Z_FIXED),
                           compressed(raw, 6, Z_HUFFMAN_ONLY), compressed(raw, 6, Z_RLE)}) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{65536}}) {
            for (size_t slice : {size_t{1}, size_t{1000}, raw.size()}) {
                if (piece == 1 && slice == 1) {
                    continue;  // slow, and covered by its neighbours
                }
                Bytes out;
                bool complete = false;
                ASSERT_EQ(inflate_all(z, piece, slice, &out, raw.size(), &complete),
                          InflateResult::kOk);
                EXPECT_TRUE(complete);
                EXPECT_TRUE(out == raw) << piece << " " << slice;
            }
        }
    }
}

TEST(Inflate, CutDamagedAndOverlongStreams) {
    const Bytes raw = sample(40000);
    const Bytes z = compressed(raw, 6);
    Bytes out;
    bool complete = true;
    // Cut anywhere in its blocks: the bytes before the cut come out, then
    // the stream is damaged; cut in its check value, every byte is there.
    for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, z.size() / 3, z.size() / 2}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(inflate_all(Bytes(z.begin(), z.begin() + ptrdiff_t(cut)), 4096, 777, &out,
                              raw.size(), &complete),
                  InflateResult::kDamaged);
    }
    EXPECT_EQ(inflate_all(Bytes(z.begin(), z.end() - 2), 4096, 777, &out, raw.size(), &complete),
              InflateResult::kOk);
    EXPECT_FALSE(complete);
    EXPECT_TRUE(out == raw);
    // A wrong check value, a preset dictionary, a bad header.
    Bytes bad = z;
    bad.back() ^= 1;
    EXPECT_EQ(inflate_all(bad, 4096, 777, &out, raw.size(), &complete), InflateResult::kDamaged);
    bad = z;
    bad[0] = 0x78;
    bad[1] = 0x20;  // a dictionary, with the header's check right
    EXPECT_EQ(inflate_all(bad, 4096, 777, &out, raw.size(), &complete), InflateResult::kDamaged);
    bad = z;
    bad[0] = 0x79;
    EXPECT_EQ(inflate_all(bad, 4096, 777, &out, raw.size(), &complete), InflateResult::kDamaged);
    // Fewer bytes asked than the stream holds; more asked than it holds.
    EXPECT_EQ(inflate_all(z, 4096, 777, &out, raw.size() - 1, &complete),
              InflateResult::kStreamEnded);
    EXPECT_EQ(inflate_all(z, 4096, 777, &out, raw.size() + 1, &complete),
              InflateResult::kStreamEnded);
    // Every byte flipped in turn in the first 300: never more output than
    // asked, never a crash, and the damage found or the bytes still right.
    for (size_t i = 2; i < 300; ++i) {
        bad = z;
        bad[i] ^= 0x5A;
        const InflateResult r = inflate_all(bad, 4096, 4096, &out, raw.size(), &complete);
        EXPECT_TRUE(r != InflateResult::kOk || !complete || out == raw) << i;
    }
}

TEST(Inflate, BytesBehindTheStreamAreSeen) {
    const Bytes raw = sample(1000);
    Bytes z = compressed(raw, 6);
    for (bool extra : {false, true}) {
        if (extra) {
            z.push_back(0);
        }
        PieceSource source(z, 64);
        imaging::Inflater inflater;
        ASSERT_EQ(inflater.start(source), imaging::IMG_OK);
        Bytes out(raw.size());
        ASSERT_EQ(inflater.read(out.data(), out.size()), InflateResult::kOk);
        bool complete = false;
        ASSERT_EQ(inflater.finish(&complete), InflateResult::kOk);
        EXPECT_TRUE(complete);
        EXPECT_EQ(inflater.input_left(), extra);
    }
}

}  // namespace
