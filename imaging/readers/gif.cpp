// Reader for GIF files (.gif), GIF87a and GIF89a. Only the first image of a
// file is read; the logical screen's size, background and aspect ratio and
// every later image are ignored.
//
// File layout (little-endian, offsets from the start of the file):
//
//   0        3   signature "GIF"
//   3        3   version "87a" or "89a"
//   6        4   logical screen width and height (ignored)
//   10       1   flags: bit 7 global colour table, bits 4-6 colour resolution
//                - 1, bits 0-2 table bits - 1
//   11       2   background index, aspect ratio (ignored)
//   13           global colour table, 3 x 2^table bits bytes red, green, blue
//   then blocks, each opened by an introducer byte:
//     0x21       extension: a label byte, then a chain of sub-blocks (a
//                length byte and that many bytes) ended by a length of 0. The
//                graphic control extension (label 0xF9) holds flags (bit 0:
//                transparency) and the transparent index in its 4-byte block.
//     0x2C       image descriptor, 10 bytes: left, top (ignored), width,
//                height, flags (bit 7 local colour table, bit 6 interlace,
//                bits 0-2 table bits - 1); the local colour table; the LZW
//                minimum code size byte; the image data as a sub-block chain.
//   Other bytes between blocks (the trailer 0x3B among them) are skipped.
//
// The image data is LZW with variable-length codes packed least significant
// bit first. The load decodes it in two stages: codes are extracted 16384 at
// a time into an array (the only place that handles bits), then the array is
// decoded into rows. Rows land in the area of interest from its top row down,
// in the GIF interlace order when the image is interlaced. The palette is read
// in a separate pass.

#include "imaging/readers/gif.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/bits_copy.h"
#include "imaging/module_lock.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"

namespace imaging {

namespace {

// Serialises every call of the reader.
ModuleLock g_lock;

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr size_t kScreenHeaderBytes = 13;
constexpr size_t kImageDescriptorBytes = 10;

// What the header parse learns about a file.
struct HeaderFacts {
    GifInfo info{};
    uint64_t table_offset = 0;  // of the colour table that applies; 0: none
    uint32_t table_bytes = 0;   // its size, 6..768; 0: none
};

// The colour table size that the low three bits of a flags byte give.
uint32_t table_size(uint8_t flags) {
    return 3u << ((flags & 7) + 1);
}

// The chunk reader with the file offset of its next byte.
class BlockScan {
  public:
    explicit BlockScan(ChunkReader& in) : in_(in) {}

    bool byte(uint8_t* out) {
        offset_ += 1;
        return in_.byte(out);
    }
    bool read(uint8_t* destination, size_t count) {
        offset_ += count;
        return in_.read(destination, count) == count;
    }
    bool skip(size_t count) {
        offset_ += count;
        return in_.skip(count);
    }
    uint64_t offset() const { return offset_; }

  private:
    ChunkReader& in_;
    uint64_t offset_ = 0;
};

// Skips an extension's sub-block chain up to and including its terminator.
// A graphic control extension with its transparency flag set records the
// transparent index. Returns 0, or IMG_ERR_LZW when the file ends inside.
ImgStatus skip_extension(BlockScan& scan, GifInfo* info) {
    uint8_t label = 0;
    if (!scan.byte(&label)) {
        return IMG_ERR_LZW;
    }
    bool first_block = true;
    for (;;) {
        uint8_t length = 0;
        if (!scan.byte(&length)) {
            return IMG_ERR_LZW;
        }
        if (length == 0) {
            return IMG_OK;
        }
        // Tolerance: a graphic control block shorter than its 4 bytes holds
        // no transparency.
        if (first_block && label == kGraphicControlLabel && length >= 4) {
            uint8_t block[255];
            if (!scan.read(block, length)) {
                return IMG_ERR_LZW;
            }
            if (block[0] & 1) {
                info->transparent_index = block[3];
            }
        } else if (!scan.skip(length)) {
            return IMG_ERR_LZW;
        }
        first_block = false;
    }
}

// Parses the file from its start up to the first image's data, which the
// chunk reader is left at. Returns 0, IMG_ERR_NOT_GIF (no signature, or no
// complete image header: descriptor, local table and code size byte) or
// IMG_ERR_LZW (an extension cut off by the end of the file). The caller holds
// the lock.
ImgStatus parse_header(ChunkReader& in, HeaderFacts* facts) {
    *facts = HeaderFacts{};
    GifInfo& info = facts->info;
    info.transparent_index = -1;
    BlockScan scan(in);
    uint8_t head[kScreenHeaderBytes] = {};
    if (!scan.read(head, sizeof head)) {
        return IMG_ERR_NOT_GIF;  // no signature, or no room for a block
    }
    if (head[0] != 'G' || head[1] != 'I' || head[2] != 'F') {
        return IMG_ERR_NOT_GIF;
    }
    // The version characters read as a number: leading digits only.
    for (int i = 3; i < 6 && head[i] >= '0' && head[i] <= '9'; ++i) {
        info.version = info.version * 10 + (head[i] - '0');
    }
    const uint8_t flags = head[10];
    info.color_resolution = ((flags >> 4) & 7) + 1;
    info.table_bits = (flags & 7) + 1;
    if (flags & 0x80) {
        facts->table_offset = kScreenHeaderBytes;
        facts->table_bytes = table_size(flags);
        if (!scan.skip(facts->table_bytes)) {
            return IMG_ERR_NOT_GIF;
        }
    }
    for (;;) {
        uint8_t introducer = 0;
        if (!scan.byte(&introducer)) {
            return IMG_ERR_NOT_GIF;  // no image
        }
        if (introducer == kExtensionIntroducer) {
            const ImgStatus status = skip_extension(scan, &info);
            if (status != IMG_OK) {
                return status;
            }
            continue;
        }
        if (introducer != kImageSeparator) {
            continue;  // a stray byte or the trailer
        }
        uint8_t descriptor[kImageDescriptorBytes] = {kImageSeparator};
        if (!scan.read(descriptor + 1, sizeof descriptor - 1)) {
            return IMG_ERR_NOT_GIF;
        }
        info.width = le16(descriptor + 5);
        info.height = le16(descriptor + 7);
        const uint8_t image_flags = descriptor[9];
        info.interlaced = (image_flags >> 6) & 1;
        if (image_flags & 0x80) {
            info.table_bits = (image_flags & 7) + 1;
            facts->table_offset = scan.offset();
            facts->table_bytes = table_size(image_flags);
            if (!scan.skip(facts->table_bytes)) {
                return IMG_ERR_NOT_GIF;
            }
        }
        uint8_t code_size = 0;
        if (!scan.byte(&code_size)) {
            return IMG_ERR_NOT_GIF;
        }
        info.lzw_min_code_size = code_size;
        info.bits_per_pixel = info.table_bits == 1 ? 1 : 8;
        return IMG_OK;
    }
}

// ---------------------------------------------------------------------------
// Image data: the sub-block chain without its length bytes.

constexpr size_t kDataBytes = 65536;

class SubBlockData {
  public:
    explicit SubBlockData(ChunkReader& in) : in_(in) {}

    // Fills data[0, kDataBytes) with the chain's next bytes and returns how
    // many; 0 once the data has ended. The chain ends at its terminator (the
    // bytes after it belong to other blocks) or at the end of the file.
    size_t fill(uint8_t* data) {
        size_t filled = 0;
        while (filled < kDataBytes && !ended_) {
            if (block_left_ == 0) {
                uint8_t length = 0;
                if (!in_.byte(&length) || length == 0) {
                    ended_ = true;
                    break;
                }
                block_left_ = length;
            }
            // A sub-block cut by the end of this buffer goes on in the next.
            const size_t wanted = std::min<size_t>(block_left_, kDataBytes - filled);
            const size_t got = in_.read(data + filled, wanted);
            filled += got;
            block_left_ -= static_cast<uint32_t>(got);
            // Tolerance: a sub-block cut by the end of the file gives the
            // bytes it holds.
            ended_ = got < wanted;
        }
        return filled;
    }

  private:
    ChunkReader& in_;
    uint32_t block_left_ = 0;  // unread bytes of the current sub-block, 0..255
    bool ended_ = false;
};

// ---------------------------------------------------------------------------
// LZW
//
// A code is either a root (below the clear code 2^minimum size: the pixel
// value itself), the clear code, the end code (clear + 1) or an entry of the
// string table, which grows by one entry per decoded code from the first free
// code (clear + 2): the previous code's string extended by the first pixel of
// the current one. Codes start minimum size + 1 bits wide and widen by one bit
// each time the table reaches the next power of two, up to 12 bits (4096
// entries); a clear code empties the table and resets the width.
//
// Each table entry keeps its prefix code and its last pixel (suffix), as the
// format defines it. For speed it also keeps its string in blocks of 8
// pixels: the string's last ((length - 1) mod 8) + 1 pixels (its tail) and the
// entry whose string is all the pixels before them (its head, a multiple of 8
// long). A string of up to 8 pixels is then one 8-byte copy, a longer one a
// copy per 8 pixels from its end backwards, instead of a prefix step per
// pixel. Copies write whole blocks, up to 7 bytes past a string's end, which
// the following pixels overwrite; the buffers keep kBlock spare bytes.
//
// Damaged data can start a table (the first code of the image, or the one
// after a clear) with a code that is not a root. Entries built on it refer to
// leftovers of earlier tables, which may form loops; until the next clear the
// decoder then walks prefix chains without trusting lengths and gives up on a
// chain that does not reach a root within kMaxCodes steps.

constexpr uint32_t kMaxCodes = 4096;
constexpr uint32_t kMaxCodeWidth = 12;
constexpr size_t kCodesPerBatch = 16384;
constexpr uint32_t kNoCode = 0xFFFF;

constexpr size_t kBlock = 8;

// Eight bytes as a little-endian number, and back.
inline uint64_t load_le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
}
inline void store_le64(uint8_t* p, uint64_t v) {
    v = std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

// One table entry, all in one 16-byte slot: decoding a code touches one
// cache line for it.
struct alignas(16) LzwEntry {
    uint8_t tail[kBlock];
    uint16_t length;  // pixels of the entry's string, 1..4096
    uint16_t head;    // kNoCode when the tail is the whole string
    uint16_t prefix;
    uint8_t suffix;
    uint8_t first;  // first pixel of the entry's string
};
static_assert(sizeof(LzwEntry) == 16);

// The decoder's working memory, one zeroed allocation.
struct LzwWork {
    LzwEntry table[kMaxCodes];
    uint16_t codes[kCodesPerBatch];
    uint8_t stack[kMaxCodes + 2 + kBlock];  // one string
    uint8_t data[kDataBytes];
};

// Extracts codes from the data, tracking the code width on its own.
class CodeExtractor {
  public:
    CodeExtractor(SubBlockData& source, uint8_t* data, uint32_t min_code_size)
        : source_(source),
          data_(data),
          clear_(1u << min_code_size),
          reset_width_(min_code_size + 1) {
        reset();
    }

    // Extracts up to kCodesPerBatch codes into codes; fewer only when the data
    // ends (the bits of a last incomplete code are dropped). Returns how many.
    size_t extract(uint16_t* codes) {
        // The state in locals for the loop; written back at the end.
        const uint8_t* const data = data_;
        size_t pos = pos_;
        size_t valid = valid_;
        uint64_t bits = bits_;
        uint32_t count = count_;
        uint32_t width = width_;
        uint32_t limit = limit_;
        uint32_t counter = counter_;
        const uint32_t clear = clear_;
        size_t n = 0;
        while (n < kCodesPerBatch) {
            if (valid - pos >= 8) {
                // Eight bytes read little-endian, without a branch: only whole
                // bytes are counted, the rest is read again next time.
                bits |= load_le64(data + pos) << count;
                pos += (63 - count) >> 3;
                count |= 56;
            } else {
                while (count < width) {
                    if (pos < valid) {
                        bits |= uint64_t{data[pos++]} << count;
                        count += 8;
                        continue;
                    }
                    valid = source_.fill(data_);
                    pos = 0;
                    if (valid == 0) {
                        break;
                    }
                }
                if (count < width) {
                    break;  // the data has ended
                }
            }
            const uint32_t code = static_cast<uint32_t>(bits) & ((1u << width) - 1);
            bits >>= width;
            count -= width;
            codes[n++] = static_cast<uint16_t>(code);
            if (code == clear) {
                width = reset_width_;
                limit = 1u << width;
                counter = clear + 2;
            } else if (++counter > limit && width < kMaxCodeWidth) {
                ++width;
                limit <<= 1;
            }
        }
        pos_ = pos;
        valid_ = valid;
        bits_ = bits;
        count_ = count;
        width_ = width;
        limit_ = limit;
        counter_ = counter;
        return n;
    }

  private:
    void reset() {
        width_ = reset_width_;
        limit_ = 1u << width_;
        counter_ = clear_ + 2;
    }

    SubBlockData& source_;
    uint8_t* data_;  // kDataBytes; [pos_, valid_) not yet taken into bits
    size_t pos_ = 0;
    size_t valid_ = 0;
    uint64_t bits_ = 0;   // the next `count_` bits of the stream, lowest first
    uint32_t count_ = 0;  // 0..63
    const uint32_t clear_;
    const uint32_t reset_width_;
    uint32_t width_ = 0;    // 2..12
    uint32_t limit_ = 0;    // 2^width
    uint32_t counter_ = 0;  // the table size the decoder will have reached
};

// Where decoded rows go: the row order (interlaced or not) and the area.
class RowSink {
  public:
    RowSink(ImageDesc& image, const RowPlacement& place, uint32_t height, bool interlaced,
            uint8_t* packed)
        : image_(image),
          place_(place),
          packed_(packed),
          one_bit_(image_bits(image) == 1),
          interlaced_(interlaced) {
        if (interlaced) {
            // Pass 1 holds rows 0, 8, 16 ...; pass 2 rows 4, 12 ...; pass 3
            // rows 2, 6 ...; pass 4 the odd rows.
            pass2_ = (height + 7) / 8;
            pass3_ = pass2_ + (height + 3) / 8;
            pass4_ = pass3_ + (height + 1) / 4;
        } else {
            pass2_ = pass3_ = pass4_ = height;
        }
    }

    // Stores a finished row of pixels (one byte each) when it falls inside
    // the area. Returns true once every row to store is stored: for an
    // interlaced picture taller than the area that is when the last pass has
    // reached the area's rows, not after as many rows as the area holds.
    [[gnu::noinline]] bool row_done(const uint8_t* row) {
        const uint32_t n = sequence_++;
        const uint32_t y = n < pass2_   ? (interlaced_ ? 8 * n : n)
                           : n < pass3_ ? 8 * (n - pass2_) + 4
                           : n < pass4_ ? 4 * (n - pass3_) + 2
                                        : 2 * (n - pass4_) + 1;
        return store(y, row);
    }

  private:
    bool store(uint32_t y, const uint8_t* row) {
        if (y >= place_.rows) {
            return false;
        }
        if (one_bit_) {
            // Any non-zero index sets its bit.
            std::memset(packed_, 0, (place_.columns + 7) / 8);
            for (uint32_t x = 0; x < place_.columns; ++x) {
                packed_[x / 8] |= static_cast<uint8_t>((row[x] != 0) << (7 - x % 8));
            }
            bits_copy(placed_row(image_, place_, y), packed_, image_.area_left, place_.columns);
        } else {
            std::memcpy(placed_row(image_, place_, y), row, place_.columns);
        }
        return ++stored_ == place_.rows;
    }

    ImageDesc& image_;
    const RowPlacement place_;
    uint8_t* packed_;  // (columns + 7) / 8 bytes for 1-bit rows
    const bool one_bit_;
    const bool interlaced_;
    uint32_t pass2_, pass3_, pass4_;  // sequence numbers at which passes begin
    uint32_t sequence_ = 0;           // rows decoded so far
    uint32_t stored_ = 0;             // rows stored so far, 0..place_.rows
};

// Moves to the next row once the current one is full. Returns true when
// every row to store is stored.
inline bool row_end_reached(uint8_t*& out, uint8_t* row, const uint8_t* row_end, RowSink& sink) {
    if (out != row_end) {
        return false;
    }
    out = row;
    return sink.row_done(row);
}

// Outputs `length` pixels from `pixels` across row ends. Returns true once
// every row to store is stored.
[[gnu::noinline]] bool emit(const uint8_t* pixels, size_t length, uint8_t*& out, uint8_t* row,
                            const uint8_t* row_end, RowSink& sink) {
    while (length > 0) {
        const size_t n = std::min<size_t>(length, static_cast<size_t>(row_end - out));
        std::memcpy(out, pixels, n);
        out += n;
        pixels += n;
        length -= n;
        if (row_end_reached(out, row, row_end, sink)) {
            return true;
        }
    }
    return false;
}

// Decodes the image data into rows of `width` pixels. Returns 0 when every row
// to store is stored or at the end code, IMG_ERR_LZW for damaged data or data
// that ends before that. The loop keeps its state in locals: the pixel
// stores may alias anything, and members would be read again after each.
ImgStatus decode(LzwWork& work, CodeExtractor& extractor, RowSink& sink, uint8_t* row,
                 uint32_t width, uint32_t min_code_size) {
    const uint32_t clear = 1u << min_code_size;
    const uint32_t end = clear + 1;
    const uint32_t first_free = clear + 2;
    LzwEntry* const table = work.table;
    for (uint32_t root = 0; root < clear; ++root) {
        table[root].first = static_cast<uint8_t>(root);
        table[root].length = 1;
        table[root].head = kNoCode;
        table[root].tail[0] = static_cast<uint8_t>(root);
    }
    const uint16_t* const codes = work.codes;
    uint8_t* const stack_end = work.stack + kMaxCodes + 2;
    uint8_t* const row_end = row + width;  // kBlock spare bytes follow
    uint8_t* out = row;                    // next pixel of the row, row <= out < row_end
    size_t taken = 0;
    size_t extracted = 0;
    uint32_t next_free = first_free;
    uint32_t previous = kNoCode;  // kNoCode: the next code starts a table
    uint8_t previous_first = 0;   // first pixel of the previous code's string
    bool trusted = true;          // the table started with a root
    for (;;) {
        if (taken == extracted) {
            extracted = extractor.extract(work.codes);
            taken = 0;
            if (extracted == 0) {
                return IMG_ERR_LZW;  // the data ends before the last row
            }
        }
        const uint32_t code = codes[taken++];
        if (code == end) {
            return IMG_OK;
        }
        if (code == clear) {
            previous = kNoCode;
            continue;
        }
        if (previous == kNoCode) {
            // The first code of a table is output as one pixel, its low byte.
            next_free = first_free;
            previous = code;
            previous_first = static_cast<uint8_t>(code);
            trusted = code < clear;
            *out++ = previous_first;
            if (row_end_reached(out, row, row_end, sink)) {
                return IMG_OK;
            }
            continue;
        }
        if (code > next_free) {
            return IMG_ERR_LZW;  // an entry not yet defined
        }
        uint8_t first_pixel = 0;
        if (trusted) {
            // The new entry first: when code == next_free, it is the string.
            first_pixel = code == next_free ? table[previous].first : table[code].first;
            if (next_free < kMaxCodes) {
                // The previous string plus one pixel: in the previous tail's
                // block while it has room, else in a block of its own. (Both
                // without a branch: which one depends on the data.)
                // One 8-byte store, so that a later copy of the tail is
                // forwarded from it whole.
                const LzwEntry& base = table[previous];
                LzwEntry& entry = table[next_free];
                const uint32_t used = base.length % kBlock;
                const uint32_t shift = 8 * used;
                const uint64_t block = (load_le64(base.tail) & ~(uint64_t{0xFF} << shift)) |
                                       (uint64_t{first_pixel} << shift);
                store_le64(entry.tail, block);
                entry.head = used != 0 ? base.head : static_cast<uint16_t>(previous);
                entry.first = base.first;
                entry.length = static_cast<uint16_t>(base.length + 1);
            }
            const size_t string_length = table[code].length;
            const bool fits = string_length <= static_cast<size_t>(row_end - out);
            uint8_t* const string = fits ? out : work.stack;
            uint8_t* p = string + string_length - ((string_length - 1) % kBlock + 1);
            std::memcpy(p, table[code].tail, kBlock);
            if (string_length > kBlock) {
                for (uint32_t block = table[code].head; block != kNoCode;
                     block = table[block].head) {
                    p -= kBlock;
                    std::memcpy(p, table[block].tail, kBlock);
                }
            }
            if (fits) {
                out += string_length;
                if (row_end_reached(out, row, row_end, sink)) {
                    return IMG_OK;
                }
            } else if (emit(string, string_length, out, row, row_end, sink)) {
                return IMG_OK;
            }
        } else {
            uint8_t* string = stack_end;
            uint32_t walk = code;
            if (code == next_free) {
                *--string = previous_first;
                walk = previous;
            }
            for (uint32_t steps = 0; walk >= clear; ++steps) {
                if (steps == kMaxCodes) {
                    return IMG_ERR_LZW;  // a loop of damaged entries
                }
                *--string = table[walk].suffix;
                walk = table[walk].prefix;
            }
            *--string = static_cast<uint8_t>(walk);
            first_pixel = static_cast<uint8_t>(walk);
            if (emit(string, static_cast<size_t>(stack_end - string), out, row, row_end, sink)) {
                return IMG_OK;
            }
        }
        if (next_free == kMaxCodes) {
            return IMG_ERR_LZW;  // the table is full and no clear code came
        }
        table[next_free].prefix = static_cast<uint16_t>(previous);
        table[next_free].suffix = first_pixel;
        ++next_free;
        previous = code;
        previous_first = first_pixel;
    }
}

// Decodes the image data from the chunk reader's position into the area of
// interest. Returns 0, IMG_ERR_LZW or IMG_ERR_MEMORY.
ImgStatus pixel_pass(ChunkReader& in, const GifInfo& info, ImageDesc& image) {
    const auto width = static_cast<uint32_t>(info.width);    // 0..65535
    const auto height = static_cast<uint32_t>(info.height);  // 0..65535
    if (width == 0 || height == 0) {
        return IMG_OK;  // no pixels to store
    }
    const RowPlacement place = place_rows(image, height, width, RowFill::kFromTop);
    const auto min_code_size = static_cast<uint32_t>(info.lzw_min_code_size);  // 1..8
    std::unique_ptr<LzwWork> work(new (std::nothrow) LzwWork{});
    // The row, its spare bytes for block copies, and a packed 1-bit row.
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[width + kBlock + (width + 7) / 8]());
    if (!work || !row) {
        return IMG_ERR_MEMORY;
    }
    SubBlockData data(in);
    CodeExtractor codes(data, work->data, min_code_size);
    RowSink sink(image, place, height, info.interlaced != 0, row.get() + width + kBlock);
    return decode(*work, codes, sink, row.get(), width, min_code_size);
}

// Reads the colour table into the image's palette. Returns the entries read:
// the table's, at most what the image's colour table holds, and only those
// the file holds whole. The caller holds the lock.
int32_t palette_pass(ReaderFile& file, const HeaderFacts& facts, ImageDesc& image) {
    const auto capacity = static_cast<uint32_t>(palette_capacity(image_bits(image)));
    const uint32_t count = std::min({facts.table_bytes / 3, uint32_t{256}, capacity});
    if (count == 0 || !file.seek(facts.table_offset)) {
        return 0;
    }
    uint8_t raw[3 * 256];
    const auto entries = static_cast<uint32_t>(file.read(raw, 3 * size_t{count}) / 3);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = raw + 3 * i;
        image.palette[i] = PaletteEntry{e[2], e[1], e[0], 0};
    }
    return static_cast<int32_t>(entries);
}

// The reader's operations, run by the shared front door (reader_driver.h).
// The header and the pixel data stream through one chunk buffer.
struct GifReader {
    using Info = GifInfo;
    struct Header {
        ChunkReader in;
        HeaderFacts facts;
    };
    // GIF pixels are palette indexes: 1-bit and 8-bit targets only.
    static constexpr uint32_t kTargets = kAcceptBpp1_8;
    static constexpr ReaderLocking kLocking = ReaderLocking::kLockThenOpen;
    static ModuleLock& lock() { return g_lock; }

    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        if (header.in.start(file, 1) != IMG_OK) {
            return IMG_ERR_MEMORY;
        }
        return imaging::parse_header(header.in, &header.facts);
    }
    static const Info& info_of(const Header& header) { return header.facts.info; }
    static ImgStatus check(Header& header, const ImageDesc& /*image*/) {
        const int32_t code_size = header.facts.info.lzw_min_code_size;
        return code_size < 1 || code_size > 8 ? IMG_ERR_NOT_GIF : IMG_OK;
    }
    static ImgStatus pixel_pass(ReaderFile& /*file*/, Header& header, ImageDesc& image) {
        return imaging::pixel_pass(header.in, header.facts.info, image);
    }
    static int32_t palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return imaging::palette_pass(file, header.facts, image);
    }
};

}  // namespace

ImgStatus gif_info(const char* path, GifInfo* info) {
    return read_info<GifReader>(path, info);
}

ImgStatus gif_load(const char* path, ImageDesc* image) {
    return read_load<GifReader>(path, image);
}

bool gif_signature(std::span<const uint8_t> head) {
    return starts_with(head, "GIF87a") || starts_with(head, "GIF89a");
}

void gif_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
