// Reader for ZSoft PC Paintbrush files (.pcx).
//
// File layout (little-endian):
//
//   0     128  header: manufacturer 0x0A, version, encoding 1, bits per pixel
//              per plane, the window xmin, ymin, xmax, ymax, a 16-entry
//              palette (red, green, blue) at 16, planes at 65, bytes per line
//              of one plane at 66
//   128        run-length data: each scanline is its planes' lines one after
//              the other, planes x bytes-per-line bytes, top row first
//   end - 769  optional 256-colour palette: 0x0C, then 256 x red, green, blue
//
// Run-length coding: a byte above 0xC0 is a count (its low six bits) and the
// next byte the value to repeat; any other byte (0xC0 included) stands for
// itself. A run may carry over the end of a plane line or scanline; what does
// not fit starts the next line.
//
// Five layouts, chosen by (planes, bits): 256 colours (1, 8), monochrome
// (1, 1), 16 colours in four bit planes (4, 1), 16 colours two pixels per byte
// (1, 4) and true colour as red, green and blue planes (3, 8). The 16-colour
// layouts load as one index per byte; true colour as blue, green, red.
//
// The reader keeps no process-wide state and takes no lock.

#include "imaging/readers/pcx.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/bits_copy.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"
#include "imaging/simd/byte_rows.h"

namespace imaging {

namespace {

constexpr uint32_t kHeaderBytes = 128;
constexpr uint32_t kHeaderPaletteOffset = 16;
constexpr uint8_t kManufacturer = 0x0A;
constexpr uint8_t kEncodingRunLength = 1;
constexpr uint8_t kPaletteMarker = 0x0C;
constexpr uint32_t kTrailingPaletteBytes = 1 + 256 * 3;

// The default palette of 16-colour files that bring none (red, green, blue).
constexpr uint8_t kDefault16[16][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0xA8}, {0x00, 0xA8, 0x00}, {0x00, 0xA8, 0xA8},
    {0xA8, 0x00, 0x00}, {0xA8, 0x00, 0xA8}, {0xA8, 0x54, 0x00}, {0xA8, 0xA8, 0xA8},
    {0x54, 0x54, 0x54}, {0x54, 0x54, 0xFC}, {0x54, 0xFC, 0x54}, {0x54, 0xFC, 0xFC},
    {0xFC, 0x54, 0x54}, {0xFC, 0x54, 0xFC}, {0xFC, 0xFC, 0x54}, {0xFC, 0xFC, 0xFC},
};

enum class Layout {
    kIndexed8,    // 1 plane of 8 bits
    kMonochrome,  // 1 plane of 1 bit
    kPlanar16,    // 4 planes of 1 bit
    kPacked16,    // 1 plane of 4 bits
    kTrueColour,  // 3 planes of 8 bits: red, green, blue
};

struct HeaderFacts {
    PcxInfo info{};
    uint8_t raw[kHeaderBytes] = {};  // the header as read (its palette at 16)
};

// Reads the 128-byte header from the start of the open file. A file too short
// to hold it, or whose manufacturer or encoding byte is wrong, is not a PCX
// file (IMG_ERR_PCX).
ImgStatus parse_header(ReaderFile& file, HeaderFacts* facts) {
    *facts = HeaderFacts{};
    if (!file.seek(0) || !file.read_exact(facts->raw, kHeaderBytes)) {
        return IMG_ERR_PCX;
    }
    const uint8_t* h = facts->raw;
    if (h[0] != kManufacturer || h[2] != kEncodingRunLength) {
        return IMG_ERR_PCX;
    }
    PcxInfo& info = facts->info;
    info.version = h[1];
    info.width = int32_t{le16(h + 8)} - int32_t{le16(h + 4)} + 1;    // -65534..65536
    info.height = int32_t{le16(h + 10)} - int32_t{le16(h + 6)} + 1;  // -65534..65536
    info.bits = h[3];
    info.planes = h[65];
    info.bytes_per_line = le16(h + 66);
    info.palette_info = le16(h + 68);
    const bool sixteen_colours = info.bits == 4 || (info.bits == 1 && info.planes == 4);
    info.bits_per_pixel = sixteen_colours ? 8 : info.bits * info.planes;
    return IMG_OK;
}

// The layout of a (planes, bits) pair, and the bits per pixel of its image.
bool select_layout(const PcxInfo& info, Layout* layout, int32_t* target_bits) {
    struct Entry {
        int32_t planes, bits;
        Layout layout;
        int32_t target_bits;
    };
    static constexpr Entry kLayouts[] = {
        {1, 8, Layout::kIndexed8, 8}, {1, 1, Layout::kMonochrome, 1},  {4, 1, Layout::kPlanar16, 8},
        {1, 4, Layout::kPacked16, 8}, {3, 8, Layout::kTrueColour, 24},
    };
    for (const Entry& e : kLayouts) {
        if (e.planes == info.planes && e.bits == info.bits) {
            *layout = e.layout;
            *target_bits = e.target_bits;
            return true;
        }
    }
    return false;
}

// Checks a parsed header against the target, in this order: the layout, the
// window and the line length (IMG_ERR_PCX), then the target's depth
// (IMG_ERR_BPP: a row of another depth would not fit the image's rows).
ImgStatus check_header(const PcxInfo& info, int32_t image_bits, Layout* layout) {
    int32_t target_bits = 0;
    if (!select_layout(info, layout, &target_bits)) {
        return IMG_ERR_PCX;
    }
    if (info.width < 1 || info.height < 1 || info.bytes_per_line < 1) {
        return IMG_ERR_PCX;
    }
    if (image_bits != target_bits) {
        return IMG_ERR_BPP;
    }
    return IMG_OK;
}

// A run that did not fit in the line it began in; its rest starts the next one.
struct PendingRun {
    uint32_t count = 0;  // 0..62
    uint8_t value = 0;
};

// Bytes written behind a line by the decoder's 16-byte stores; the line
// buffer holds this many spare bytes after its last line.
constexpr size_t kLineSlack = 64;

// The decoder's fast path takes the data in blocks of kBlock bytes and finds
// the count bytes of a block all at once. Its literal copies read up to
// kCopyReach bytes beyond a block.
constexpr size_t kBlock = 64;
constexpr size_t kCopyReach = 16;

// The count bytes among the high bytes of a block that starts on a token.
// A count byte takes the next byte as its value whatever it is, so in a
// stretch of consecutive high bytes the first, third, fifth... are counts and
// the others values. Each stretch starts on a token: the byte before it, if
// any, is not high and so ends a token (a literal or a run's value).
inline uint64_t count_bytes(uint64_t high) {
    constexpr uint64_t kEven = 0x5555555555555555;
    const uint64_t starts = high & ~(high << 1);
    // Adding a stretch's first bit carries through the stretch and clears it.
    const uint64_t from_even = high & ~(high + (starts & kEven));
    const uint64_t from_odd = high & ~from_even;
    return (from_even & kEven) | (from_odd & ~kEven);
}

// Copies n (at most 64) literal bytes from in to out, 16 at a time: writes
// and reads 16 bytes when n is 0, else up to 15 bytes more than n.
inline void copy_literal(uint8_t* out, const uint8_t* in, size_t n) {
    std::memcpy(out, in, 16);
    for (size_t i = 16; i < n; i += 16) {
        std::memcpy(out + i, in + i, 16);
    }
}

// Writes n (at most 63) copies of value at out, 16 at a time: writes 16 bytes
// when n is 0, else up to 15 bytes more than n.
inline void fill_run(uint8_t* out, uint8_t value, size_t n) {
    const uint64_t splat = value * uint64_t{0x0101010101010101};
    for (size_t i = 0; i == 0 || i < n; i += 16) {
        std::memcpy(out + i, &splat, 8);
        std::memcpy(out + i + 8, &splat, 8);
    }
}

// Decodes the tokens of the block at data + pos into out + done while they fit
// in the line of `size` bytes; data + pos has kBlock + kCopyReach bytes to
// read and out + size kLineSlack bytes to spare. Advances pos past the tokens
// decoded (up to kBlock + 1 bytes: a count byte at the block's end takes its
// value from behind it). Returns false when it stopped in front of a literal
// stretch or a run that does not fit.
//
// Each step takes a literal stretch, perhaps empty, and the run behind it, with
// one check that both fit; the copies are wide and run ahead, the next step
// writing over what they wrote too much.
bool decode_block(const simd::ByteRowKernels& kernels, const uint8_t* data, size_t& pos,
                  uint8_t* out, size_t& done, size_t size) {
    const uint8_t* const block = data + pos;
    // The bytes above 0xC0 are counts or values of runs.
    uint64_t counts = count_bytes(kernels.bytes_above(block, 0xC0));
    size_t at = 0;  // the next token's offset in the block, 0..kBlock + 1
    size_t d = done;
    bool whole = true;
    while (counts != 0) {
        // The literal stretch [at, next) and the run at next (a value byte
        // is never a count, so at <= next).
        const size_t next = static_cast<size_t>(std::countr_zero(counts));
        counts &= counts - 1;
        const size_t literal = next - at;         // 0..63
        const size_t count = block[next] & 0x3F;  // 1..63
        if (literal + count > size - d) {
            whole = false;
            break;
        }
        copy_literal(out + d, block + at, literal);
        d += literal;
        fill_run(out + d, block[next + 1], count);
        d += count;
        at = next + 2;
    }
    if (whole && at < kBlock) {
        const size_t literal = kBlock - at;
        if (literal <= size - d) {
            copy_literal(out + d, block + at, literal);
            d += literal;
            at = kBlock;
        } else {
            whole = false;
        }
    }
    pos += at;
    done = d;
    return whole;
}

// Decodes `size` bytes of run-length data into out, which has kLineSlack
// spare bytes behind them that the decoder may overwrite. Returns the bytes
// written: `size`, or fewer when the data ends first.
//
// Whole blocks go through decode_block while the data holds one; the careful
// loop takes the rest token by token and splits a run at the line's end. The
// cursor stays in a local; the bytes it passed are charged once, at the end of
// the line.
size_t decode_line(const simd::ByteRowKernels& kernels, ChargedBytes& in, PendingRun& pending,
                   uint8_t* out, size_t size) {
    const size_t available = in.left();
    const uint8_t* const data = in.peek(available);
    size_t pos = 0;  // 0 <= pos <= available
    size_t done = std::min<size_t>(pending.count, size);
    if (done > 0) {
        fill_run(out, pending.value, done);
        pending.count -= static_cast<uint32_t>(done);
    }
    while (available - pos >= kBlock + kCopyReach &&
           decode_block(kernels, data, pos, out, done, size)) {
    }
    while (done < size && pos < available) {
        const uint8_t b = data[pos];
        if (b <= 0xC0) {
            out[done++] = b;  // a literal byte, 0xC0 included
            ++pos;
            continue;
        }
        if (available - pos < 2) {
            break;  // a count byte without its value ends the data
        }
        const uint8_t value = data[pos + 1];
        pos += 2;
        const size_t count = b & 0x3F;  // 1..63
        const size_t fits = std::min(count, size - done);
        fill_run(out + done, value, fits);  // fits > 0: done < size
        done += fits;
        // A run longer than the rest of the line is split: the next line
        // begins with what is left of it.
        pending.count = static_cast<uint32_t>(count - fits);
        pending.value = value;
    }
    in.span(pos);
    return done;
}

// Widens C pixels of a 4-bit line to one byte each, high nibble first.
void store_packed16(const uint8_t* line, uint8_t* destination, uint32_t columns) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint8_t b = line[x / 2];
        destination[x] = (x & 1) ? (b & 0x0F) : (b >> 4);
    }
}

// Gathers pixel x's index from bit x of the four plane lines (plane k weighs 2^k).
void store_planar16(const uint8_t* scanline, uint32_t bytes_per_line, uint8_t* destination,
                    uint32_t columns) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint32_t byte = x / 8;
        const uint32_t shift = 7 - x % 8;
        uint8_t index = 0;
        for (uint32_t k = 0; k < 4; ++k) {
            index |=
                static_cast<uint8_t>(((scanline[k * bytes_per_line + byte] >> shift) & 1) << k);
        }
        destination[x] = index;
    }
}

// Interleaves the red, green and blue plane lines into blue, green, red pixels.
void store_true_colour(const simd::ByteRowKernels& kernels, const uint8_t* scanline,
                       uint32_t bytes_per_line, uint8_t* destination, uint32_t columns) {
    kernels.planes_to_bgr(scanline, scanline + bytes_per_line,
                          scanline + 2 * size_t{bytes_per_line}, destination, columns);
}

// Streams the run-length data from the file's current position into the area
// of interest, one scanline per step. Returns 0, IMG_ERR_LZW when the data
// ends before the last row (the rows stored so far stay; a row the data ends
// inside is stored with zeros where it was not reached) or IMG_ERR_MEMORY.
ImgStatus pixel_pass(ReaderFile& file, const PcxInfo& info, Layout layout, ImageDesc& image) {
    const uint32_t bytes_per_line = static_cast<uint32_t>(info.bytes_per_line);  // 1..65535
    const uint32_t planes = static_cast<uint32_t>(info.planes);                  // 1, 3 or 4
    const size_t scanline_bytes = size_t{planes} * bytes_per_line;               // L
    // Tolerance: a window wider than the plane lines hold (bytes per line too
    // small for the width) stores only the pixels the lines hold; the columns
    // beyond keep their contents.
    const uint32_t line_pixels = bytes_per_line * 8 / static_cast<uint32_t>(info.bits);
    const uint32_t file_columns = std::min(static_cast<uint32_t>(info.width), line_pixels);
    const RowPlacement place =
        place_rows(image, static_cast<uint32_t>(info.height), file_columns, RowFill::kFromTop);

    // A scanline of L bytes takes at most 2 L bytes of data (a count byte for
    // each of its bytes), so each step has the whole scanline in the buffer.
    ChunkReader chunk;
    if (chunk.start(file, 2 * scanline_bytes) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    std::unique_ptr<uint8_t[]> scanline(new (std::nothrow) uint8_t[scanline_bytes + kLineSlack]);
    if (!scanline) {
        return IMG_ERR_MEMORY;
    }
    // The plane lines of a scanline lie one after the other in the buffer, and
    // a run carries over from one plane line to the next as from one scanline
    // to the next: a scanline decodes as one line.
    PendingRun pending;
    const simd::ByteRowKernels& kernels = simd::byte_row_kernels();
    for (uint32_t k = 0; k < place.rows; ++k) {
        chunk.next_step();
        ChargedBytes in = chunk.ahead();
        const size_t decoded = decode_line(kernels, in, pending, scanline.get(), scanline_bytes);
        chunk.advance(in.used());
        if (decoded == 0) {
            return IMG_ERR_LZW;
        }
        // Only the end of the data cuts a scanline: every step starts with
        // 2 L bytes in the buffer while the file has them.
        assert(decoded == scanline_bytes || chunk.at_end());
        std::memset(scanline.get() + decoded, 0, scanline_bytes - decoded);

        uint8_t* destination = placed_row(image, place, k);
        switch (layout) {
            case Layout::kIndexed8:
                std::memcpy(destination, scanline.get(), place.columns);
                break;
            case Layout::kMonochrome:
                bits_copy(destination, scanline.get(), image.area_left, place.columns);
                break;
            case Layout::kPlanar16:
                store_planar16(scanline.get(), bytes_per_line, destination, place.columns);
                break;
            case Layout::kPacked16:
                store_packed16(scanline.get(), destination, place.columns);
                break;
            case Layout::kTrueColour:
                store_true_colour(kernels, scanline.get(), bytes_per_line, destination,
                                  place.columns);
                break;
        }
        if (decoded < scanline_bytes) {
            return IMG_ERR_LZW;
        }
    }
    return IMG_OK;
}

// Where the run-length data of the whole picture ends: the offset past the
// byte that completes its last scanline, or 0 when the file ends first.
uint64_t pixel_data_end(ReaderFile& file, const PcxInfo& info) {
    ChunkReader chunk;
    if (!file.seek(kHeaderBytes) || chunk.start(file, 2) != IMG_OK) {
        return 0;
    }
    // height 1..65536, planes 1..4, bytes per line 1..65535: no overflow.
    uint64_t left = uint64_t{static_cast<uint32_t>(info.height)} *
                    static_cast<uint32_t>(info.planes) * static_cast<uint32_t>(info.bytes_per_line);
    uint64_t offset = kHeaderBytes;
    while (left > 0) {
        uint8_t code = 0;
        uint8_t value = 0;
        if (!chunk.byte(&code)) {
            return 0;
        }
        uint64_t count = 1;
        if (code > 0xC0) {
            count = code & 0x3F;
            if (!chunk.byte(&value)) {
                return 0;
            }
            ++offset;
        }
        ++offset;
        left -= std::min(left, count);
    }
    return offset;
}

// Whether the 256-colour palette was cut off: its marker follows the pixel
// data (after zeros some writers pad the data with), but the file ends before
// the palette's 768 bytes do.
bool trailing_palette_cut(ReaderFile& file, const PcxInfo& info) {
    const uint64_t end = pixel_data_end(file, info);
    if (end == 0 || !file.seek(end)) {
        return false;
    }
    ChunkReader chunk;
    if (chunk.start(file, 1) != IMG_OK) {
        return false;
    }
    uint64_t marker = end;
    for (uint8_t byte = 0; chunk.byte(&byte); ++marker) {
        if (byte == kPaletteMarker) {
            return file.size() - marker < kTrailingPaletteBytes;
        }
        if (byte != 0) {
            return false;
        }
    }
    return false;
}

// Reads the palette into the image; returns its entry count. Versions 2 and 5
// carry one: 256 entries behind the marker at the end of the file for 8-bit
// files (when the marker is there), else up to 16 from the header. Sets *cut
// when the file ends inside the 256-colour palette.
int32_t palette_pass(ReaderFile& file, const HeaderFacts& facts, Layout layout, ImageDesc& image,
                     bool* cut) {
    const PcxInfo& info = facts.info;
    if ((info.version != 2 && info.version != 5) || layout == Layout::kTrueColour) {
        return 0;
    }
    uint32_t count = uint32_t{1} << (info.bits * info.planes);  // 2, 16 or 256
    uint8_t trailing[kTrailingPaletteBytes] = {};
    const uint8_t* entries = facts.raw + kHeaderPaletteOffset;
    if (count == 256) {
        const bool marked = file.size() >= kTrailingPaletteBytes &&
                            file.seek(file.size() - kTrailingPaletteBytes) &&
                            file.read_exact(trailing, kTrailingPaletteBytes) &&
                            trailing[0] == kPaletteMarker;
        if (marked) {
            entries = trailing + 1;
        } else {
            // Tolerance: an 8-bit file without the marker takes the 16
            // entries of its header palette; so does one whose palette the
            // file cuts off, which is reported damaged.
            count = 16;
            *cut = trailing_palette_cut(file, info);
        }
    }
    count = std::min(count, static_cast<uint32_t>(palette_capacity(image_bits(image))));
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = entries + 3 * size_t{i};
        image.palette[i] = PaletteEntry{e[2], e[1], e[0], 0};
    }
    return static_cast<int32_t>(count);
}

// The palette pass and the entries it leaves for the palette's finishing: a
// two-entry palette of one colour counts as none; 16-colour files without a
// palette get the default 16 colours, the others the gray ramp.
PaletteRead load_palette(ReaderFile& file, const HeaderFacts& facts, Layout layout,
                         ImageDesc& image) {
    bool cut = false;
    int32_t count = palette_pass(file, facts, layout, image, &cut);
    if (count == 2 && std::memcmp(&image.palette[0], &image.palette[1], 3) == 0) {
        count = 0;
    }
    if (count == 0 && (layout == Layout::kPlanar16 || layout == Layout::kPacked16)) {
        for (int i = 0; i < 16; ++i) {
            image.palette[i] =
                PaletteEntry{kDefault16[i][2], kDefault16[i][1], kDefault16[i][0], 0};
        }
        count = 16;
    }
    return PaletteRead{count, cut};
}

// The reader's operations, run by the shared front door (reader_driver.h).
// The reader keeps no shared state and takes no lock.
struct PcxReader {
    using Info = PcxInfo;
    struct Header {
        HeaderFacts facts;
        Layout layout;  // set by check
    };
    static constexpr uint32_t kTargets = kAcceptBpp1_8_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kNone;

    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        return imaging::parse_header(file, &header.facts);
    }
    static const Info& info_of(const Header& header) { return header.facts.info; }
    static ImgStatus check(Header& header, const ImageDesc& image) {
        return check_header(header.facts.info, image_bits(image), &header.layout);
    }
    static ImgStatus pixel_pass(ReaderFile& file, Header& header, ImageDesc& image) {
        if (!file.seek(kHeaderBytes)) {
            return IMG_ERR_OPEN;
        }
        return imaging::pixel_pass(file, header.facts.info, header.layout, image);
    }
    static PaletteRead palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return load_palette(file, header.facts, header.layout, image);
    }
};

}  // namespace

ImgStatus pcx_info(const char* path, PcxInfo* info) {
    return read_info<PcxReader>(path, info);
}

ImgStatus pcx_load(const char* path, ImageDesc* image) {
    return read_load<PcxReader>(path, image);
}

bool pcx_signature(std::span<const uint8_t> head) {
    if (head.size() < 4 || head[0] != kManufacturer || head[2] != kEncodingRunLength) {
        return false;
    }
    const uint8_t version = head[1];
    const uint8_t bits = head[3];
    return (version == 0 || (version >= 2 && version <= 5)) &&
           (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}

}  // namespace imaging
