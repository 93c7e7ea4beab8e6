// Decoding of the CCITT bilevel codings (ITU-T T.4 and T.6).
//
// A row is a sequence of runs that alternate between white and black, starting
// white. One-dimensional rows code each run as make-up codes (multiples of
// 64) ended by one terminating code (0 to 63), from the white or the black
// code list. Two-dimensional rows code each change of colour against the
// reference line (the row above): vertical modes put the change within three
// pixels of the reference line's change b1, pass mode skips to b2, and
// horizontal mode codes the next two runs one-dimensionally.
//
// Codes are recognised with one table access: the white and black tables are
// indexed by the next 13 bits of the stream (the longest run code has 13 bits)
// and the mode table by the next 7 bits; each entry holds what the code means
// and its length, and every index that begins with a code holds that code.
// The tables are built at compile time from the code lists, and the build
// fails if a code list is not prefix-free.
//
// The changing elements of a row (the positions where the colour changes) are
// kept as a sorted list of 16-bit positions. Even entries are changes to
// black, odd entries changes to white, so an entry's parity tells its colour;
// three sentinels at the width end every list, so that b1 and b2 are always
// inside it.

#include "imaging/readers/tiff/tiff_ccitt.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace imaging::tiff {

namespace {

struct Code {
    uint16_t bits;   // the code, right-aligned
    uint8_t length;  // 1..13
    uint16_t run;    // run length, or mode number
};

// Run-length codes of ITU-T T.4: terminating codes for 0 to 63, make-up codes
// for 64 to 1728, and the extended make-up codes for 1792 to 2560 that both
// colours share.
constexpr Code kWhiteCodes[] = {
    {0x35, 8, 0},     {0x07, 6, 1},     {0x07, 4, 2},     {0x08, 4, 3},     {0x0B, 4, 4},
    {0x0C, 4, 5},     {0x0E, 4, 6},     {0x0F, 4, 7},     {0x13, 5, 8},     {0x14, 5, 9},
    {0x07, 5, 10},    {0x08, 5, 11},    {0x08, 6, 12},    {0x03, 6, 13},    {0x34, 6, 14},
    {0x35, 6, 15},    {0x2A, 6, 16},    {0x2B, 6, 17},    {0x27, 7, 18},    {0x0C, 7, 19},
    {0x08, 7, 20},    {0x17, 7, 21},    {0x03, 7, 22},    {0x04, 7, 23},    {0x28, 7, 24},
    {0x2B, 7, 25},    {0x13, 7, 26},    {0x24, 7, 27},    {0x18, 7, 28},    {0x02, 8, 29},
    {0x03, 8, 30},    {0x1A, 8, 31},    {0x1B, 8, 32},    {0x12, 8, 33},    {0x13, 8, 34},
    {0x14, 8, 35},    {0x15, 8, 36},    {0x16, 8, 37},    {0x17, 8, 38},    {0x28, 8, 39},
    {0x29, 8, 40},    {0x2A, 8, 41},    {0x2B, 8, 42},    {0x2C, 8, 43},    {0x2D, 8, 44},
    {0x04, 8, 45},    {0x05, 8, 46},    {0x0A, 8, 47},    {0x0B, 8, 48},    {0x52, 8, 49},
    {0x53, 8, 50},    {0x54, 8, 51},    {0x55, 8, 52},    {0x24, 8, 53},    {0x25, 8, 54},
    {0x58, 8, 55},    {0x59, 8, 56},    {0x5A, 8, 57},    {0x5B, 8, 58},    {0x4A, 8, 59},
    {0x4B, 8, 60},    {0x32, 8, 61},    {0x33, 8, 62},    {0x34, 8, 63},    {0x1B, 5, 64},
    {0x12, 5, 128},   {0x17, 6, 192},   {0x37, 7, 256},   {0x36, 8, 320},   {0x37, 8, 384},
    {0x64, 8, 448},   {0x65, 8, 512},   {0x68, 8, 576},   {0x67, 8, 640},   {0xCC, 9, 704},
    {0xCD, 9, 768},   {0xD2, 9, 832},   {0xD3, 9, 896},   {0xD4, 9, 960},   {0xD5, 9, 1024},
    {0xD6, 9, 1088},  {0xD7, 9, 1152},  {0xD8, 9, 1216},  {0xD9, 9, 1280},  {0xDA, 9, 1344},
    {0xDB, 9, 1408},  {0x98, 9, 1472},  {0x99, 9, 1536},  {0x9A, 9, 1600},  {0x18, 6, 1664},
    {0x9B, 9, 1728},  {0x08, 11, 1792}, {0x0C, 11, 1856}, {0x0D, 11, 1920}, {0x12, 12, 1984},
    {0x13, 12, 2048}, {0x14, 12, 2112}, {0x15, 12, 2176}, {0x16, 12, 2240}, {0x17, 12, 2304},
    {0x1C, 12, 2368}, {0x1D, 12, 2432}, {0x1E, 12, 2496}, {0x1F, 12, 2560},
};

constexpr Code kBlackCodes[] = {
    {0x37, 10, 0},    {0x02, 3, 1},     {0x03, 2, 2},     {0x02, 2, 3},     {0x03, 3, 4},
    {0x03, 4, 5},     {0x02, 4, 6},     {0x03, 5, 7},     {0x05, 6, 8},     {0x04, 6, 9},
    {0x04, 7, 10},    {0x05, 7, 11},    {0x07, 7, 12},    {0x04, 8, 13},    {0x07, 8, 14},
    {0x18, 9, 15},    {0x17, 10, 16},   {0x18, 10, 17},   {0x08, 10, 18},   {0x67, 11, 19},
    {0x68, 11, 20},   {0x6C, 11, 21},   {0x37, 11, 22},   {0x28, 11, 23},   {0x17, 11, 24},
    {0x18, 11, 25},   {0xCA, 12, 26},   {0xCB, 12, 27},   {0xCC, 12, 28},   {0xCD, 12, 29},
    {0x68, 12, 30},   {0x69, 12, 31},   {0x6A, 12, 32},   {0x6B, 12, 33},   {0xD2, 12, 34},
    {0xD3, 12, 35},   {0xD4, 12, 36},   {0xD5, 12, 37},   {0xD6, 12, 38},   {0xD7, 12, 39},
    {0x6C, 12, 40},   {0x6D, 12, 41},   {0xDA, 12, 42},   {0xDB, 12, 43},   {0x54, 12, 44},
    {0x55, 12, 45},   {0x56, 12, 46},   {0x57, 12, 47},   {0x64, 12, 48},   {0x65, 12, 49},
    {0x52, 12, 50},   {0x53, 12, 51},   {0x24, 12, 52},   {0x37, 12, 53},   {0x38, 12, 54},
    {0x27, 12, 55},   {0x28, 12, 56},   {0x58, 12, 57},   {0x59, 12, 58},   {0x2B, 12, 59},
    {0x2C, 12, 60},   {0x5A, 12, 61},   {0x66, 12, 62},   {0x67, 12, 63},   {0x0F, 10, 64},
    {0xC8, 12, 128},  {0xC9, 12, 192},  {0x5B, 12, 256},  {0x33, 12, 320},  {0x34, 12, 384},
    {0x35, 12, 448},  {0x6C, 13, 512},  {0x6D, 13, 576},  {0x4A, 13, 640},  {0x4B, 13, 704},
    {0x4C, 13, 768},  {0x4D, 13, 832},  {0x72, 13, 896},  {0x73, 13, 960},  {0x74, 13, 1024},
    {0x75, 13, 1088}, {0x76, 13, 1152}, {0x77, 13, 1216}, {0x52, 13, 1280}, {0x53, 13, 1344},
    {0x54, 13, 1408}, {0x55, 13, 1472}, {0x5A, 13, 1536}, {0x5B, 13, 1600}, {0x64, 13, 1664},
    {0x65, 13, 1728}, {0x08, 11, 1792}, {0x0C, 11, 1856}, {0x0D, 11, 1920}, {0x12, 12, 1984},
    {0x13, 12, 2048}, {0x14, 12, 2112}, {0x15, 12, 2176}, {0x16, 12, 2240}, {0x17, 12, 2304},
    {0x1C, 12, 2368}, {0x1D, 12, 2432}, {0x1E, 12, 2496}, {0x1F, 12, 2560},
};

// The mode codes, numbered in the order VR3, VR2, VR1, V0, VL1, VL2, VL3,
// pass, horizontal: number n < 7 is the vertical mode with a1 = b1 + 3 - n.
enum Mode : uint8_t { kVertical0 = 3, kPass = 7, kHorizontal = 8 };
constexpr Code kModeCodes[] = {
    {0x03, 7, 0}, {0x03, 6, 1}, {0x03, 3, 2}, {0x01, 1, 3}, {0x02, 3, 4},
    {0x02, 6, 5}, {0x02, 7, 6}, {0x01, 4, 7}, {0x01, 3, 8},
};

constexpr uint32_t kRunIndexBits = 13;
constexpr uint32_t kSentinels = 3;
constexpr uint32_t kModeIndexBits = 7;

// A table entry: the run length (or mode number) in the low 12 bits and the
// code's length above them. An index that no code begins holds the list's
// first code (run 0, or VR3), so damaged data still consumes bits.
template <size_t N>
constexpr std::array<uint16_t, (size_t{1} << N)> build_table(const Code* codes, size_t count) {
    std::array<uint16_t, (size_t{1} << N)> table{};
    std::array<bool, (size_t{1} << N)> filled{};
    for (auto& entry : table) {
        entry = static_cast<uint16_t>(codes[0].run | (codes[0].length << 12));
    }
    for (size_t i = 0; i < count; ++i) {
        const Code& code = codes[i];
        const uint32_t spread = N - code.length;
        const uint32_t first = uint32_t{code.bits} << spread;
        for (uint32_t k = 0; k < (1u << spread); ++k) {
            if (filled[first + k]) {
                throw "code list is not prefix-free";  // fails the constant evaluation
            }
            filled[first + k] = true;
            table[first + k] = static_cast<uint16_t>(code.run | (code.length << 12));
        }
    }
    return table;
}

constexpr auto kWhiteTable = build_table<kRunIndexBits>(kWhiteCodes, std::size(kWhiteCodes));
constexpr auto kBlackTable = build_table<kRunIndexBits>(kBlackCodes, std::size(kBlackCodes));
constexpr auto kModeTable = build_table<kModeIndexBits>(kModeCodes, std::size(kModeCodes));

// Sets the pixels [from, to) of a row to 1 (white).
inline void fill_white(uint8_t* row, uint32_t from, uint32_t to) {
    if (from >= to) {
        return;
    }
    const uint32_t first = from / 8;
    const uint32_t last = (to - 1) / 8;
    const auto head = static_cast<uint8_t>(0xFF >> (from % 8));
    const auto tail = static_cast<uint8_t>(0xFF << (7 - (to - 1) % 8));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    if (last > first + 1) {
        std::memset(row + first + 1, 0xFF, last - first - 1);
    }
    row[last] |= tail;
}

// End-of-line and end-of-facsimile-block codes.
constexpr uint32_t kEol = 0x001;      // 12 bits
constexpr uint32_t kEofb = 0x001001;  // 24 bits: two EOL codes

}  // namespace

ImgStatus FaxDecoder::start(ChunkReader& chunk, FaxCoding coding, uint32_t width,
                            uint32_t rows_per_strip, bool wang) {
    in_ = BitReader{};
    in_.chunk = &chunk;
    coding_ = coding;
    width_ = width;
    rows_per_strip_ = rows_per_strip;
    wang_ = wang;
    if (coding == FaxCoding::kT4TwoD || coding == FaxCoding::kT6) {
        // width <= kMaxFaxSide, so positions fit in 16 bits.
        capacity_ = std::min(width + 1, kMaxChangingElements);
        lists_.reset(new (std::nothrow) uint16_t[2 * (size_t{capacity_} + kSentinels)]);
        if (!lists_) {
            return IMG_ERR_MEMORY;
        }
        reference_ = lists_.get();
        coding_line_ = reference_ + capacity_ + kSentinels;
        reset_reference();
    }
    return IMG_OK;
}

void FaxDecoder::reset_reference() {
    // An all-white line: its only change is at the width.
    std::fill_n(reference_, kSentinels, static_cast<uint16_t>(width_));
}

void FaxDecoder::finish_coding_line(uint32_t used) {
    std::fill_n(coding_line_ + used, kSentinels, static_cast<uint16_t>(width_));
    std::swap(reference_, coding_line_);
}

void FaxDecoder::strip_start(BitReader& in) {
    // Every strip but the first starts on a byte boundary (Wang's T.4 writer
    // does not align them), and a two-dimensional strip against an all-white
    // line.
    if (coding_ != FaxCoding::kT6) {
        if (!wang_) {
            in.align();
        }
        if (coding_ == FaxCoding::kT4TwoD) {
            reset_reference();
        }
        return;
    }
    // A T.6 strip ends in EOFB and may be padded with zero bytes. (T.4 strips
    // are not searched for zero bytes: they may start with an EOL code, whose
    // first byte is zero; the fill and EOL skip takes zero bits anyway.)
    if (in.look(24) == kEofb) {
        in.take(24);
    }
    in.align();
    while (in.look(8) == 0 && in.count >= 8) {
        in.take(8);
    }
    in.exhausted = false;  // the zero bytes may end the data; the row's look decides
    reset_reference();
}

void FaxDecoder::skip_fill_and_eol(BitReader& in) {
    for (;;) {
        const uint32_t next = in.look(12);
        if (in.exhausted) {
            return;
        }
        if (next == 0) {
            in.take(1);  // fill bit
        } else if (next == kEol) {
            in.take(12);
        } else {
            return;
        }
    }
}

// Reads one run of the colour: make-up codes ended by a terminating code.
inline ImgStatus FaxDecoder::run(BitReader& in, bool black, uint32_t* length) const {
    const auto& table = black ? kBlackTable : kWhiteTable;
    uint32_t total = 0;
    for (;;) {
        const uint16_t entry = table[in.look(kRunIndexBits)];
        if (in.exhausted) {
            return IMG_ERR_LZW;
        }
        in.take(entry >> 12);
        const uint32_t run = entry & 0xFFF;
        // Capped at the width: make-up codes past it cannot lengthen the run.
        total = std::min(total + run, width_);
        if (run < 64) {
            *length = total;
            return IMG_OK;
        }
    }
}

ImgStatus FaxDecoder::one_d_row(BitReader& in, uint8_t* out, bool record) {
    uint32_t a0 = 0;
    uint32_t used = 0;
    bool black = false;
    while (a0 < width_) {
        uint32_t length = 0;
        const ImgStatus status = run(in, black, &length);
        if (status != IMG_OK) {
            return status;
        }
        const uint32_t a1 = std::min(a0 + length, width_);
        if (!black) {
            fill_white(out, a0, a1);
        }
        a0 = a1;
        if (record) {
            if (used == capacity_) {
                return IMG_ERR_CCITT_ROW;
            }
            coding_line_[used++] = static_cast<uint16_t>(a0);
        }
        black = !black;
    }
    if (record) {
        finish_coding_line(used);
    }
    return IMG_OK;
}

ImgStatus FaxDecoder::two_d_row(BitReader& in, uint8_t* out) {
    const auto width = static_cast<int32_t>(width_);
    const uint16_t* reference = reference_;
    uint16_t* coding = coding_line_;
    const uint32_t capacity = capacity_;
    int32_t a0 = -1;      // before the first pixel
    uint32_t colour = 0;  // 0 white, 1 black
    uint32_t b = 0;       // index of b1 in the reference line
    uint32_t used = 0;
    while (a0 < width) {
        const uint32_t index = in.look(kModeIndexBits);
        if (in.exhausted || index == 0) {
            return IMG_ERR_LZW;
        }
        const uint16_t entry = kModeTable[index];
        in.take(entry >> 12);
        const uint32_t mode = entry & 0xFFF;

        // b1: the first change right of a0 to the colour opposite a0's, i.e.
        // an entry of a0's colour's parity. Positions before b - 1 are at most
        // a0 (a0 never moves left), so the search starts one entry back.
        if (b > 0) {
            --b;
        }
        // The sentinels end the search: one of the first two has the parity.
        while (int32_t{reference[b]} <= a0 || (b & 1) != colour) {
            ++b;
        }
        const int32_t b1 = reference[b];
        const int32_t b2 = reference[b + 1];
        const int32_t start = std::max(a0, 0);

        if (mode == kPass) {
            if (colour == 0) {
                fill_white(out, uint32_t(start), uint32_t(b2));
            }
            a0 = b2;
            continue;
        }
        const uint32_t recorded = mode == kHorizontal ? 2 : 1;
        if (used + recorded > capacity) {
            return IMG_ERR_CCITT_ROW;
        }
        if (mode == kHorizontal) {
            uint32_t first = 0;
            uint32_t second = 0;
            ImgStatus status = run(in, colour != 0, &first);
            if (status == IMG_OK) {
                status = run(in, colour == 0, &second);
            }
            if (status != IMG_OK) {
                return status;
            }
            const int32_t a1 = std::min(start + int32_t(first), width);
            const int32_t a2 = std::min(a1 + int32_t(second), width);
            fill_white(out, uint32_t(colour == 0 ? start : a1), uint32_t(colour == 0 ? a1 : a2));
            coding[used++] = static_cast<uint16_t>(a1);
            coding[used++] = static_cast<uint16_t>(a2);
            a0 = a2;
            continue;
        }
        // Vertical: a1 within three pixels of b1; damaged data that would move
        // left of a0 or past the row is held at a0 or the width.
        const int32_t a1 = std::clamp(b1 + 3 - int32_t(mode), start, width);
        if (colour == 0) {
            fill_white(out, uint32_t(start), uint32_t(a1));
        }
        coding[used++] = static_cast<uint16_t>(a1);
        a0 = a1;
        colour ^= 1;
    }
    finish_coding_line(used);
    return IMG_OK;
}

ImgStatus FaxDecoder::decode_row(uint32_t row, uint8_t* out) {
    std::memset(out, 0, (size_t{width_} + 7) / 8);
    // The bit reader lives in a local for the row, out of reach of the row's
    // stores, and is written back at its end.
    BitReader in = in_;
    if (row != 0 && rows_per_strip_ != 0 && row % rows_per_strip_ == 0) {
        strip_start(in);
    }
    ImgStatus status = IMG_OK;
    switch (coding_) {
        case FaxCoding::kModifiedHuffman:
            status = one_d_row(in, out, false);
            in.align();
            break;
        case FaxCoding::kT4OneD:
            skip_fill_and_eol(in);
            status = one_d_row(in, out, false);
            break;
        case FaxCoding::kT4TwoD: {
            skip_fill_and_eol(in);
            const bool one_d = in.look(1) != 0;
            if (in.exhausted) {
                status = IMG_ERR_LZW;
                break;
            }
            in.take(1);
            status = one_d ? one_d_row(in, out, true) : two_d_row(in, out);
            break;
        }
        case FaxCoding::kT6:
            status = two_d_row(in, out);
            break;
    }
    in_ = in;
    return status;
}

}  // namespace imaging::tiff
