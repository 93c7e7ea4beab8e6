// Inflate: zlib streams (RFC 1950) of deflate blocks (RFC 1951).
//
// A zlib stream is a 2-byte header (method 8, a window of at most 32 KiB, no
// preset dictionary, the pair a multiple of 31), deflate blocks, and the
// Adler-32 of the output, big-endian. Each block starts with 3 bits (last
// block, type): stored (type 0: byte-aligned lengths LEN and ~LEN, then LEN
// raw bytes), fixed Huffman codes (type 1) or codes given in the block (type
// 2: the code lengths, themselves Huffman-coded). A Huffman block is a run of
// symbols: literal bytes, the end of the block, or a length (3..258) followed
// by a distance (1..32768) that copies bytes from that far back in the output.
// Bits are packed from each byte's least significant bit; Huffman codes are
// stored most significant bit first within that order, so they are looked up
// bit-reversed.
//
// Decoding. The bit reader keeps up to 63 bits in a 64-bit word and refills
// it eight bytes at a time with one unaligned load while at least eight input
// bytes remain (the bytes past the last whole one loaded are loaded again by
// the next refill, at the same place, so they do no harm). One refill gives
// the 48 bits the longest symbol needs: a 15-bit length code with 5 extra
// bits and a 15-bit distance code with 13 extra bits. Codes are looked up in
// two-level tables: the first 10 bits (8 for distances) index a table whose
// entry holds the symbol, or points to a second-level table for the longer
// codes that share those bits. A copy from at least 8 bytes back moves 8
// bytes at a time: every byte it reads was written before, and the output
// buffer keeps room for the few bytes written past the copy's end.
//
// Output goes into one buffer that holds the 32 KiB window behind the bytes
// not yet handed out; when it fills, the last 32 KiB move to its front.
// Decoding runs ahead of what was asked for and stops at the first damaged
// symbol or at the end of the data, so the output before either is handed
// out first, as a streaming decoder would.
//
// Truncation: past the end of the data the bit reader supplies zero bytes
// and counts them; a symbol that used any of those bits is not taken.

#include "imaging/readers/png/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace imaging {

namespace {

constexpr size_t kWindowBytes = 32768;
constexpr size_t kOutputBytes = 256 * 1024;  // decoded ahead behind the window
constexpr size_t kMaxMatch = 258;
constexpr size_t kCopySlack = 8;  // written past a copy's end by the 8-byte moves
constexpr size_t kInputBytes = 64 * 1024;

// Table entries: bits 0-4 the code bits to consume, bits 5-7 the kind, bits
// 8-12 the extra bits of a length or distance (or a second-level table's
// index bits), bits 16-31 the value (literal, base, or table offset).
enum Kind : uint32_t {
    kLiteral = 0,
    kLength = 1,
    kEndOfBlock = 2,
    kSubtable = 3,
    kInvalid = 4,
    kDistance = 5,
};
constexpr uint32_t entry(uint32_t bits, Kind kind, uint32_t extra, uint32_t value) {
    return bits | (uint32_t{kind} << 5) | (extra << 8) | (value << 16);
}
constexpr uint32_t entry_bits(uint32_t e) {
    return e & 31;
}
constexpr uint32_t entry_kind(uint32_t e) {
    return (e >> 5) & 7;
}
constexpr uint32_t entry_extra(uint32_t e) {
    return (e >> 8) & 31;
}
constexpr uint32_t entry_value(uint32_t e) {
    return e >> 16;
}

constexpr uint32_t kLitlenPrimaryBits = 10;
constexpr uint32_t kDistPrimaryBits = 8;
constexpr uint32_t kCodeLengthBits = 7;
// Sizes that hold any complete code's two levels (the counts zlib's
// `enough` gives for these primary widths are 1334 and 402).
constexpr size_t kLitlenTableSize = 2048;
constexpr size_t kDistTableSize = 1024;
constexpr size_t kCodeLengthTableSize = size_t{1} << kCodeLengthBits;

constexpr uint32_t kLitlenSymbols = 288;
constexpr uint32_t kDistSymbols = 32;
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code-length code's lengths.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

uint32_t litlen_entry(uint32_t symbol, uint32_t bits) {
    if (symbol < 256) {
        return entry(bits, kLiteral, 0, symbol);
    }
    if (symbol == 256) {
        return entry(bits, kEndOfBlock, 0, 0);
    }
    if (symbol < 286) {
        return entry(bits, kLength, kLengthExtra[symbol - 257], kLengthBase[symbol - 257]);
    }
    return entry(bits, kInvalid, 0, 0);  // 286 and 287 have codes but no meaning
}

uint32_t dist_entry(uint32_t symbol, uint32_t bits) {
    return symbol < 30 ? entry(bits, kDistance, kDistExtra[symbol], kDistBase[symbol])
                       : entry(bits, kInvalid, 0, 0);
}

uint32_t code_length_entry(uint32_t symbol, uint32_t bits) {
    return entry(bits, kLiteral, 0, symbol);
}

enum class CodeUse { kCodeLengths, kSymbols };

// Builds the lookup table of a canonical Huffman code from its code lengths
// (0..15, 0 for unused symbols). False for an over-subscribed code, and for
// an incomplete one unless it is a single code of one bit for symbols (as
// zlib allows); a code with no lengths at all gives a table of invalid
// entries. Entries of unused bit patterns are invalid.
bool build_table(const uint8_t* lengths, uint32_t symbols, uint32_t primary_bits, uint32_t* table,
                 size_t capacity, uint32_t (*make)(uint32_t symbol, uint32_t bits), CodeUse use) {
    uint32_t count[16] = {};
    for (uint32_t s = 0; s < symbols; ++s) {
        ++count[lengths[s]];
    }
    count[0] = 0;
    uint32_t longest = 15;
    while (longest > 0 && count[longest] == 0) {
        --longest;
    }
    const size_t primary_size = size_t{1} << primary_bits;
    std::fill_n(table, primary_size, entry(0, kInvalid, 0, 0));
    if (longest == 0) {
        return true;
    }
    int32_t left = 1;
    for (uint32_t len = 1; len <= 15; ++len) {
        left = 2 * left - static_cast<int32_t>(count[len]);
        if (left < 0) {
            return false;  // over-subscribed
        }
    }
    if (left > 0 && (use == CodeUse::kCodeLengths || longest != 1)) {
        return false;  // incomplete
    }
    // Symbols in canonical order: by length, then by value.
    uint32_t offset[16] = {};
    for (uint32_t len = 1; len < 15; ++len) {
        offset[len + 1] = offset[len] + count[len];
    }
    uint16_t sorted[kLitlenSymbols];
    for (uint32_t s = 0; s < symbols; ++s) {
        if (lengths[s] != 0) {
            sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);
        }
    }
    uint32_t remaining[16];
    std::copy(std::begin(count), std::end(count), remaining);
    const uint32_t placed = static_cast<uint32_t>(offset[15]);  // symbols with a code
    const uint32_t primary_mask = static_cast<uint32_t>(primary_size) - 1;
    size_t next_free = primary_size;
    uint32_t code = 0;  // canonical code, most significant bit first
    uint32_t code_length = lengths[sorted[0]];
    uint32_t sub_prefix = UINT32_MAX;
    size_t sub_start = 0;
    uint32_t sub_bits = 0;
    for (uint32_t k = 0; k < placed; ++k) {
        const uint32_t symbol = sorted[k];
        const uint32_t len = lengths[symbol];
        code <<= len - code_length;
        code_length = len;
        uint32_t reversed = 0;
        for (uint32_t b = 0; b < len; ++b) {
            reversed |= ((code >> b) & 1) << (len - 1 - b);
        }
        if (len <= primary_bits) {
            for (size_t i = reversed; i < primary_size; i += size_t{1} << len) {
                table[i] = make(symbol, len);
            }
        } else {
            const uint32_t prefix = reversed & primary_mask;
            if (prefix != sub_prefix) {
                // A new second-level table, wide enough for the codes that
                // share this prefix (those still to place, shortest first).
                sub_bits = len - primary_bits;
                int32_t room = 1 << sub_bits;
                while (sub_bits + primary_bits < longest) {
                    room -= static_cast<int32_t>(remaining[sub_bits + primary_bits]);
                    if (room <= 0) {
                        break;
                    }
                    ++sub_bits;
                    room <<= 1;
                }
                const size_t size = size_t{1} << sub_bits;
                if (next_free + size > capacity) {
                    return false;  // cannot happen for a complete code; kept for safety
                }
                sub_prefix = prefix;
                sub_start = next_free;
                next_free += size;
                std::fill_n(table + sub_start, size, entry(0, kInvalid, 0, 0));
                table[prefix] =
                    entry(primary_bits, kSubtable, sub_bits, static_cast<uint32_t>(sub_start));
            }
            const uint32_t rest = len - primary_bits;
            for (size_t i = reversed >> primary_bits; i < (size_t{1} << sub_bits);
                 i += size_t{1} << rest) {
                table[sub_start + i] = make(symbol, rest);
            }
        }
        --remaining[len];
        ++code;
    }
    return true;
}

uint64_t low_bits(uint64_t value, uint32_t count) {
    return value & ((uint64_t{1} << count) - 1);
}

}  // namespace

struct Inflater::State {
    enum class Step { kZlibHeader, kBlockHeader, kStored, kHuffman, kTrailer, kDone };

    InflateSource* source = nullptr;

    // Input: [in, in_end) of `input` is unread. Invariant: input <= in <=
    // in_end <= input + kInputBytes.
    std::unique_ptr<uint8_t[]> input;
    const uint8_t* in = nullptr;
    const uint8_t* in_end = nullptr;
    bool source_ended = false;
    uint64_t bits = 0;       // the low `bit_count` bits are the next of the stream
    uint32_t bit_count = 0;  // 0..63
    uint32_t overrun = 0;    // zero bytes supplied past the end of the data

    // Output: [0, written) of `output` is decoded; [handed, written) is not
    // handed out yet; [checked, written) is not in the Adler-32 yet.
    std::unique_ptr<uint8_t[]> output;
    size_t written = 0;
    size_t handed = 0;
    size_t checked = 0;
    uint32_t adler = 1;

    Step step = Step::kZlibHeader;
    bool last_block = false;
    bool damaged = false;    // the data is invalid from here on
    bool truncated = false;  // the data ended inside the stream
    uint32_t stored_left = 0;
    uint32_t litlen[kLitlenTableSize];
    uint32_t dist[kDistTableSize];

    static constexpr size_t kOutputSize = kWindowBytes + kOutputBytes + kMaxMatch + kCopySlack;
    // Huffman symbols are decoded while written stays below this.
    static constexpr size_t kOutputLimit = kWindowBytes + kOutputBytes;

    // Moves the unread input to the front and appends what the source gives.
    void refill_input() {
        const size_t keep = static_cast<size_t>(in_end - in);
        std::memmove(input.get(), in, keep);
        const size_t got = source->fill(input.get() + keep, kInputBytes - keep);
        source_ended = got == 0;
        in = input.get();
        in_end = in + keep + got;
    }

    // At least 56 bits in `bits` (zero bytes past the end of the data).
    void refill_bits() {
        if (in_end - in >= 8) {
            uint64_t word;
            std::memcpy(&word, in, 8);
            bits |= word << bit_count;
            in += (63 - bit_count) >> 3;
            bit_count |= 56;
            return;
        }
        while (bit_count <= 56) {
            if (in == in_end && !source_ended) {
                refill_input();
                if (in_end - in >= 8) {
                    refill_bits();
                    return;
                }
                continue;
            }
            if (in == in_end) {
                ++overrun;
            } else {
                bits |= uint64_t{*in++} << bit_count;
            }
            bit_count += 8;
        }
    }

    // Whether bits past the end of the data were used.
    bool used_overrun() const { return overrun != 0 && bit_count < 8 * overrun; }

    uint32_t take(uint32_t count) {
        const auto value = static_cast<uint32_t>(low_bits(bits, count));
        bits >>= count;
        bit_count -= count;
        return value;
    }

    void drop_to_byte() { take(bit_count & 7); }

    // Moves the window to the front once every byte was handed out and the
    // output buffer is full. Only called with handed == written.
    void make_room() {
        if (written < kOutputLimit) {
            return;
        }
        update_adler();
        std::memmove(output.get(), output.get() + written - kWindowBytes, kWindowBytes);
        written = handed = checked = kWindowBytes;
    }

    void update_adler() {
        adler = static_cast<uint32_t>(
            adler32(adler, output.get() + checked, static_cast<uInt>(written - checked)));
        checked = written;
    }

    void decode();
    bool zlib_header();
    bool block_header();
    bool dynamic_tables();
    void stored();
    void huffman();
    bool trailer();
};

bool Inflater::State::zlib_header() {
    refill_bits();
    const uint32_t cmf = take(8);
    const uint32_t flg = take(8);
    if (used_overrun()) {
        truncated = true;
        return false;
    }
    // Method 8 with a window of at most 32 KiB, the check, no dictionary.
    if ((cmf & 15) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0) {
        damaged = true;
        return false;
    }
    step = Step::kBlockHeader;
    return true;
}

bool Inflater::State::block_header() {
    if (last_block) {
        step = Step::kTrailer;
        return true;
    }
    refill_bits();
    last_block = take(1) != 0;
    const uint32_t type = take(2);
    if (used_overrun()) {
        truncated = true;
        return false;
    }
    switch (type) {
        case 0: {
            drop_to_byte();
            const uint32_t length = take(16);
            const uint32_t inverse = take(16);
            if (used_overrun()) {
                truncated = true;
                return false;
            }
            if ((length ^ inverse) != 0xFFFF) {
                damaged = true;
                return false;
            }
            stored_left = length;
            step = Step::kStored;
            return true;
        }
        case 1: {
            uint8_t lengths[kLitlenSymbols + kDistSymbols];
            std::fill_n(lengths, 144, 8);
            std::fill_n(lengths + 144, 112, 9);
            std::fill_n(lengths + 256, 24, 7);
            std::fill_n(lengths + 280, 8, 8);
            std::fill_n(lengths + kLitlenSymbols, kDistSymbols, 5);
            build_table(lengths, kLitlenSymbols, kLitlenPrimaryBits, litlen, kLitlenTableSize,
                        litlen_entry, CodeUse::kSymbols);
            build_table(lengths + kLitlenSymbols, kDistSymbols, kDistPrimaryBits, dist,
                        kDistTableSize, dist_entry, CodeUse::kSymbols);
            step = Step::kHuffman;
            return true;
        }
        case 2:
            if (!dynamic_tables()) {
                return false;
            }
            step = Step::kHuffman;
            return true;
        default:
            damaged = true;
            return false;
    }
}

bool Inflater::State::dynamic_tables() {
    refill_bits();
    const uint32_t literal_count = take(5) + 257;
    const uint32_t distance_count = take(5) + 1;
    const uint32_t length_count = take(4) + 4;
    if (used_overrun()) {
        truncated = true;
        return false;
    }
    if (literal_count > 286 || distance_count > 30) {
        damaged = true;
        return false;
    }
    uint8_t code_lengths[19] = {};
    for (uint32_t i = 0; i < length_count; ++i) {
        refill_bits();
        code_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(take(3));
    }
    uint32_t code_table[kCodeLengthTableSize];
    if (!build_table(code_lengths, 19, kCodeLengthBits, code_table, kCodeLengthTableSize,
                     code_length_entry, CodeUse::kCodeLengths)) {
        damaged = !used_overrun();
        truncated = !damaged;
        return false;
    }
    // The lengths of both codes, one sequence: 0..15, or 16 (repeat the
    // previous 3..6 times), 17 (3..10 zeros), 18 (11..138 zeros).
    uint8_t lengths[kLitlenSymbols + kDistSymbols] = {};
    const uint32_t total = literal_count + distance_count;
    for (uint32_t i = 0; i < total;) {
        refill_bits();
        const uint32_t e = code_table[low_bits(bits, kCodeLengthBits)];
        if (entry_kind(e) == kInvalid) {
            damaged = !used_overrun();
            truncated = !damaged;
            return false;
        }
        take(entry_bits(e));
        const uint32_t symbol = entry_value(e);
        uint32_t repeat = 1;
        uint8_t value = static_cast<uint8_t>(symbol);
        if (symbol == 16) {
            if (i == 0) {
                damaged = true;
                return false;
            }
            value = lengths[i - 1];
            repeat = 3 + take(2);
        } else if (symbol == 17) {
            value = 0;
            repeat = 3 + take(3);
        } else if (symbol == 18) {
            value = 0;
            repeat = 11 + take(7);
        }
        if (used_overrun()) {
            truncated = true;
            return false;
        }
        if (repeat > total - i) {
            damaged = true;
            return false;
        }
        std::fill_n(lengths + i, repeat, value);
        i += repeat;
    }
    // The literal/length code must give the end of the block a code.
    if (lengths[256] == 0 ||
        !build_table(lengths, literal_count, kLitlenPrimaryBits, litlen, kLitlenTableSize,
                     litlen_entry, CodeUse::kSymbols) ||
        !build_table(lengths + literal_count, distance_count, kDistPrimaryBits, dist,
                     kDistTableSize, dist_entry, CodeUse::kSymbols)) {
        damaged = true;
        return false;
    }
    return true;
}

void Inflater::State::stored() {
    uint8_t* out = output.get();
    // First the whole bytes the bit reader holds, then the input itself.
    while (stored_left > 0 && written < kOutputLimit && bit_count >= 8) {
        if (used_overrun() || bit_count - 8 < 8 * overrun) {
            truncated = true;
            return;
        }
        out[written++] = static_cast<uint8_t>(take(8));
        --stored_left;
    }
    if (stored_left > 0 && written < kOutputLimit) {
        bits = 0;  // holds only bytes at `in`, read again below
        bit_count = 0;
    }
    while (stored_left > 0 && written < kOutputLimit) {
        if (in == in_end) {
            if (source_ended) {
                truncated = true;
                return;
            }
            refill_input();
            continue;
        }
        const size_t n = std::min(
            {static_cast<size_t>(in_end - in), size_t{stored_left}, kOutputLimit - written});
        std::memcpy(out + written, in, n);
        in += n;
        written += n;
        stored_left -= static_cast<uint32_t>(n);
    }
    if (stored_left == 0) {
        step = Step::kBlockHeader;
    }
}

// Decodes symbols until the block ends, the output buffer is full, or the
// data is damaged or ends. The bit reader lives in locals meanwhile: a byte
// written through `out` may alias any member, so members would be read again
// after every literal.
void Inflater::State::huffman() {
    uint8_t* const base = output.get();
    uint8_t* out = base + written;
    uint8_t* const limit = base + kOutputLimit;
    const uint32_t* const lit = litlen;
    const uint32_t* const dst = dist;
    uint64_t b = bits;
    uint32_t n = bit_count;
    const uint8_t* ip = in;
    const uint8_t* end = in_end;
    uint32_t zeros = overrun;
    // At least 56 bits in b: one unaligned load while eight input bytes
    // remain, else the members' slow refill (which reads more input or
    // supplies zero bytes past the end of the data).
    const auto refill = [&] {
        if (end - ip >= 8) {
            uint64_t word;
            std::memcpy(&word, ip, 8);
            b |= word << n;
            ip += (63 - n) >> 3;
            n |= 56;
            return;
        }
        bits = b;
        bit_count = n;
        in = ip;
        refill_bits();
        b = bits;
        n = bit_count;
        ip = in;
        end = in_end;
        zeros = overrun;
    };
    const auto take_bits = [&](uint32_t count) {
        const auto value = static_cast<uint32_t>(low_bits(b, count));
        b >>= count;
        n -= count;
        return value;
    };
    const auto overrun_used = [&] { return zeros != 0 && n < 8 * zeros; };
    while (out < limit) {
        refill();
        uint32_t e = lit[low_bits(b, kLitlenPrimaryBits)];
        if (entry_kind(e) == kSubtable) {
            take_bits(kLitlenPrimaryBits);
            e = lit[entry_value(e) + low_bits(b, entry_extra(e))];
        }
        take_bits(entry_bits(e));
        const uint32_t kind = entry_kind(e);
        if (kind == kLiteral) {
            if (overrun_used()) {
                truncated = true;
                break;
            }
            *out++ = static_cast<uint8_t>(entry_value(e));
            // More literals from the bits held, without a refill: a literal of
            // the primary table takes at most kLitlenPrimaryBits. (Only while no
            // zero byte past the end was supplied, so none can be used.)
            while (zeros == 0 && n >= kLitlenPrimaryBits && out < limit) {
                const uint32_t next = lit[low_bits(b, kLitlenPrimaryBits)];
                if (entry_kind(next) != kLiteral) {
                    break;
                }
                take_bits(entry_bits(next));
                *out++ = static_cast<uint8_t>(entry_value(next));
            }
            continue;
        }
        if (kind == kEndOfBlock) {
            if (overrun_used()) {
                truncated = true;
                break;
            }
            step = Step::kBlockHeader;
            break;
        }
        if (kind != kLength) {
            damaged = !overrun_used();
            truncated = !damaged;
            break;
        }
        const uint32_t length = entry_value(e) + take_bits(entry_extra(e));
        uint32_t d = dst[low_bits(b, kDistPrimaryBits)];
        if (entry_kind(d) == kSubtable) {
            take_bits(kDistPrimaryBits);
            d = dst[entry_value(d) + low_bits(b, entry_extra(d))];
        }
        take_bits(entry_bits(d));
        if (entry_kind(d) != kDistance) {
            damaged = !overrun_used();
            truncated = !damaged;
            break;
        }
        const uint32_t distance = entry_value(d) + take_bits(entry_extra(d));
        if (overrun_used()) {
            truncated = true;
            break;
        }
        // The buffer holds only decoded bytes: the whole output, or (once
        // the window has moved) at least the last 32 KiB.
        if (distance > static_cast<size_t>(out - base)) {
            damaged = true;  // reaches before the start of the output
            break;
        }
        const uint8_t* from = out - distance;
        uint8_t* const copy_end = out + length;
        if (distance >= 8) {
            // Each 8 bytes read lie before the 8 written at the same step.
            while (out < copy_end) {
                uint64_t word;
                std::memcpy(&word, from, 8);
                std::memcpy(out, &word, 8);
                from += 8;
                out += 8;
            }
        } else if (distance == 1) {
            std::memset(out, *from, length);
        } else {
            while (out < copy_end) {
                *out++ = *from++;
            }
        }
        out = copy_end;
    }
    bits = b;
    bit_count = n;
    in = ip;
    written = static_cast<size_t>(out - base);
}

bool Inflater::State::trailer() {
    drop_to_byte();
    refill_bits();
    uint32_t stored_check = 0;
    for (int i = 0; i < 4; ++i) {
        stored_check = (stored_check << 8) | take(8);
    }
    if (used_overrun()) {
        truncated = true;
        return false;
    }
    update_adler();
    if (stored_check != adler) {
        damaged = true;
        return false;
    }
    step = Step::kDone;
    return true;
}

// Decodes on until output is waiting, the stream ends, or decoding stops.
void Inflater::State::decode() {
    make_room();
    while (handed == written && !damaged && !truncated && step != Step::kDone) {
        switch (step) {
            case Step::kZlibHeader:
                zlib_header();
                break;
            case Step::kBlockHeader:
                block_header();
                break;
            case Step::kStored:
                stored();
                break;
            case Step::kHuffman:
                huffman();
                break;
            case Step::kTrailer:
                trailer();
                break;
            case Step::kDone:
                break;
        }
    }
}

Inflater::Inflater() = default;
Inflater::~Inflater() = default;

ImgStatus Inflater::start(InflateSource& source) {
    state_.reset(new (std::nothrow) State);
    if (!state_) {
        return IMG_ERR_MEMORY;
    }
    State& s = *state_;
    s.input.reset(new (std::nothrow) uint8_t[kInputBytes]);
    s.output.reset(new (std::nothrow) uint8_t[State::kOutputSize]);
    if (!s.input || !s.output) {
        return IMG_ERR_MEMORY;
    }
    s.source = &source;
    s.in = s.in_end = s.input.get();
    return IMG_OK;
}

InflateResult Inflater::read(uint8_t* destination, size_t count) {
    State& s = *state_;
    while (count > 0) {
        if (s.handed == s.written) {
            s.decode();
            if (s.handed == s.written) {
                return s.step == State::Step::kDone ? InflateResult::kStreamEnded
                                                    : InflateResult::kDamaged;
            }
        }
        const size_t n = std::min(count, s.written - s.handed);
        if (destination != nullptr) {
            std::memcpy(destination, s.output.get() + s.handed, n);
            destination += n;
        }
        s.handed += n;
        count -= n;
    }
    return InflateResult::kOk;
}

InflateResult Inflater::finish(bool* complete) {
    State& s = *state_;
    *complete = false;
    if (s.handed == s.written) {
        s.decode();
    }
    if (s.handed != s.written) {
        return InflateResult::kStreamEnded;  // more output than was asked for
    }
    if (s.step == State::Step::kDone) {
        *complete = true;
        return InflateResult::kOk;
    }
    // Tolerated: the data ends without the stream's end, but no output is lost.
    return s.truncated ? InflateResult::kOk : InflateResult::kDamaged;
}

bool Inflater::input_left() const {
    const State& s = *state_;
    return s.in != s.in_end || s.bit_count / 8 > s.overrun;
}

}  // namespace imaging
