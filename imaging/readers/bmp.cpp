// Reader for Windows and OS/2 device-independent bitmap files (.bmp).
//
// File layout (little-endian, offsets from the start of the file):
//
//   0        2   signature "BM"
//   2        8   file size and reserved words (ignored)
//   10       4   offset of the pixel data
//   14       4   header size H: 12 or less is an OS/2 core header, anything
//                larger an information header (of which the first 40 bytes
//                are used)
//   18           core header: width, height, planes, bits (16 bits each), or
//                the rest of the 40-byte information header
//   54       12  bit-field masks red, green, blue (compression 3): right after
//                a 40-byte header, or inside a longer one at the same place
//   14 + H       palette: biClrUsed entries of blue, green, red, reserved
//                (3 bytes without the reserved one after a core header)
//   data         rows, bottom row first (top row first when the height is
//                negative), each padded to a multiple of 4 bytes; or RLE8 /
//                RLE4 codes, one run of codes per row ended by an escape.
//
// The load streams the pixel data through one chunk buffer and stores the
// rows into the descriptor's area of interest, then reads the palette in a
// separate pass. Pixels of 4 bits are widened to one byte; 16 and 32-bit
// pixels become 24-bit blue, green, red.

#include "imaging/readers/bmp.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "imaging/bits_copy.h"
#include "imaging/checked_math.h"
#include "imaging/module_lock.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"

namespace imaging {

namespace {

// Serialises every call of the reader (the information call, the pixel pass
// and the palette pass).
ModuleLock g_lock;

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kCoreHeaderMaxBytes = 12;
// The masks follow a 40-byte header; longer headers hold them at the same
// offset (their fields 40 to 51).
constexpr uint32_t kMaskOffset = kFileHeaderBytes + kInfoHeaderBytes;
constexpr uint32_t kCompressionBitFields = 3;

// The widest file row the reader accepts: an image holds at most 65535
// columns (1-bit images), so wider rows could never be shown whole.
constexpr int32_t kMaxWidth = 65535;
// The widest and tallest pictures an image can take whole: image_check lets
// an area of interest reach column 65534 of a 1-bit image, column 32767 of
// others, and row 32767.
constexpr int32_t kMaxImageWidthOneBit = 65535;
constexpr int32_t kMaxImageWidth = 32768;
constexpr int64_t kMaxImageHeight = 32768;

// One colour channel of a 32-bit bit-field pixel: the mask, the position of
// its lowest bit and its largest value once shifted down.
struct ChannelField {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0;  // mask >> shift; 0 for an empty mask
};

ChannelField channel_field(uint32_t mask) {
    ChannelField field;
    field.mask = mask;
    if (mask != 0) {
        field.shift = static_cast<uint32_t>(__builtin_ctz(mask));
        field.max = mask >> field.shift;
    }
    return field;
}

// The channel's value scaled from 0..max to 0..255, rounded.
uint8_t channel_value(uint32_t word, const ChannelField& field) {
    if (field.max == 0) {
        return 0;
    }
    const uint32_t v = (word & field.mask) >> field.shift;  // 0..max
    if (field.max == 255) {
        return static_cast<uint8_t>(v);
    }
    return static_cast<uint8_t>((uint64_t{v} * 255 + field.max / 2) / field.max);
}

// What the header parse learns about a file.
struct HeaderFacts {
    BmpInfo info{};                   // the 40-byte record, defaults applied
    uint32_t data_offset = 0;         // offset of the pixel data
    uint32_t palette_entry_size = 4;  // 4, or 3 after a core header
    uint64_t palette_offset = 0;      // 14 + H, H as stored
    uint32_t palette_count = 0;       // biClrUsed after its default
    bool layout_565 = false;          // 16-bit pixels are 5-6-5 (else 5-5-5)
    ChannelField red, green, blue;    // 32-bit bit fields
};

// The image size field's default: ((bits * width + 31) / 32) * height * 4,
// each step in 32-bit signed arithmetic.
uint32_t default_image_size(const BmpInfo& info) {
    const int32_t bits_wide = wrap_to_i32(int64_t{info.biBitCount} * info.biWidth);
    const int32_t words = wrap_to_i32(int64_t{bits_wide} + 31) / 32;
    const int32_t words_high = wrap_to_i32(int64_t{words} * info.biHeight);
    return static_cast<uint32_t>(wrap_to_i32(int64_t{words_high} * 4));
}

// Reads the file header, the bitmap header and, for bit-field files, the
// masks, from the start of the open file. Returns 0 or IMG_ERR_NOT_BMP. The
// caller holds the lock.
ImgStatus parse_header(ReaderFile& file, HeaderFacts* facts) {
    uint8_t file_header[kFileHeaderBytes] = {};
    if (!file.seek(0)) {
        return IMG_ERR_NOT_BMP;
    }
    file.read(file_header, sizeof file_header);
    if (file_header[0] != 'B' || file_header[1] != 'M') {
        return IMG_ERR_NOT_BMP;
    }
    uint8_t raw[kInfoHeaderBytes] = {};
    if (file.read(raw, sizeof raw) < sizeof raw) {
        return IMG_ERR_NOT_BMP;
    }

    *facts = HeaderFacts{};
    facts->data_offset = le32(file_header + 10);
    const uint32_t header_size = le32(raw);
    BmpInfo& info = facts->info;
    if (header_size > kCoreHeaderMaxBytes) {
        // An information header shorter than 40 bytes (OS/2 2.x allows 16 and
        // up) ends early: the fields it does not hold are 0, not whatever
        // bytes (the palette) follow it.
        if (header_size < kInfoHeaderBytes) {
            std::memset(raw + header_size, 0, kInfoHeaderBytes - header_size);
        }
        info.biSize = header_size;
        info.biWidth = static_cast<int32_t>(le32(raw + 4));
        info.biHeight = static_cast<int32_t>(le32(raw + 8));
        info.biPlanes = le16(raw + 12);
        info.biBitCount = le16(raw + 14);
        info.biCompression = le32(raw + 16);
        info.biSizeImage = le32(raw + 20);
        info.biXPelsPerMeter = static_cast<int32_t>(le32(raw + 24));
        info.biYPelsPerMeter = static_cast<int32_t>(le32(raw + 28));
        info.biClrUsed = le32(raw + 32);
        info.biClrImportant = le32(raw + 36);
        facts->palette_entry_size = 4;
    } else {
        info.biSize = kInfoHeaderBytes;
        info.biWidth = le16(raw + 4);
        info.biHeight = le16(raw + 6);
        info.biPlanes = le16(raw + 8);
        info.biBitCount = le16(raw + 10);
        facts->palette_entry_size = 3;
    }
    if (info.biClrUsed == 0) {
        info.biClrUsed = info.biBitCount < 16 ? uint32_t{1} << info.biBitCount : 0;
    }
    if (info.biClrImportant == 0) {
        info.biClrImportant = info.biClrUsed;
    }
    if (info.biSizeImage == 0) {
        info.biSizeImage = default_image_size(info);
    }
    facts->palette_offset = uint64_t{kFileHeaderBytes} + header_size;
    facts->palette_count = info.biClrUsed;

    if (info.biCompression == kCompressionBitFields &&
        (info.biBitCount == 16 || info.biBitCount == 32)) {
        // Tolerance: masks cut off by the end of the file read as absent:
        // 5-5-5 for 16 bits, blue-green-red bytes for 32 bits.
        uint8_t masks[12] = {};
        const bool have_masks =
            file.seek(kMaskOffset) && file.read(masks, sizeof masks) == sizeof masks;
        const uint32_t red = have_masks ? le32(masks) : 0x00FF0000;
        const uint32_t green = have_masks ? le32(masks + 4) : 0x0000FF00;
        const uint32_t blue = have_masks ? le32(masks + 8) : 0x000000FF;
        facts->layout_565 = info.biBitCount == 16 && red == 0xF800 && green == 0x07E0;
        facts->red = channel_field(red);
        facts->green = channel_field(green);
        facts->blue = channel_field(blue);
    }
    return IMG_OK;
}

// How a row of the file becomes a row of the image.
enum class Mode {
    kOneBit,         // 1 bit: bits copied
    kFourBit,        // 4 bits: one index per byte, high nibble first
    kRle4,           // 4 bits, RLE4 codes
    kEightBit,       // 8 bits: indexes copied
    kRle8,           // 8 bits, RLE8 codes
    kSixteenBit,     // 5-5-5 or 5-6-5 widened to blue, green, red
    kTwentyFourBit,  // blue, green, red copied
    kThirtyTwoBit,   // blue, green, red kept, the fourth byte dropped
    kBitFields32,    // 32 bits through the red, green and blue masks
};

// The mode for (bits per pixel, compression), or none when unsupported. 1 and
// 24-bit files are read as uncompressed whatever their compression 0 to 3.
std::optional<Mode> decode_mode(uint16_t bits, uint32_t compression) {
    switch (bits) {
        case 1:
            return compression <= 3 ? std::optional(Mode::kOneBit) : std::nullopt;
        case 4:
            return compression == 0   ? std::optional(Mode::kFourBit)
                   : compression == 2 ? std::optional(Mode::kRle4)
                                      : std::nullopt;
        case 8:
            return compression == 0   ? std::optional(Mode::kEightBit)
                   : compression == 1 ? std::optional(Mode::kRle8)
                                      : std::nullopt;
        case 16:
            return compression == 0 || compression == 3 ? std::optional(Mode::kSixteenBit)
                                                        : std::nullopt;
        case 24:
            return compression <= 3 ? std::optional(Mode::kTwentyFourBit) : std::nullopt;
        case 32:
            return compression == 0   ? std::optional(Mode::kThirtyTwoBit)
                   : compression == 3 ? std::optional(Mode::kBitFields32)
                                      : std::nullopt;
        default:
            return std::nullopt;
    }
}

// The target image's bits per pixel may be the file's, 8 for a 4-bit file and
// 24 for 16 and 32-bit files.
bool target_fits(uint16_t file_bits, int32_t target_bits) {
    return target_bits == file_bits || (file_bits == 4 && target_bits == 8) ||
           ((file_bits == 16 || file_bits == 32) && target_bits == 24);
}

// Sizes of one file row, fixed for the whole pass.
struct RowGeometry {
    uint32_t source_bytes;  // S: bytes of an uncompressed row, 4..262140
    uint32_t limit;         // L: pixels an RLE row may hold (S, or 2 * S for RLE4)
    size_t need;            // N: bytes the chunk keeps ahead of each row
    size_t rle_row_bytes;   // the RLE row area (L bytes), 0 for other modes
};

// width is 1..kMaxWidth and bits at most 32, so nothing here can overflow.
RowGeometry row_geometry(Mode mode, int32_t width, uint16_t bits) {
    RowGeometry g{};
    g.source_bytes = ((uint32_t{bits} * static_cast<uint32_t>(width) + 31) / 32) * 4;
    g.limit = mode == Mode::kRle4 ? 2 * g.source_bytes : g.source_bytes;
    if (mode == Mode::kRle4 || mode == Mode::kRle8) {
        // Each code pair yields at least one pixel, and a row that reaches L
        // pixels must end with an escape pair next: any row the decoder
        // accepts fits in 2 * L + 2 bytes.
        g.need = 2 * size_t{g.limit} + 2;
        g.rle_row_bytes = g.limit;
    } else {
        g.need = g.source_bytes;
    }
    return g;
}

// How an RLE row ended.
enum class RleEnd {
    kEndOfLine,    // the row is complete
    kEndOfBitmap,  // the row is complete and is the last one
    kCut,          // the data ended inside the row
    kMalformed,    // a delta code, or a run past the row's pixel limit
};

// Decodes one RLE8 (four_bit false) or RLE4 row into row[0 .. limit); reached
// receives the pixels written (the rest of the row is not touched).
RleEnd decode_rle_row(ChargedBytes& in, bool four_bit, uint8_t* row, uint32_t limit,
                      uint32_t* reached) {
    uint32_t x = 0;
    for (;;) {
        *reached = x;
        uint8_t count = 0;
        uint8_t value = 0;
        if (!in.byte(&count) || !in.byte(&value)) {
            return RleEnd::kCut;
        }
        if (count > 0) {
            // Encoded run: one value (or a pair of nibbles) repeated.
            if (count > limit - x) {
                return RleEnd::kMalformed;
            }
            if (four_bit) {
                const uint8_t pair[2] = {static_cast<uint8_t>(value >> 4),
                                         static_cast<uint8_t>(value & 0x0F)};
                for (uint32_t i = 0; i < count; ++i) {
                    row[x + i] = pair[i & 1];
                }
            } else {
                std::memset(row + x, value, count);
            }
            x += count;
            continue;
        }
        switch (value) {
            case 0:
                return RleEnd::kEndOfLine;
            case 1:
                return RleEnd::kEndOfBitmap;
            case 2:
                return RleEnd::kMalformed;  // delta: not supported
            default:
                break;
        }
        // Absolute run: `value` pixels stored one per byte (RLE8) or two per
        // byte high nibble first (RLE4), padded to an even number of bytes.
        const uint32_t pixels = value;
        if (pixels > limit - x) {
            return RleEnd::kMalformed;
        }
        const uint32_t bytes = four_bit ? (pixels + 1) / 2 : pixels;
        const uint8_t* run = in.span(bytes + (bytes & 1));
        if (run == nullptr) {
            return RleEnd::kCut;
        }
        if (four_bit) {
            for (uint32_t i = 0; i < pixels; ++i) {
                const uint8_t b = run[i / 2];
                row[x + i] = (i & 1) ? (b & 0x0F) : (b >> 4);
            }
        } else {
            std::memcpy(row + x, run, pixels);
        }
        x += pixels;
    }
}

void store_four_bit(const uint8_t* row, uint8_t* destination, uint32_t columns) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint8_t b = row[x / 2];
        destination[x] = (x & 1) ? (b & 0x0F) : (b >> 4);
    }
}

// 5-bit and 6-bit channel values widened to 8 bits by repeating their top bits.
uint8_t widen5(uint32_t v) {
    return static_cast<uint8_t>(v * 8 + v / 4);
}
uint8_t widen6(uint32_t v) {
    return static_cast<uint8_t>(v * 4 + v / 16);
}

void store_sixteen_bit(const uint8_t* row, uint8_t* destination, uint32_t columns,
                       bool layout_565) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint32_t w = le16(row + 2 * x);
        uint8_t* out = destination + 3 * x;
        out[0] = widen5(w & 0x1F);
        if (layout_565) {
            out[1] = widen6((w >> 5) & 0x3F);
            out[2] = widen5((w >> 11) & 0x1F);
        } else {
            out[1] = widen5((w >> 5) & 0x1F);
            out[2] = widen5((w >> 10) & 0x1F);
        }
    }
}

void store_thirty_two_bit(const uint8_t* row, uint8_t* destination, uint32_t columns) {
    for (uint32_t x = 0; x < columns; ++x) {
        std::memcpy(destination + 3 * x, row + 4 * x, 3);
    }
}

void store_bit_fields(const uint8_t* row, uint8_t* destination, uint32_t columns,
                      const HeaderFacts& facts) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint32_t word = le32(row + 4 * x);
        uint8_t* out = destination + 3 * x;
        out[0] = channel_value(word, facts.blue);
        out[1] = channel_value(word, facts.green);
        out[2] = channel_value(word, facts.red);
    }
}

// Streams the pixel data from the file's current position into the area of
// interest. Returns 0, IMG_ERR_LZW when the data ends before the picture's
// last row (the rows read stay stored; an RLE end-of-bitmap code is no early
// end: the file says the picture is done), IMG_ERR_ENCODING or IMG_ERR_MEMORY.
ImgStatus pixel_pass(ReaderFile& file, const HeaderFacts& facts, Mode mode, ImageDesc& image,
                     const RowPlacement& place) {
    const BmpInfo& info = facts.info;
    const RowGeometry geometry = row_geometry(mode, info.biWidth, info.biBitCount);

    ChunkReader chunk;
    if (chunk.start(file, geometry.need) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    // The RLE row area, with 4 spare bytes.
    std::unique_ptr<uint8_t[]> rle_buffer;
    if (geometry.rle_row_bytes > 0) {
        rle_buffer.reset(new (std::nothrow) uint8_t[geometry.rle_row_bytes + 4]);
        if (!rle_buffer) {
            return IMG_ERR_MEMORY;
        }
    }
    uint8_t* rle_row = rle_buffer.get();
    const bool top_down = info.biHeight < 0;

    // |height| rows; a negative height marks rows stored top-down.
    uint32_t remaining = static_cast<uint32_t>(std::abs(int64_t{info.biHeight}));
    uint32_t stored = 0;
    const uint32_t columns = place.columns;
    while (remaining > 0) {
        if (!chunk.next_step()) {
            return IMG_ERR_LZW;  // the data ends before the picture does
        }
        const bool storing = top_down ? stored < place.rows : remaining <= place.rows;
        --remaining;
        uint8_t* destination = nullptr;
        if (storing) {
            destination = placed_row(image, place, stored);
        }

        ChargedBytes in = chunk.ahead();
        if (mode == Mode::kRle4 || mode == Mode::kRle8) {
            uint32_t reached = 0;
            const RleEnd end =
                decode_rle_row(in, mode == Mode::kRle4, rle_row, geometry.limit, &reached);
            if (end == RleEnd::kMalformed) {
                return IMG_ERR_ENCODING;
            }
            if (end == RleEnd::kCut) {
                // Every accepted row fits in `need` bytes, so only the end of
                // the data can cut one. The row keeps its contents.
                assert(chunk.at_end());
                return IMG_ERR_LZW;
            }
            if (storing) {
                // Pixels the codes did not reach show palette index 0.
                if (reached < columns) {
                    std::memset(rle_row + reached, 0, columns - reached);
                }
                std::memcpy(destination, rle_row, columns);
                ++stored;
            }
            chunk.advance(in.used());
            if (end == RleEnd::kEndOfBitmap) {
                break;
            }
            continue;
        }

        const uint8_t* row = in.span(geometry.source_bytes);
        if (row == nullptr) {
            return IMG_ERR_LZW;  // a row cut off by the end of the data is not stored
        }
        chunk.advance(geometry.source_bytes);
        if (!storing) {
            continue;
        }
        switch (mode) {
            case Mode::kOneBit:
                bits_copy(destination, row, image.area_left, columns);
                break;
            case Mode::kFourBit:
                store_four_bit(row, destination, columns);
                break;
            case Mode::kEightBit:
                std::memcpy(destination, row, columns);
                break;
            case Mode::kSixteenBit:
                store_sixteen_bit(row, destination, columns, facts.layout_565);
                break;
            case Mode::kTwentyFourBit:
                std::memcpy(destination, row, 3 * size_t{columns});
                break;
            case Mode::kThirtyTwoBit:
                store_thirty_two_bit(row, destination, columns);
                break;
            case Mode::kBitFields32:
                store_bit_fields(row, destination, columns, facts);
                break;
            case Mode::kRle4:
            case Mode::kRle8:
                assert(false);
                break;
        }
        ++stored;
    }
    return IMG_OK;
}

// Checks the picture's size before anything is allocated for it: a width the
// image it is loaded into can take whole (1..65535 for 1-bit files, 1..32768
// for others) and 1..32768 rows (the height is negative for top-down files).
// IMG_ERR_RANGE otherwise; the load would refuse that image.
ImgStatus check_size(const BmpInfo& info) {
    const int32_t max_width = info.biBitCount == 1 ? kMaxImageWidthOneBit : kMaxImageWidth;
    const int64_t height = std::abs(int64_t{info.biHeight});
    if (info.biWidth < 1 || info.biWidth > max_width || height < 1 || height > kMaxImageHeight) {
        return IMG_ERR_RANGE;
    }
    return IMG_OK;
}

// Checks a parsed header against the target image, in this order: the target
// depth (IMG_ERR_BPP), the pair of depth and compression (IMG_ERR_ENCODING),
// the width and a height of 0 (IMG_ERR_RANGE; a taller or wider picture than
// the image is clipped to its area). On success *mode holds the decode mode.
ImgStatus check_header(const BmpInfo& info, int32_t target_bits, Mode* mode) {
    if (!target_fits(info.biBitCount, target_bits)) {
        return IMG_ERR_BPP;
    }
    const std::optional<Mode> found = decode_mode(info.biBitCount, info.biCompression);
    if (!found) {
        return IMG_ERR_ENCODING;
    }
    if (info.biWidth < 1 || info.biWidth > kMaxWidth || info.biHeight == 0) {
        return IMG_ERR_RANGE;
    }
    *mode = *found;
    return IMG_OK;
}

// The pixel pass of bmp_load, once the header is checked and the decode mode
// known. The caller holds the lock.
ImgStatus store_pixels(ReaderFile& file, const HeaderFacts& facts, Mode mode, ImageDesc& image) {
    const BmpInfo& info = facts.info;
    const uint32_t height = static_cast<uint32_t>(std::abs(int64_t{info.biHeight}));  // >= 1
    // Bottom-up files fill the area from its bottom row upwards; top-down files
    // fill the same rows from the top down, so the picture lands in the same
    // place either way.
    const RowPlacement place =
        place_rows(image, height, static_cast<uint32_t>(info.biWidth),
                   info.biHeight < 0 ? RowFill::kDownToBottom : RowFill::kFromBottom);
    if (!file.seek(facts.data_offset)) {
        return IMG_ERR_LZW;  // no data reachable
    }
    return pixel_pass(file, facts, mode, image, place);
}

// Reads the palette into the image. Returns the entries read (the number the
// header gives, at most 256 and at most what the image's colour table holds;
// fewer when the file ends inside the palette). The caller holds the lock.
int32_t palette_pass(ReaderFile& file, const HeaderFacts& facts, ImageDesc& image) {
    if (facts.info.biBitCount >= 16) {
        return 0;
    }
    const int32_t target_bits = image.header->biBitCount;
    const uint32_t capacity = target_bits < 16 ? uint32_t{1} << target_bits : 0;
    const uint32_t count = std::min({facts.palette_count, uint32_t{256}, capacity});
    const uint32_t entry_size = facts.palette_entry_size;
    uint8_t raw[256 * 4];
    if (!file.seek(facts.palette_offset)) {
        return 0;
    }
    // Tolerance: entries beyond the end of the file are not read; the count
    // covers the complete entries only.
    const size_t got = file.read(raw, size_t{count} * entry_size);
    const uint32_t entries = static_cast<uint32_t>(got / entry_size);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = raw + size_t{i} * entry_size;
        image.palette[i] = PaletteEntry{e[0], e[1], e[2], 0};
    }
    return static_cast<int32_t>(entries);
}

// The reader's operations, run by the shared front door (reader_driver.h).
// Pixel data that ends early still gets its palette: the rows read show in
// their colours.
struct BmpReader {
    using Info = BmpInfo;
    struct Header {
        HeaderFacts facts;
        Mode mode;  // set by check
    };
    static constexpr uint32_t kTargets = kAcceptBpp1_8_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kLockThenOpen;
    static ModuleLock& lock() { return g_lock; }

    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        return imaging::parse_header(file, &header.facts);
    }
    static const Info& info_of(const Header& header) { return header.facts.info; }
    static ImgStatus check_info(const Header& header) { return check_size(header.facts.info); }
    static ImgStatus check(Header& header, const ImageDesc& image) {
        return check_header(header.facts.info, image_bits(image), &header.mode);
    }
    static ImgStatus pixel_pass(ReaderFile& file, Header& header, ImageDesc& image) {
        return store_pixels(file, header.facts, header.mode, image);
    }
    static int32_t palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return imaging::palette_pass(file, header.facts, image);
    }
};

}  // namespace

ImgStatus bmp_info(const char* path, BmpInfo* info) {
    return read_info<BmpReader>(path, info);
}

ImgStatus bmp_load(const char* path, ImageDesc* image) {
    return read_load<BmpReader>(path, image);
}

bool bmp_signature(std::span<const uint8_t> head) {
    return starts_with(head, "BM");
}

void bmp_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
