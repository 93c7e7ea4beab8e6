// LZW decoding of TIFF strips.
//
// Codes are read most significant bit first, starting 9 bits wide. Code 256
// clears the string table, 257 ends the strip, and each other code after the
// first adds one string to the table: the previous code's string followed by
// the first byte of this code's string. TIFF widens the codes one code earlier
// than GIF: once the count of codes read since the clear (plus 258) reaches
// 512, 1024 or 2048.
//
// A string is written straight into the output back to front by walking its
// prefix chain. To take up to eight bytes per step, each table entry holds the
// last 1 to 8 bytes of its string ((length - 1) % 8 + 1 of them) and the code
// of the string before them, whose length is a multiple of 8; a string of at
// most 8 bytes is held whole. Each step checks that the prefix's length is
// what is left to write, so a chain that does not end exactly at the string's
// start (only in damaged data, through entries left from before a clear) ends
// the decoding, as do strings longer than 4096 bytes, which a table of 4096
// entries cannot hold. Every chain is thus walked in at most 512 steps.
//
// The output runs into a window of one row plus the longest string: whole rows
// are taken from its start and the bytes behind them move to the front.

#include "imaging/readers/tiff/tiff_lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace imaging::tiff {

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kTableSize = 4096;
constexpr uint32_t kMaxString = 4096;
constexpr uint32_t kNoCode = 0xFFFF;

struct Entry {
    uint64_t tail;    // the string's last bytes, in the high bytes (byte 7 is the last)
    uint16_t prefix;  // code of the string before the tail, or kNoCode
    uint16_t length;  // bytes of the string; 1 for the single-byte codes, 0 when unset
};

// The bytes of the tail in the string's order (little-endian host).
inline void put_tail(uint8_t* out, uint64_t tail) {
    std::memcpy(out, &tail, 8);
}

enum class StripEnd { kEnded, kAllRowsStored, kDamaged };

class StripDecoder {
  public:
    StripDecoder(Entry* table, uint8_t* window, RowStore& rows, bool predictor, uint32_t samples)
        : table_(table), window_(window), rows_(rows), predictor_(predictor), samples_(samples) {
        const RowFormat& format = rows.format();
        row_bytes_ = format.source_bytes;
        // Predictor bytes: those of the stored pixels, within the row.
        predicted_ = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{rows.placement().columns} * samples, row_bytes_));
    }

    StripEnd decode(ChunkReader& chunk);

  private:
    // Writes the string of `code` at the window's end; false when its chain
    // is broken.
    bool emit(uint32_t code) {
        uint32_t remaining = table_[code].length;
        if (remaining == 0 || remaining > kMaxString) {
            return false;
        }
        uint8_t* out = window_ + pos_;
        const Entry* e = &table_[code];
        for (;;) {
            if (e->prefix == kNoCode) {
                if (remaining > 8) {
                    return false;
                }
                uint8_t bytes[8];
                put_tail(bytes, e->tail);
                std::memcpy(out, bytes + 8 - remaining, remaining);
                break;
            }
            // Eight bytes end where the tail ends; those before the tail are
            // rewritten by the next steps. remaining > 8 keeps them inside.
            const uint32_t k = (remaining - 1) % 8 + 1;
            if (remaining <= 8 || table_[e->prefix].length != remaining - k) {
                return false;
            }
            put_tail(out + remaining - 8, e->tail);
            remaining -= k;
            e = &table_[e->prefix];
        }
        pos_ += table_[code].length;
        return true;
    }

    // Adds the string of `previous` followed by `byte` as entry `next`.
    void add(uint32_t next, uint32_t previous, uint8_t byte) {
        const Entry& p = table_[previous];
        Entry& e = table_[next];
        e.length = static_cast<uint16_t>(p.length + 1);
        if (p.length % 8 != 0) {
            e.tail = (p.tail >> 8) | (uint64_t{byte} << 56);
            e.prefix = p.prefix;
        } else {
            e.tail = uint64_t{byte} << 56;
            e.prefix = static_cast<uint16_t>(previous);
        }
    }

    void finish_rows();

    Entry* table_;
    uint8_t* window_;  // row_bytes_ + kMaxString + 1 bytes
    RowStore& rows_;
    bool predictor_;
    uint32_t samples_;
    uint32_t row_bytes_ = 0;
    uint32_t predicted_ = 0;
    size_t pos_ = 0;  // bytes in the window, < row_bytes_ between codes
};

// Hands every complete row at the window's start to the store and moves the
// bytes behind them to the front.
void StripDecoder::finish_rows() {
    size_t taken = 0;
    while (pos_ - taken >= row_bytes_ && !rows_.done()) {
        uint8_t* row = window_ + taken;
        if (predictor_ && rows_.format().kind == RowKind::kRgb) {
            rows_.store_rgb_differences(row);
            taken += row_bytes_;
            continue;
        }
        if (predictor_) {
            for (uint32_t i = samples_; i < predicted_; ++i) {
                row[i] = static_cast<uint8_t>(row[i] + row[i - samples_]);
            }
        }
        rows_.store(row);
        taken += row_bytes_;
    }
    if (taken > 0) {
        std::memmove(window_, window_ + taken, pos_ - taken);
        pos_ -= taken;
    }
}

StripEnd StripDecoder::decode(ChunkReader& chunk) {
    uint32_t next = kFirstFreeCode;  // next free code
    uint32_t counter = kFirstFreeCode;
    uint32_t width = 9;
    uint32_t limit = 512;
    uint32_t previous = kNoCode;
    uint64_t bits = 0;
    uint32_t count = 0;  // valid low bits of `bits`
    pos_ = 0;
    // The chunk's unread bytes: codes are taken from them four bytes at a
    // time, and byte by byte (refilling the chunk) where fewer are left.
    ChargedBytes ahead = chunk.ahead();
    const uint8_t* in = ahead.span(ahead.left());
    size_t left = ahead.used();
    for (;;) {
        if (count < width) {
            if (left >= 4) {
                bits = (bits << 32) | be32(in);
                in += 4;
                left -= 4;
                count += 32;
            } else {
                chunk.advance(ahead.used() - left);
                while (count < width) {
                    uint8_t byte = 0;
                    if (!chunk.byte(&byte)) {
                        return StripEnd::kEnded;  // the strip's data ends before its end code
                    }
                    bits = (bits << 8) | byte;
                    count += 8;
                }
                ahead = chunk.ahead();
                in = ahead.span(ahead.left());
                left = ahead.used();
            }
        }
        count -= width;
        const auto code = static_cast<uint32_t>(bits >> count) & ((1u << width) - 1);
        if (code == kClearCode) {
            next = kFirstFreeCode;
            counter = kFirstFreeCode;
            width = 9;
            limit = 512;
            previous = kNoCode;
            continue;
        }
        if (code == kEndCode) {
            return StripEnd::kEnded;
        }
        if (++counter == limit && width < 12) {
            ++width;
            limit *= 2;
        }
        if (code > next || (code == next && previous == kNoCode)) {
            return StripEnd::kDamaged;
        }
        if (previous == kNoCode) {
            // The first code after a clear: one byte, added to no string.
            window_[pos_++] = static_cast<uint8_t>(code);
        } else {
            const size_t start = pos_;
            if (code == next) {
                // The string being defined: the previous one and its own first byte.
                if (!emit(previous)) {
                    return StripEnd::kDamaged;
                }
                window_[pos_] = window_[start];
                ++pos_;
            } else if (!emit(code)) {
                return StripEnd::kDamaged;
            }
            if (next == kTableSize) {
                return StripEnd::kDamaged;  // the encoder should have cleared the table
            }
            add(next, previous, window_[start]);
            ++next;
        }
        previous = code;
        if (pos_ >= row_bytes_) {
            finish_rows();
            if (rows_.done()) {
                return StripEnd::kAllRowsStored;
            }
        }
    }
}

}  // namespace

ImgStatus lzw_pass(StripSource& source, size_t strip_count, RowStore& rows, bool predictor,
                   uint32_t samples_per_pixel) {
    const uint32_t row_bytes = rows.format().source_bytes;
    std::unique_ptr<Entry[]> table(new (std::nothrow) Entry[kTableSize]);
    std::unique_ptr<uint8_t[]> window(new (std::nothrow)
                                          uint8_t[size_t{row_bytes} + kMaxString + 1]);
    ChunkReader chunk;
    if (!table || !window || chunk.start(source, 1) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    for (uint32_t c = 0; c < kTableSize; ++c) {
        table[c] = c < kClearCode ? Entry{uint64_t{c} << 56, kNoCode, 1} : Entry{0, 0, 0};
    }
    StripDecoder decoder(table.get(), window.get(), rows, predictor, samples_per_pixel);
    for (size_t strip = 0; strip < strip_count && !rows.done(); ++strip) {
        source.select(strip, strip + 1);
        chunk.restart();
        const StripEnd end = decoder.decode(chunk);
        if (source.failed()) {
            return IMG_ERR_TIFF_STRUCTURE;
        }
        if (end == StripEnd::kDamaged) {
            return IMG_ERR_LZW;
        }
    }
    return rows.done() ? IMG_OK : IMG_ERR_LZW;
}

}  // namespace imaging::tiff
