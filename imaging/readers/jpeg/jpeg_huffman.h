// Huffman decoding of JPEG entropy-coded data.
//
// Method. A DHT segment gives, for a table, the number of codes of each length
// 1..16 and the symbols in code order. T.81 Annex C assigns canonical codes:
// the codes of one length are consecutive, and the first code of length l+1 is
// (last code of length l + 1) * 2. The derived table keeps, per length, the
// largest code (maxcode, -1 when no code has that length) and the offset that
// turns a code into its symbol's index. Codes of up to 8 bits decode with one
// look-up in a 256-entry table indexed by the next 8 bits of the stream, which
// gives the code's length and its symbol; longer codes are found by comparing
// the next 9, 10 ... 16 bits with maxcode. For AC coefficients a second table,
// indexed by the next kFastBits bits, holds the run and the value when the
// code and the value's bits together take at most kFastBits bits (most
// coefficients of a photo), and the end of a block, so that they cost one
// look-up too.
//
// The bit reader keeps up to 64 bits in an accumulator, most significant
// first. It removes the zero byte that follows every 0xFF data byte, skips fill
// bytes, and stops at a marker (or the end of the data): from then on it
// supplies zero bits and counts them, so a decoder that consumed any of them
// knows that the data it decoded ran out (overran()). Where the next eight
// bytes hold no 0xFF, as most do, it takes the bytes that fit in one load.
// The sequential block decoder keeps the accumulator in locals (a BitWindow)
// and gives it back at the end of the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/readers/reader_io.h"

namespace imaging::jpeg {

// T.81 Figure A.6: the natural (row-major) position of the k-th coefficient in
// zig-zag order.
inline constexpr uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

inline constexpr int kFastBits = 10;

struct HuffmanTable {
    // Indexed by the next 8 bits: (code length << 8) | symbol, or 0 when the
    // code is longer than 8 bits.
    uint16_t lookahead[256];
    // For AC decoding, indexed by the next kFastBits bits: when an AC code and
    // all of its value bits lie within them, value * 65536 + (run + 1) * 256 +
    // bits used, the step to the coefficient after the one it sets; for the
    // end-of-block code, 64 * 256 + bits used (a step past any block); else 0.
    int32_t fast_ac[1 << kFastBits];
    int32_t maxcode[18];       // [1..16]; [17] is a sentinel above every code
    int32_t value_offset[17];  // symbol index = code + value_offset[length]
    uint8_t symbols[256];
};

// Derives the table from a DHT's 16 counts and its symbols (total of them).
// Returns false when the counts total more than 256 or assign more codes of
// some length than the length holds.
bool build_huffman_table(const uint8_t counts[16], const uint8_t* symbols, uint32_t total,
                         HuffmanTable* table);

// The bit reader's accumulator in a decoder's locals.
struct BitWindow {
    uint64_t acc;  // valid bits at the top, zeros below
    int bits;      // valid bits, padding included

    uint32_t peek(int n) const { return static_cast<uint32_t>(acc >> (64 - n)); }
    void skip(int n) {
        acc <<= n;
        bits -= n;
    }
    // n in 1..16 bits, taken and extended to a signed value (T.81 F.2.2.1).
    int32_t take_signed(int n) {
        const int32_t v = static_cast<int32_t>(peek(n));
        skip(n);
        return v < (1 << (n - 1)) ? v - (1 << n) + 1 : v;
    }
};

class BitReader {
  public:
    // Takes over the chunk's unread bytes.
    void start(ChunkReader& chunk);
    // Gives the bytes not yet taken back to the chunk; held bits are dropped.
    // Returns the marker the reader stopped at (0 when none).
    uint8_t finish();

    // At least n (<= 57) bits available (zeros past the end of the data).
    void fill(int n) {
        if (bits_ < n) {
            refill();
        }
    }
    uint32_t peek(int n) const { return static_cast<uint32_t>(acc_ >> (64 - n)); }
    void skip(int n) {
        acc_ <<= n;
        bits_ -= n;
    }
    // n in 1..16 bits, after fill().
    uint32_t take(int n) {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // n in 1..16 bits, taken and extended to a signed value (T.81 F.2.2.1).
    int32_t take_signed(int n) {
        const int32_t v = static_cast<int32_t>(take(n));
        return v < (1 << (n - 1)) ? v - (1 << n) + 1 : v;
    }

    // True once bits past the end of the data (or past a marker) were used.
    bool overran() const { return bits_ < padding_; }

    // The accumulator for a decoder's locals, and back.
    BitWindow window() const { return BitWindow{acc_, bits_}; }
    void put_back(BitWindow w) {
        acc_ = w.acc;
        bits_ = w.bits;
    }
    // At least 32 bits in the window (zeros past the end of the data).
    void top_up(BitWindow& w) {
        if (w.bits >= 32) {
            return;
        }
        if (!stopped_ && end_ - cur_ >= 8) {
            uint64_t word;
            std::memcpy(&word, cur_, sizeof word);
            word = __builtin_bswap64(word);    // the first byte on top
            const int n = (64 - w.bits) >> 3;  // whole bytes that fit: 4..8
            const uint64_t taken = ~uint64_t{0} << (64 - 8 * n);
            // A byte 0xFF among them (flagged here, with perhaps an earlier
            // byte beside it) needs the careful way.
            const uint64_t ones = ~word;
            const uint64_t ff = (ones - 0x0101010101010101) & ~ones & 0x8080808080808080;
            if ((ff & taken) == 0) {
                w.acc |= (word & taken) >> w.bits;
                w.bits += 8 * n;
                cur_ += n;
                return;
            }
        }
        put_back(w);
        refill();
        w = window();
    }

    // Restart: drops the held bits, finds the next marker and, when it is
    // RST0..RST7, goes on reading after it. Any other marker (or the end of the
    // data) leaves the reader stopped: only zeros follow.
    void restart();

  private:
    void refill();
    bool reload();  // more bytes from the chunk; false at the end of the data
    bool next_byte(uint8_t* out);
    bool peek_byte(uint8_t* out);
    // After a 0xFF: skips fill bytes; true for a stuffed zero (consumed),
    // false when a marker (consumed, recorded) or the end of the data stops it.
    bool after_ff();

    ChunkReader* chunk_ = nullptr;
    const uint8_t* base_ = nullptr;  // the bytes taken from the chunk: [base, end)
    const uint8_t* cur_ = nullptr;   // base <= cur <= end
    const uint8_t* end_ = nullptr;
    uint64_t acc_ = 0;  // valid bits at the top, zeros below
    int bits_ = 0;      // valid bits, padding included
    int padding_ = 0;   // of those, zero bits supplied past the data
    bool stopped_ = false;
    uint8_t marker_ = 0;
};

// Decodes one symbol from a BitReader or BitWindow holding at least 16 bits.
// Returns the symbol, or -1 for a code longer than 16 bits.
template <class Bits>
inline int decode_symbol(Bits& bits, const HuffmanTable& table) {
    const uint16_t entry = table.lookahead[bits.peek(8)];
    if (entry != 0) {
        bits.skip(entry >> 8);
        return entry & 0xFF;
    }
    const int32_t code16 = static_cast<int32_t>(bits.peek(16));
    for (int length = 9; length <= 16; ++length) {
        const int32_t code = code16 >> (16 - length);
        if (code <= table.maxcode[length]) {
            bits.skip(length);
            return table.symbols[(code + table.value_offset[length]) & 0xFF];
        }
    }
    return -1;
}

// Sequential block: the coefficients (zeroed by the caller) in natural order.
// Returns the highest zig-zag index set (0 for DC only), or -1 for a bad code.
int decode_block(BitReader& bits, const HuffmanTable& dc, const HuffmanTable& ac,
                 int16_t* predictor, int16_t* block);

// Progressive scans (T.81 Annex G.1.2). Each returns false for a bad code.
// `last` is the highest zig-zag index of the block that may be non-zero: the
// AC scans raise it as they set coefficients, and the refinements pass over
// the zeros beyond it at once.
struct ProgressiveScan {
    uint32_t ss, se, al;
    uint32_t eob_run = 0;
};
bool decode_dc_first(BitReader& bits, const HuffmanTable& dc, int16_t* predictor, uint32_t al,
                     int16_t* block);
void decode_dc_refine(BitReader& bits, uint32_t al, int16_t* block);
bool decode_ac_first(BitReader& bits, const HuffmanTable& ac, ProgressiveScan& scan, int16_t* block,
                     uint8_t& last);
bool decode_ac_refine(BitReader& reader, const HuffmanTable& ac, ProgressiveScan& scan,
                      int16_t* block, uint8_t& last);

}  // namespace imaging::jpeg
