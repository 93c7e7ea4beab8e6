// Derived Huffman tables, the bit reader and block decoding (see
// jpeg_huffman.h for the method).

#include "imaging/readers/jpeg/jpeg_huffman.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace imaging::jpeg {

namespace {

// kZigzag one place on: the natural position of the coefficient before index
// k (k in 1..64).
constexpr std::array<uint8_t, 65> make_zigzag_before() {
    std::array<uint8_t, 65> before{};
    for (int k = 1; k <= 64; ++k) {
        before[k] = kZigzag[k - 1];
    }
    return before;
}
constexpr std::array<uint8_t, 65> kZigzagBefore = make_zigzag_before();

// T.81 F.2.2.1: `size` bits v as a signed value.
constexpr int extend(int v, int size) {
    return v < (1 << (size - 1)) ? v - (1 << size) + 1 : v;
}

// The AC table's kFastBits-bit look-up (see HuffmanTable::fast_ac), from the
// codes already checked to fit their lengths.
void build_fast_ac(const uint8_t counts[16], const uint8_t* symbols, HuffmanTable* table) {
    int32_t code = 0;   // the next code of the current length
    int32_t index = 0;  // the index of its symbol
    for (int length = 1; length <= kFastBits; ++length) {
        for (int i = 0; i < counts[length - 1]; ++i, ++code, ++index) {
            const int run = symbols[index] >> 4;
            const int size = symbols[index] & 15;
            // Runs of zeros (ZRL) and of end-of-band blocks take the long way.
            if ((size == 0 && run != 0) || length + size > kFastBits) {
                continue;
            }
            const int spare = kFastBits - length - size;  // bits that do not matter
            const int step = size == 0 ? 64 : run + 1;
            for (int v = 0; v < (1 << size); ++v) {
                const int value = size == 0 ? 0 : extend(v, size);
                const int32_t entry = value * 65536 + step * 256 + length + size;
                const int32_t first = ((code << size) | v) << spare;
                for (int32_t e = first; e < first + (1 << spare); ++e) {
                    table->fast_ac[e] = entry;
                }
            }
        }
        code <<= 1;
    }
}

}  // namespace

bool build_huffman_table(const uint8_t counts[16], const uint8_t* symbols, uint32_t total,
                         HuffmanTable* table) {
    if (total > 256) {
        return false;
    }
    std::memset(table, 0, sizeof *table);
    std::memcpy(table->symbols, symbols, total);
    int32_t code = 0;   // the next code of the current length
    int32_t index = 0;  // the index of its symbol
    for (int length = 1; length <= 16; ++length) {
        const int32_t n = counts[length - 1];
        if (n == 0) {
            table->maxcode[length] = -1;
        } else {
            table->value_offset[length] = index - code;
            for (int32_t i = 0; i < n && length <= 8; ++i) {
                // Codes of up to 8 bits fill 2^(8 - length) look-ahead entries.
                const int32_t c = code + i;
                if (c >= (1 << length)) {
                    return false;
                }
                const auto entry = static_cast<uint16_t>((length << 8) | symbols[index + i]);
                const int32_t first = c << (8 - length);
                for (int32_t e = first; e < first + (1 << (8 - length)); ++e) {
                    table->lookahead[e] = entry;
                }
            }
            code += n;
            index += n;
            table->maxcode[length] = code - 1;
            // The codes must fit in `length` bits, and none may be all ones.
            if (code >= (1 << length)) {
                return false;
            }
        }
        code <<= 1;
    }
    table->maxcode[17] = 0xFFFFF;
    build_fast_ac(counts, symbols, table);
    return true;
}

// ---------------------------------------------------------------------------
// Bit reader

void BitReader::start(ChunkReader& chunk) {
    chunk_ = &chunk;
    ChargedBytes in = chunk.ahead();
    const size_t n = in.left();
    base_ = cur_ = in.span(n);
    end_ = base_ + n;
    acc_ = 0;
    bits_ = 0;
    padding_ = 0;
    stopped_ = false;
    marker_ = 0;
}

uint8_t BitReader::finish() {
    chunk_->advance(static_cast<size_t>(cur_ - base_));
    base_ = cur_ = end_ = nullptr;
    acc_ = 0;
    bits_ = 0;
    padding_ = 0;
    const uint8_t marker = marker_;
    marker_ = 0;
    stopped_ = false;
    return marker;
}

bool BitReader::reload() {
    chunk_->advance(static_cast<size_t>(cur_ - base_));
    base_ = cur_ = end_ = nullptr;
    if (!chunk_->next_step()) {
        return false;
    }
    ChargedBytes in = chunk_->ahead();
    const size_t n = in.left();
    base_ = cur_ = in.span(n);
    end_ = base_ + n;
    return n > 0;
}

bool BitReader::next_byte(uint8_t* out) {
    if (cur_ == end_ && !reload()) {
        return false;
    }
    *out = *cur_++;
    return true;
}

bool BitReader::peek_byte(uint8_t* out) {
    if (cur_ == end_ && !reload()) {
        return false;
    }
    *out = *cur_;
    return true;
}

bool BitReader::after_ff() {
    uint8_t next = 0;
    for (;;) {
        if (!peek_byte(&next)) {
            stopped_ = true;  // the data ends with a lone 0xFF
            return false;
        }
        ++cur_;
        if (next != 0xFF) {
            break;  // more 0xFF bytes are fill
        }
    }
    if (next == 0x00) {
        return true;
    }
    stopped_ = true;
    marker_ = next;
    return false;
}

void BitReader::refill() {
    while (bits_ <= 56) {
        if (!stopped_) {
            // Fast path: plain data bytes in the buffer.
            while (bits_ <= 56 && cur_ != end_ && *cur_ != 0xFF) {
                acc_ |= uint64_t{*cur_++} << (56 - bits_);
                bits_ += 8;
            }
            if (bits_ > 56) {
                break;
            }
            uint8_t b = 0;
            if (!next_byte(&b)) {
                stopped_ = true;  // the end of the data
            } else if (b != 0xFF || after_ff()) {
                acc_ |= uint64_t{b} << (56 - bits_);
                bits_ += 8;
                continue;
            }
        }
        // Past a marker or the end of the data: zero bits, counted.
        const int add = 64 - bits_ - ((64 - bits_) & 7);
        bits_ += add;
        padding_ += add;
    }
}

void BitReader::restart() {
    acc_ = 0;
    bits_ = 0;
    padding_ = 0;
    uint8_t b = 0;
    while (!stopped_) {
        if (!next_byte(&b)) {
            stopped_ = true;
        } else if (b == 0xFF) {
            after_ff();  // a stuffed zero is skipped like other data
        }
    }
    if (marker_ >= 0xD0 && marker_ <= 0xD7) {
        stopped_ = false;
        marker_ = 0;
    }
}

// ---------------------------------------------------------------------------
// Block decoding

int decode_block(BitReader& reader, const HuffmanTable& dc, const HuffmanTable& ac,
                 int16_t* predictor, int16_t* block) {
    BitWindow bits = reader.window();
    reader.top_up(bits);
    const int s = decode_symbol(bits, dc);
    if (s < 0 || s > 15) {
        reader.put_back(bits);
        return -1;
    }
    const int32_t diff = s == 0 ? 0 : bits.take_signed(s);
    *predictor = static_cast<int16_t>(static_cast<uint16_t>(*predictor + diff));
    block[0] = *predictor;
    // `next` is the zig-zag index after the last coefficient set (1 for none).
    uint32_t next = 1;
    for (uint32_t k = 1; k < 64;) {
        reader.top_up(bits);
        const int32_t fast = ac.fast_ac[bits.peek(kFastBits)];
        if (fast != 0) {
            bits.skip(fast & 0xFF);
            k += (static_cast<uint32_t>(fast) >> 8) & 0xFF;  // past the coefficient set
            if (k > 64) {
                break;  // the end of the block, or a run past it
            }
            block[kZigzagBefore[k]] = static_cast<int16_t>(fast >> 16);
            next = k;
            continue;
        }
        const int rs = decode_symbol(bits, ac);
        if (rs < 0) {
            reader.put_back(bits);
            return -1;
        }
        const uint32_t r = static_cast<uint32_t>(rs) >> 4;
        const int size = rs & 15;
        if (size == 0) {
            if (r != 15) {
                break;  // end of block
            }
            k += 16;
            continue;
        }
        k += r;
        if (k > 63) {
            break;  // a run past the block's end ends it
        }
        block[kZigzag[k]] = static_cast<int16_t>(bits.take_signed(size));
        next = ++k;
    }
    const int last = static_cast<int>(next) - 1;
    reader.put_back(bits);
    return last;
}

bool decode_dc_first(BitReader& bits, const HuffmanTable& dc, int16_t* predictor, uint32_t al,
                     int16_t* block) {
    bits.fill(32);
    const int s = decode_symbol(bits, dc);
    if (s < 0 || s > 15) {
        return false;
    }
    const int32_t diff = s == 0 ? 0 : bits.take_signed(s);
    *predictor = static_cast<int16_t>(static_cast<uint16_t>(*predictor + diff));
    block[0] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(*predictor) << al));
    return true;
}

void decode_dc_refine(BitReader& bits, uint32_t al, int16_t* block) {
    bits.fill(8);
    if (bits.take(1) != 0) {
        block[0] = static_cast<int16_t>(static_cast<uint16_t>(block[0]) | (1u << al));
    }
}

bool decode_ac_first(BitReader& bits, const HuffmanTable& ac, ProgressiveScan& scan, int16_t* block,
                     uint8_t& last) {
    if (scan.eob_run > 0) {
        --scan.eob_run;
        return true;
    }
    for (uint32_t k = scan.ss; k <= scan.se; ++k) {
        bits.fill(32);
        const int32_t fast = ac.fast_ac[bits.peek(kFastBits)];
        if (fast != 0) {
            bits.skip(fast & 0xFF);
            k += ((static_cast<uint32_t>(fast) >> 8) & 0xFF) - 1;
            if (k > scan.se) {
                break;  // the end of the band, this block's only, or a run past it
            }
            block[kZigzag[k]] = static_cast<int16_t>(
                static_cast<uint16_t>(static_cast<uint32_t>(fast >> 16) << scan.al));
            last = std::max(last, static_cast<uint8_t>(k));
            continue;
        }
        const int rs = decode_symbol(bits, ac);
        if (rs < 0) {
            return false;
        }
        const uint32_t r = static_cast<uint32_t>(rs) >> 4;
        const int size = rs & 15;
        if (size == 0) {
            if (r != 15) {
                // A run of r bits' worth of end-of-band blocks, this one included.
                scan.eob_run = (1u << r) - 1;
                if (r > 0) {
                    scan.eob_run += bits.take(static_cast<int>(r));
                }
                break;
            }
            k += 15;
            continue;
        }
        k += r;
        const int32_t value = bits.take_signed(size);
        if (k > scan.se) {
            break;  // a run past the band ends it
        }
        block[kZigzag[k]] =
            static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) << scan.al));
        last = std::max(last, static_cast<uint8_t>(k));
    }
    return true;
}

namespace {

// A correction bit for a coefficient already non-zero: it adds the next lower
// bit in the direction of its sign, once.
inline void refine_nonzero(BitReader& reader, BitWindow& bits, int16_t* coefficient, int32_t p1) {
    reader.top_up(bits);
    const bool one = bits.peek(1) != 0;
    bits.skip(1);
    if (one && (*coefficient & p1) == 0) {
        const int32_t v = *coefficient >= 0 ? *coefficient + p1 : *coefficient - p1;
        *coefficient = static_cast<int16_t>(static_cast<uint16_t>(v));
    }
}

}  // namespace

bool decode_ac_refine(BitReader& reader, const HuffmanTable& ac, ProgressiveScan& scan,
                      int16_t* block, uint8_t& last) {
    const int32_t p1 = int32_t{1} << scan.al;
    BitWindow bits = reader.window();
    uint32_t k = scan.ss;
    if (scan.eob_run == 0) {
        for (; k <= scan.se; ++k) {
            reader.top_up(bits);
            const int rs = decode_symbol(bits, ac);
            if (rs < 0) {
                reader.put_back(bits);
                return false;
            }
            uint32_t r = static_cast<uint32_t>(rs) >> 4;
            int32_t value = 0;
            if ((rs & 15) != 0) {
                // A newly non-zero coefficient of magnitude 1 << al; its sign bit.
                value = bits.peek(1) != 0 ? p1 : -p1;
                bits.skip(1);
            } else if (r != 15) {
                scan.eob_run = uint32_t{1} << r;
                if (r > 0) {
                    scan.eob_run += bits.peek(static_cast<int>(r));
                    bits.skip(static_cast<int>(r));
                }
                break;
            }
            // Skip r zero coefficients (and, for r = 15, one more), refining
            // the non-zero ones passed on the way; beyond `last` all are zero.
            for (; k <= scan.se; ++k) {
                if (k > last) {
                    k += r;
                    break;
                }
                int16_t* c = &block[kZigzag[k]];
                if (*c != 0) {
                    refine_nonzero(reader, bits, c, p1);
                } else if (r-- == 0) {
                    break;
                }
            }
            if (value != 0 && k <= scan.se) {
                block[kZigzag[k]] = static_cast<int16_t>(value);
                last = std::max(last, static_cast<uint8_t>(k));
            }
        }
    }
    if (scan.eob_run > 0) {
        // The rest of the band lies in an end-of-band run: correction bits
        // only, for the coefficients already non-zero.
        const uint32_t end = std::min<uint32_t>(scan.se, last);
        for (; k <= end; ++k) {
            int16_t* c = &block[kZigzag[k]];
            if (*c != 0) {
                refine_nonzero(reader, bits, c, p1);
            }
        }
        --scan.eob_run;
    }
    reader.put_back(bits);
    return true;
}

}  // namespace imaging::jpeg
