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
// prefix chain, eight bytes per step. A string is cut into segments of 8
// bytes from its start; each table entry holds its string's last segment (1
// to 8 bytes, the first of them in the lowest byte) and the code of the
// string before that segment, whose length is a multiple of 8. Each step
// stores a whole 8-byte word at its segment's place: the bytes past the end of
// a short last segment are garbage that the next string overwrites, and the
// window keeps room for them. A string of at most 8 bytes, the usual case, is
// one store. Each step checks that the prefix's length is what is left to
// write, so a chain that does not end exactly at the string's start ends the
// decoding (codes are refused above the next free code, so only a broken
// table could give one), as do strings longer than 4096 bytes, which a table
// of 4096 entries cannot hold. Every chain is thus walked in at most 512
// steps.
//
// The output runs into a window of one row plus the longest string: whole rows
// are taken from its start and the bytes behind them move to the front.

#include "imaging/readers/tiff/tiff_lzw.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "imaging/parallel.h"

namespace imaging::tiff {

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kTableSize = 4096;
constexpr uint32_t kMaxString = 4096;
constexpr uint32_t kNoCode = 0xFFFF;
// Bytes a string's last store may write past its end.
constexpr uint32_t kStoreSlack = 8;

struct Entry {
    uint64_t tail;    // the last segment: bytes 8k .. length - 1, the first in the low byte
    uint16_t prefix;  // code of the string of length 8k before the tail (0 when k is 0)
    uint16_t length;  // bytes of the string; 1 for the single-byte codes, 0 when unset
};

// Stores the 8 bytes of a segment in the string's order (little-endian host).
inline void put_segment(uint8_t* out, uint64_t tail) {
    std::memcpy(out, &tail, 8);
}

enum class StripEnd { kEnded, kAllRowsStored, kDamaged };

// Where the decoder's complete rows of S bytes go.
class RowSink {
  public:
    // Takes the next row; the sink may change its bytes.
    virtual void take(uint8_t* row) = 0;
    // True once no more rows are wanted.
    virtual bool full() const = 0;

  protected:
    ~RowSink() = default;
};

// Stores rows into the image, the predictor's differences undone.
class ImageRows final : public RowSink {
  public:
    ImageRows(RowStore& rows, bool predictor, uint32_t samples)
        : rows_(rows), predictor_(predictor), samples_(samples) {
        // Predictor bytes: those of the stored pixels, within the row.
        predicted_ = static_cast<uint32_t>(std::min<uint64_t>(
            uint64_t{rows.placement().columns} * samples, rows.format().source_bytes));
    }

    void take(uint8_t* row) override {
        if (predictor_ && rows_.format().kind == RowKind::kRgb) {
            rows_.store_rgb_differences(row);
            return;
        }
        if (predictor_) {
            for (uint32_t i = samples_; i < predicted_; ++i) {
                row[i] = static_cast<uint8_t>(row[i] + row[i - samples_]);
            }
        }
        rows_.store(row);
    }
    bool full() const override { return rows_.done(); }

  private:
    RowStore& rows_;
    bool predictor_;
    uint32_t samples_;
    uint32_t predicted_ = 0;
};

class StripDecoder {
  public:
    StripDecoder(Entry* table, uint8_t* window, RowSink& sink, uint32_t row_bytes)
        : table_(table), window_(window), sink_(sink), row_bytes_(row_bytes) {}

    StripEnd decode(ChunkReader& chunk);

  private:
    // Writes the string of `code` at the window's end; false when its chain
    // is broken.
    bool emit(uint32_t code) {
        const Entry& e = table_[code];
        const uint32_t length = e.length;
        if (length == 0 || length > kMaxString) {
            return false;
        }
        uint8_t* out = window_ + pos_;
        uint32_t start = (length - 1) & ~7u;  // of the last segment
        put_segment(out + start, e.tail);
        for (uint32_t prefix = e.prefix; start > 0;) {
            const Entry& p = table_[prefix];
            if (p.length != start) {
                return false;
            }
            start -= 8;
            put_segment(out + start, p.tail);
            prefix = p.prefix;
        }
        pos_ += length;
        return true;
    }

    // Adds the string of `previous` followed by `byte` as entry `next`.
    void add(uint32_t next, uint32_t previous, uint8_t byte) {
        const Entry& p = table_[previous];
        Entry& e = table_[next];
        e.length = static_cast<uint16_t>(p.length + 1);
        const uint32_t used = p.length % 8;  // bytes of p's last segment, 0 when whole
        if (used != 0) {
            e.tail = p.tail | (uint64_t{byte} << (8 * used));
            e.prefix = p.prefix;
        } else {
            e.tail = byte;
            e.prefix = static_cast<uint16_t>(previous);
        }
    }

    void finish_rows();

    Entry* table_;
    uint8_t* window_;  // row_bytes_ + kMaxString + 1 + kStoreSlack bytes
    RowSink& sink_;
    uint32_t row_bytes_;
    size_t pos_ = 0;  // bytes in the window, < row_bytes_ between codes
};

// Hands every complete row at the window's start to the sink and moves the
// bytes behind them to the front.
void StripDecoder::finish_rows() {
    size_t taken = 0;
    while (pos_ - taken >= row_bytes_ && !sink_.full()) {
        sink_.take(window_ + taken);
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
            if (sink_.full()) {
                return StripEnd::kAllRowsStored;
            }
        }
    }
}

// The string table and the output window of one decoder.
struct LzwTables {
    std::unique_ptr<Entry[]> table;
    std::unique_ptr<uint8_t[]> window;

    bool start(uint32_t row_bytes) {
        table.reset(new (std::nothrow) Entry[kTableSize]);
        window.reset(new (std::nothrow) uint8_t[size_t{row_bytes} + kMaxString + 1 + kStoreSlack]);
        if (!table || !window) {
            return false;
        }
        for (uint32_t c = 0; c < kTableSize; ++c) {
            table[c] = c < kClearCode ? Entry{c, 0, 1} : Entry{0, 0, 0};
        }
        return true;
    }
};

// Keeps a strip's raw rows (predictor not undone) in a buffer of its own: at
// most `wanted` rows, and notes a row beyond them.
class StripRows final : public RowSink {
  public:
    StripRows(uint8_t* data, uint32_t row_bytes) : data_(data), row_bytes_(row_bytes) {}

    // Starts a strip of which `wanted` rows are stored; `exact` when a
    // further row would be stored too (the strip is not the last one).
    void reset(uint32_t wanted, bool exact) {
        wanted_ = wanted;
        exact_ = exact;
        rows_ = 0;
        extra_ = false;
    }
    void take(uint8_t* row) override {
        if (rows_ < wanted_) {
            std::memcpy(data_ + size_t{rows_} * row_bytes_, row, row_bytes_);
            ++rows_;
        } else {
            extra_ = true;
        }
    }
    bool full() const override { return exact_ ? extra_ : rows_ == wanted_; }

    uint32_t rows() const { return rows_; }
    bool extra() const { return extra_; }
    uint8_t* row(uint32_t k) const { return data_ + size_t{k} * row_bytes_; }

  private:
    uint8_t* data_;
    uint32_t row_bytes_;
    uint32_t wanted_ = 0;
    bool exact_ = false;
    uint32_t rows_ = 0;
    bool extra_ = false;
};

// The most bytes of one strip's rows a thread holds at once.
constexpr uint64_t kMaxStripBytes = uint64_t{8} << 20;

// Decoding strips on several threads. Sequentially, a strip's rows follow the
// rows of the strips before it, however many those held. When each strip
// holds exactly rows_per_strip rows, strip s's rows are rows s x
// rows_per_strip on, and strips can be decoded at once, each into a buffer of
// its own. Threads take strips in order; a thread stores its strip's rows
// (predictor undone) only once every earlier strip is known to be such a
// regular strip. The first strip that is not (damaged, cut short, longer, or
// unreadable) is not stored, nor any strip after it: the caller decodes on
// from it one strip after another, with the rows before it exactly where the
// sequential decoding would have put them. Returns that strip's index (every
// strip when nothing was decoded here), with `rows` positioned at its first
// row.
size_t parallel_strips(const StripSource& source, size_t strip_count, uint32_t rows_per_strip,
                       RowStore& rows, bool predictor, uint32_t samples) {
    const RowPlacement& place = rows.placement();
    const uint32_t row_bytes = rows.format().source_bytes;
    const uint64_t strip_bytes = uint64_t{rows_per_strip} * row_bytes;
    if (rows_per_strip == 0 || strip_bytes > kMaxStripBytes) {
        return 0;
    }
    const size_t needed = (size_t{place.rows} + rows_per_strip - 1) / rows_per_strip;
    const uint32_t parts = static_cast<uint32_t>(
        std::min<size_t>(parallel_parts(uint64_t{place.rows} * place.columns), needed));
    if (parts < 2 || needed > strip_count) {
        return 0;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::unique_ptr<uint8_t[]> known(new (std::nothrow) uint8_t[needed]());  // 1: regular, 2: not
    if (!known) {
        return 0;
    }
    size_t regular_prefix = 0;  // strips [0, regular_prefix) are regular; guarded
    std::atomic<size_t> first_irregular{needed};
    std::atomic<size_t> next_strip{0};

    // Records strip s and waits until every earlier strip is known; true
    // when s and all before it are regular.
    auto settle = [&](size_t s, bool regular) {
        std::unique_lock<std::mutex> lock(mutex);
        known[s] = regular ? 1 : 2;
        if (!regular && s < first_irregular) {
            first_irregular = s;
        }
        while (regular_prefix < needed && known[regular_prefix] == 1) {
            ++regular_prefix;
        }
        changed.notify_all();
        changed.wait(lock, [&] { return regular_prefix >= s || first_irregular < s; });
        return regular && regular_prefix > s;
    };

    run_parts(parts, [&](uint32_t) {
        StripSource mine(source);
        LzwTables tables;
        ChunkReader chunk;
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[strip_bytes]);
        RowStore store(rows.image(), place, rows.format());
        const bool ready = tables.start(row_bytes) && chunk.start(mine, 1) == IMG_OK &&
                           buffer != nullptr && store.start() == IMG_OK;
        StripRows strip_rows(buffer.get(), row_bytes);
        ImageRows image_rows(store, predictor, samples);
        StripDecoder decoder(tables.table.get(), tables.window.get(), strip_rows, row_bytes);
        for (;;) {
            const size_t s = next_strip++;
            if (s >= needed || s > first_irregular) {
                break;
            }
            const uint32_t first_row = static_cast<uint32_t>(s * rows_per_strip);
            const uint32_t wanted = std::min(rows_per_strip, place.rows - first_row);
            const bool last = s + 1 == needed;
            bool regular = ready;
            if (ready) {
                strip_rows.reset(wanted, !last);
                mine.select(s, s + 1);
                chunk.restart();
                const StripEnd end = decoder.decode(chunk);
                regular = end != StripEnd::kDamaged && !mine.failed() &&
                          strip_rows.rows() == wanted && !strip_rows.extra();
            }
            if (!settle(s, regular)) {
                break;
            }
            store.seek_row(first_row);
            for (uint32_t k = 0; k < wanted; ++k) {
                image_rows.take(strip_rows.row(k));  // the buffer's row may change
            }
        }
    });
    const size_t first = first_irregular;
    rows.seek_row(
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{first} * rows_per_strip, place.rows)));
    return first;
}

}  // namespace

ImgStatus lzw_pass(StripSource& source, size_t strip_count, uint32_t rows_per_strip, RowStore& rows,
                   bool predictor, uint32_t samples_per_pixel) {
    const size_t first =
        parallel_strips(source, strip_count, rows_per_strip, rows, predictor, samples_per_pixel);
    if (rows.done()) {
        return IMG_OK;
    }
    // One strip after another, from the first one not stored above.
    LzwTables tables;
    ChunkReader chunk;
    if (!tables.start(rows.format().source_bytes) || chunk.start(source, 1) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    ImageRows sink(rows, predictor, samples_per_pixel);
    StripDecoder decoder(tables.table.get(), tables.window.get(), sink, rows.format().source_bytes);
    for (size_t strip = first; strip < strip_count && !rows.done(); ++strip) {
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
