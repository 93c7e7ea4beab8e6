// The CCITT bilevel codings of TIFF: modified Huffman (compression 2), ITU-T
// T.4 one- and two-dimensional (compression 3) and ITU-T T.6 (compression 4).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "imaging/readers/reader_io.h"

namespace imaging::tiff {

enum class FaxCoding {
    kModifiedHuffman,  // one-dimensional rows, each starting on a byte boundary
    kT4OneD,           // one-dimensional rows, each after optional fill and EOL codes
    kT4TwoD,           // a tag bit before each row picks one- or two-dimensional coding
    kT6,               // two-dimensional rows, every strip ending in EOFB
};

// The widest and highest image the two-dimensional codings accept: changing
// elements are kept as 16-bit positions.
inline constexpr uint32_t kMaxFaxSide = 65535;

// The most changing elements a row may hold in the two-dimensional codings.
inline constexpr uint32_t kMaxChangingElements = 16384;

// Decodes rows one at a time from a chunk's byte stream.
class FaxDecoder {
  public:
    // width: pixels per row (at most kMaxFaxSide for the two-dimensional
    // codings); rows_per_strip: rows of a strip (the first row of every strip
    // but the first starts on a byte boundary); wang: the file's Software tag
    // names Wang, whose T.4 strips are not byte aligned. Returns 0 or
    // IMG_ERR_MEMORY.
    [[nodiscard]] ImgStatus start(ChunkReader& chunk, FaxCoding coding, uint32_t width,
                                  uint32_t rows_per_strip, bool wang);

    // Decodes row number `row` into `out` ((width + 7) / 8 bytes), one bit per
    // pixel, most significant bit first, white pixels as 1 bits. Returns 0,
    // IMG_ERR_LZW when the data ends or a mode code is all zeros, or
    // IMG_ERR_CCITT_ROW when the row has more changing elements than the list
    // holds.
    [[nodiscard]] ImgStatus decode_row(uint32_t row, uint8_t* out);

  private:
    // The next bits of the stream, most significant bit first.
    //
    // Invariant: 0 <= count <= 64; the top `count` bits of `bits` are the
    // stream's next bits and the bits below them are 0, so a look past the
    // data reads zeros. A look that finds no bit at all marks the data as
    // exhausted; every decoding loop stops on that mark, and every code taken
    // consumes at least one bit, so no loop runs without consuming data.
    struct BitReader {
        ChunkReader* chunk = nullptr;
        uint64_t bits = 0;
        uint32_t count = 0;
        bool exhausted = false;

        // Loads whole bytes while at most 56 bits are held, from the chunk's
        // unread bytes, refilling it only when none are left.
        void load() {
            ChargedBytes ahead = chunk->ahead();
            const size_t n = std::min<size_t>((64 - count) / 8, ahead.left());
            if (n == 0) {
                uint8_t byte = 0;
                if (count <= 56 && chunk->byte(&byte)) {
                    bits |= uint64_t{byte} << (56 - count);
                    count += 8;
                    load();
                }
                return;
            }
            const uint8_t* p = ahead.span(n);
            for (size_t i = 0; i < n; ++i, count += 8) {
                bits |= uint64_t{p[i]} << (56 - count);
            }
            chunk->advance(n);
        }
        uint32_t look(uint32_t n) {
            if (count < n) {
                load();
                exhausted = exhausted || count == 0;
            }
            return static_cast<uint32_t>(bits >> (64 - n));
        }
        void take(uint32_t n) {
            bits <<= n;
            count = n < count ? count - n : 0;
        }
        // Drops the bits left in the partly used byte.
        void align() { take(count % 8); }
    };

    void strip_start(BitReader& in);
    void skip_fill_and_eol(BitReader& in);
    ImgStatus run(BitReader& in, bool black, uint32_t* length) const;
    ImgStatus one_d_row(BitReader& in, uint8_t* out, bool record);
    ImgStatus two_d_row(BitReader& in, uint8_t* out);
    void reset_reference();
    void finish_coding_line(uint32_t used);

    BitReader in_;
    FaxCoding coding_ = FaxCoding::kModifiedHuffman;
    uint32_t width_ = 0;
    uint32_t rows_per_strip_ = 0;
    bool wang_ = false;
    // Changing-element lists (two-dimensional codings): positions in the
    // reference line and the coding line, each followed by three sentinels at
    // the width.
    std::unique_ptr<uint16_t[]> lists_;
    uint16_t* reference_ = nullptr;
    uint16_t* coding_line_ = nullptr;
    uint32_t capacity_ = 0;  // changing elements a row may hold
};

}  // namespace imaging::tiff
