// Reader for TIFF files (.tif).
//
// File layout (all numbers in the byte order the header names):
//
//   0      2   byte order: "II" little-endian, "MM" big-endian
//   2      2   42
//   4      4   offset of the first image file directory (IFD)
//   IFD        a 16-bit entry count, that many 12-byte entries (tag, field
//              type, value count, and the value itself when it fits in 4
//              bytes, else its offset), the 32-bit offset of the next IFD
//   strips     the image's rows, top row first, cut into strips of
//              RowsPerStrip rows; StripOffsets and StripByteCounts say where
//              each strip lies; each strip compressed on its own
//
// Only the first IFD is read. The load picks a decoding mode from the first
// BitsPerSample value and the compression, streams the strips (in index order,
// as one stream; LZW strip by strip) into the descriptor's area of interest
// from its top row down, and loads the ColorMap as the palette: ColorMap holds
// all reds, then all greens, then all blues, as 16-bit values of which the
// high byte is used.

#include "imaging/readers/tiff/tiff.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "imaging/checked_math.h"
#include "imaging/module_lock.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"
#include "imaging/readers/tiff/tiff_ccitt.h"
#include "imaging/readers/tiff/tiff_lzw.h"
#include "imaging/readers/tiff/tiff_packbits.h"
#include "imaging/readers/tiff/tiff_rows.h"

namespace imaging {

namespace {

using tiff::FaxCoding;
using tiff::RowFormat;
using tiff::RowKind;
using tiff::RowStore;
using tiff::Strip;
using tiff::StripSource;

// Serialises every call of the reader.
ModuleLock g_lock;

// Field types.
constexpr uint16_t kByte = 1;
constexpr uint16_t kAscii = 2;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kRational = 5;

// Tags.
enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kFillOrder = 266,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfig = 284,
    kT4Options = 292,
    kResolutionUnit = 296,
    kSoftware = 305,
    kPredictor = 317,
    kColorMap = 320,
};

constexpr uint32_t kEntryBytes = 12;
constexpr uint32_t kMaxBitsPerSampleValues = 4;
constexpr uint32_t kMaxColorMapValues = 768;
// The longest file row the reader decodes (a 24-bit row of over five million
// pixels); wider rows are refused as a pass whose memory cannot be had.
constexpr uint64_t kMaxRowBytes = uint64_t{16} << 20;

// Compression values.
constexpr int32_t kUncompressed = 1;
constexpr int32_t kModifiedHuffman = 2;
constexpr int32_t kT4 = 3;
constexpr int32_t kT6 = 4;
constexpr int32_t kLzw = 5;
constexpr int32_t kPackBits = 32773;

// Photometric interpretations.
constexpr int32_t kMinIsWhite = 0;
constexpr int32_t kMinIsBlack = 1;
constexpr int32_t kRgb = 2;
constexpr int32_t kPalette = 3;

size_t type_size(uint16_t type) {
    switch (type) {
        case kByte:
        case kAscii:
            return 1;
        case kShort:
            return 2;
        case kLong:
            return 4;
        case kRational:
            return 8;
        default:
            return 0;
    }
}

struct ByteOrder {
    bool big_endian = false;
    uint16_t u16(const uint8_t* p) const { return big_endian ? be16(p) : le16(p); }
    uint32_t u32(const uint8_t* p) const { return big_endian ? be32(p) : le32(p); }
};

// An entry whose values are read later: where they are and how many.
struct ListField {
    bool present = false;
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t value[4] = {};  // the values themselves when they fit, else their offset
};

// What the directory parse learns about the first image.
struct Directory {
    TiffInfo info{};
    ByteOrder order;
    uint32_t bits_class = 1;      // the first BitsPerSample value, or 24
    uint32_t bits_values = 0;     // BitsPerSample values given
    bool reverse_bits = false;    // FillOrder other than 1
    uint32_t rows_per_strip = 0;  // 0: the image height
    uint32_t t4_options = 0;
    uint32_t predictor = 1;
    bool wang = false;  // Software names Wang
    bool photometric_given = false;
    ListField strip_offsets, strip_byte_counts, color_map;
};

// Reads `count` values of a list field (BYTE, SHORT or LONG) into out,
// widened to 32 bits. False when the type is another or a read fails.
bool read_list(ReaderFile& file, const ByteOrder& order, const ListField& field, uint32_t* out,
               uint32_t count) {
    const size_t size = type_size(field.type);
    if (field.type != kByte && field.type != kShort && field.type != kLong) {
        return false;
    }
    auto widen = [&](const uint8_t* p) -> uint32_t {
        return size == 1 ? *p : size == 2 ? order.u16(p) : order.u32(p);
    };
    if (size * count <= 4) {
        for (uint32_t i = 0; i < count; ++i) {
            out[i] = widen(field.value + i * size);
        }
        return true;
    }
    if (!file.seek(order.u32(field.value))) {
        return false;
    }
    uint8_t block[4096];
    const uint32_t per_block = static_cast<uint32_t>(sizeof block / size);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, per_block);
        if (!file.read_exact(block, n * size)) {
            return false;
        }
        for (uint32_t i = 0; i < n; ++i) {
            out[done + i] = widen(block + i * size);
        }
        done += n;
    }
    return true;
}

// Handles one directory entry. Returns 0 or IMG_ERR_TIFF_STRUCTURE.
ImgStatus read_entry(ReaderFile& file, const uint8_t* entry, Directory& dir) {
    const ByteOrder& order = dir.order;
    const uint16_t tag = order.u16(entry);
    ListField field;
    field.present = true;
    field.type = order.u16(entry + 2);
    field.count = order.u32(entry + 4);
    std::memcpy(field.value, entry + 8, 4);

    // A single value: count 1, SHORT or LONG.
    auto single = [&](int32_t* out) -> ImgStatus {
        if (field.count != 1 || (field.type != kShort && field.type != kLong)) {
            return IMG_ERR_TIFF_STRUCTURE;
        }
        *out = static_cast<int32_t>(field.type == kShort ? order.u16(field.value)
                                                         : order.u32(field.value));
        return IMG_OK;
    };
    TiffInfo& info = dir.info;
    int32_t value = 0;
    ImgStatus status = IMG_OK;
    switch (tag) {
        case kImageWidth:
            return single(&info.width);
        case kImageLength:
            return single(&info.height);
        case kCompression:
            return single(&info.compression);
        case kPhotometric:
            dir.photometric_given = true;
            return single(&info.photometric);
        case kSamplesPerPixel:
            return single(&info.samples_per_pixel);
        case kPlanarConfig:
            return single(&info.planar_config);
        case kFillOrder:
            status = single(&value);
            dir.reverse_bits = value != 1;
            return status;
        case kRowsPerStrip:
            status = single(&value);
            dir.rows_per_strip = value < 0 ? 0 : static_cast<uint32_t>(value);
            return status;
        case kT4Options:
            status = single(&value);
            dir.t4_options = static_cast<uint32_t>(value);
            return status;
        case kPredictor:
            status = single(&value);
            dir.predictor = static_cast<uint32_t>(value);
            return status;
        case kResolutionUnit:
            return single(&value);
        case kBitsPerSample: {
            if (field.count > kMaxBitsPerSampleValues) {
                return IMG_ERR_TIFF_STRUCTURE;
            }
            uint32_t values[kMaxBitsPerSampleValues] = {};
            if (field.count == 0) {
                return IMG_OK;
            }
            if (!read_list(file, order, field, values, field.count)) {
                return IMG_ERR_TIFF_STRUCTURE;
            }
            info.bits_per_sample = static_cast<int32_t>(values[0]);
            dir.bits_values = field.count;
            return IMG_OK;
        }
        case kSoftware: {
            // Whether the first 63 characters name Wang, in any case.
            char text[64] = {};
            const uint32_t n = std::min<uint32_t>(field.count, 63);
            if (n <= 4) {
                std::memcpy(text, field.value, n);
            } else if (!file.seek(order.u32(field.value)) ||
                       !file.read_exact(reinterpret_cast<uint8_t*>(text), n)) {
                return IMG_ERR_TIFF_STRUCTURE;
            }
            for (char& c : text) {
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            }
            dir.wang = std::strstr(text, "wang") != nullptr;
            return IMG_OK;
        }
        case kStripOffsets:
            dir.strip_offsets = field;
            return IMG_OK;
        case kStripByteCounts:
            dir.strip_byte_counts = field;
            return IMG_OK;
        case kColorMap:
            dir.color_map = field;
            return IMG_OK;
        default:
            return IMG_OK;  // not used
    }
}

// Reads the header and the first IFD from the open file. Returns 0,
// IMG_ERR_TIFF_STRUCTURE or IMG_ERR_MEMORY.
ImgStatus parse_directory(ReaderFile& file, Directory* out) {
    Directory dir;
    uint8_t header[8] = {};
    if (!file.seek(0) || !file.read_exact(header, sizeof header)) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    if (header[0] == 'I' && header[1] == 'I') {
        dir.info.byte_order = 0x4949;
    } else if (header[0] == 'M' && header[1] == 'M') {
        dir.info.byte_order = 0x4D4D;
        dir.order.big_endian = true;
    } else {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    if (dir.order.u16(header + 2) != 42) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    TiffInfo& info = dir.info;
    info.bits_per_sample = 1;
    info.compression = kUncompressed;
    info.photometric = kMinIsBlack;
    info.samples_per_pixel = 1;
    info.planar_config = 1;

    const uint32_t ifd_offset = dir.order.u32(header + 4);
    uint8_t count_bytes[2] = {};
    if (!file.seek(ifd_offset) || !file.read_exact(count_bytes, 2)) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    // The entries and the next-IFD offset, read at once into a buffer sized
    // for the count (up to 65535 entries, 786424 bytes), once the file is
    // known to hold them.
    const uint32_t entries = dir.order.u16(count_bytes);
    const size_t ifd_bytes = size_t{entries} * kEntryBytes + 4;
    if (uint64_t{ifd_offset} + 2 + ifd_bytes > file.size()) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    std::unique_ptr<uint8_t[]> ifd(new (std::nothrow) uint8_t[ifd_bytes]);
    if (!ifd) {
        return IMG_ERR_MEMORY;
    }
    if (!file.read_exact(ifd.get(), ifd_bytes)) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    for (uint32_t i = 0; i < entries; ++i) {
        const ImgStatus status = read_entry(file, ifd.get() + size_t{i} * kEntryBytes, dir);
        if (status != IMG_OK) {
            return status;
        }
    }
    if (info.compression == kModifiedHuffman && !dir.photometric_given) {
        info.photometric = kMinIsWhite;
    }
    info.bits_per_pixel = info.samples_per_pixel >= 3 ? 24 : info.bits_per_sample;
    dir.bits_class = static_cast<uint32_t>(info.bits_per_sample);
    // An 8-bit RGB image is class 24 whether BitsPerSample gives three values
    // or (a common habit of writers) only one.
    const bool rgb_samples =
        info.photometric == kRgb && (info.samples_per_pixel == 3 || info.samples_per_pixel == 4);
    if (info.bits_per_sample == 8 && (dir.bits_values >= 3 || rgb_samples)) {
        dir.bits_class = 24;
    }
    *out = dir;
    return IMG_OK;
}

enum class Mode {
    kBilevelRaw,
    kBilevelPackBits,
    kModifiedHuffman,
    kT4OneD,
    kT4TwoD,
    kT6,
    kBilevelLzw,
    kFourBitRaw,
    kFourBitPackBits,
    kEightBitRaw,
    kEightBitPackBits,
    kEightBitLzw,
    kSixteenBitRaw,
    kRgbRaw,
    kRgbLzw,
};

bool is_lzw(Mode m) {
    return m == Mode::kBilevelLzw || m == Mode::kEightBitLzw || m == Mode::kRgbLzw;
}
bool is_packbits(Mode m) {
    return m == Mode::kBilevelPackBits || m == Mode::kFourBitPackBits ||
           m == Mode::kEightBitPackBits;
}
std::optional<FaxCoding> fax_coding(Mode m) {
    switch (m) {
        case Mode::kModifiedHuffman:
            return FaxCoding::kModifiedHuffman;
        case Mode::kT4OneD:
            return FaxCoding::kT4OneD;
        case Mode::kT4TwoD:
            return FaxCoding::kT4TwoD;
        case Mode::kT6:
            return FaxCoding::kT6;
        default:
            return std::nullopt;
    }
}

RowKind row_kind(Mode m) {
    switch (m) {
        case Mode::kFourBitRaw:
        case Mode::kFourBitPackBits:
            return RowKind::kFourBit;
        case Mode::kEightBitRaw:
        case Mode::kEightBitPackBits:
        case Mode::kEightBitLzw:
            return RowKind::kEightBit;
        case Mode::kSixteenBitRaw:
            return RowKind::kSixteenBit;
        case Mode::kRgbRaw:
        case Mode::kRgbLzw:
            return RowKind::kRgb;
        default:
            return RowKind::kBilevel;
    }
}

// The depth of the image rows a mode writes.
int32_t target_bits(RowKind kind) {
    switch (kind) {
        case RowKind::kBilevel:
            return 1;
        case RowKind::kSixteenBit:
            return 16;
        case RowKind::kRgb:
            return 24;
        default:
            return 8;
    }
}

// The decoding mode for the bits-per-pixel class and the compression, with
// the conditions of each mode, in this order: a class of 32 and more
// (IMG_ERR_TIFF_STRUCTURE), a compression not in the class's table, a
// predictor other than 1 or 2 for LZW, a sample layout the mode cannot read
// (IMG_ERR_ENCODING).
ImgStatus select_mode(const Directory& dir, Mode* mode) {
    const TiffInfo& info = dir.info;
    const uint32_t bits = dir.bits_class;
    const int32_t compression = info.compression;
    std::optional<Mode> found;
    if (bits >= 32) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    if (bits < 4 || bits == 7) {
        switch (compression) {
            case kUncompressed:
                found = Mode::kBilevelRaw;
                break;
            case kPackBits:
                found = Mode::kBilevelPackBits;
                break;
            case kModifiedHuffman:
                found = Mode::kModifiedHuffman;
                break;
            case kT4:
                found = (dir.t4_options & 1) ? Mode::kT4TwoD : Mode::kT4OneD;
                break;
            case kT6:
                found = Mode::kT6;
                break;
            case kLzw:
                found = Mode::kBilevelLzw;
                break;
            default:
                break;
        }
    } else if (bits <= 6) {
        found = compression == kUncompressed ? std::optional(Mode::kFourBitRaw)
                : compression == kPackBits   ? std::optional(Mode::kFourBitPackBits)
                                             : std::nullopt;
    } else if (bits <= 15) {
        found = compression == kUncompressed ? std::optional(Mode::kEightBitRaw)
                : compression == kLzw        ? std::optional(Mode::kEightBitLzw)
                : compression == kPackBits   ? std::optional(Mode::kEightBitPackBits)
                                             : std::nullopt;
    } else if (bits <= 23) {
        found = compression == kUncompressed ? std::optional(Mode::kSixteenBitRaw) : std::nullopt;
    } else {
        found = compression == kUncompressed ? std::optional(Mode::kRgbRaw)
                : compression == kLzw        ? std::optional(Mode::kRgbLzw)
                                             : std::nullopt;
    }
    if (!found) {
        return IMG_ERR_ENCODING;
    }
    if (is_lzw(*found) && dir.predictor != 1 && dir.predictor != 2) {
        return IMG_ERR_ENCODING;
    }
    if ((*found == Mode::kRgbRaw || *found == Mode::kRgbLzw) &&
        ((info.samples_per_pixel != 3 && info.samples_per_pixel != 4) || info.photometric != kRgb ||
         info.planar_config != 1)) {
        return IMG_ERR_ENCODING;
    }
    if (*found == Mode::kSixteenBitRaw &&
        (info.samples_per_pixel != 1 || info.photometric != kMinIsBlack)) {
        return IMG_ERR_ENCODING;
    }
    // Samples of 0 bits or a sample count below 1 leave no row to decode.
    if (info.bits_per_sample <= 0 || info.samples_per_pixel <= 0) {
        return IMG_ERR_ENCODING;
    }
    *mode = *found;
    return IMG_OK;
}

// Reads the strip tables. Every strip is cut to the file: an offset past its
// end leaves an empty strip, and a count that would reach past it (or, when
// the counts are computed from the offsets, strips out of order) runs to its
// end. Returns 0, IMG_ERR_TIFF_STRUCTURE (no StripOffsets, a list that
// cannot be read) or IMG_ERR_MEMORY.
ImgStatus read_strips(ReaderFile& file, const Directory& dir, std::unique_ptr<Strip[]>* out,
                      uint32_t* strip_count) {
    const ListField& offsets = dir.strip_offsets;
    const uint64_t file_size = file.size();
    const uint32_t count = offsets.count;
    // The list itself must lie in the file; this also bounds the allocation.
    if (uint64_t{count} * std::max<size_t>(type_size(offsets.type), 1) > file_size) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    std::unique_ptr<Strip[]> strips(new (std::nothrow) Strip[count]);
    std::unique_ptr<uint32_t[]> values(new (std::nothrow) uint32_t[count]);
    if (!strips || !values) {
        return IMG_ERR_MEMORY;
    }
    if (!read_list(file, dir.order, offsets, values.get(), count)) {
        return IMG_ERR_TIFF_STRUCTURE;
    }
    for (uint32_t i = 0; i < count; ++i) {
        strips[i] = Strip{values[i], 0};
    }
    // The stored counts serve only for several strips, a list of one count
    // per strip, and a first count not larger than the file.
    const ListField& counts = dir.strip_byte_counts;
    bool stored = counts.present && count > 1 && counts.count == count &&
                  read_list(file, dir.order, counts, values.get(), count) && values[0] <= file_size;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = strips[i].offset;
        const uint64_t room = offset < file_size ? file_size - offset : 0;
        uint64_t bytes = room;
        if (stored) {
            bytes = values[i];
        } else if (i + 1 < count && strips[i + 1].offset >= offset) {
            bytes = strips[i + 1].offset - offset;
        }
        strips[i].bytes = std::min(bytes, room);
    }
    *out = std::move(strips);
    *strip_count = count;
    return IMG_OK;
}

// Everything the pixel pass needs, fixed before it starts.
struct Pass {
    Mode mode;
    RowFormat format;
    RowPlacement place;
    uint32_t width;  // pixels of a file row
    uint32_t rows_per_strip;
};

// The strip pass of every mode but LZW: the strips as one stream through one
// chunk buffer, a row at a time; rows may cross strip boundaries.
ImgStatus strip_pass(StripSource& source, const Pass& pass, const Directory& dir, RowStore& rows) {
    const uint32_t row_bytes = pass.format.source_bytes;
    const bool raw = !is_packbits(pass.mode) && !fax_coding(pass.mode);
    ChunkReader chunk;
    if (chunk.start(source, raw ? row_bytes : 1) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    std::unique_ptr<uint8_t[]> row_area;
    if (!raw) {
        row_area.reset(new (std::nothrow) uint8_t[size_t{row_bytes} + 4]);
        if (!row_area) {
            return IMG_ERR_MEMORY;
        }
    }
    tiff::FaxDecoder fax;
    const std::optional<FaxCoding> coding = fax_coding(pass.mode);
    if (coding && fax.start(chunk, *coding, pass.width, pass.rows_per_strip, dir.wang) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }

    ImgStatus status = IMG_OK;
    for (uint32_t row = 0; row < pass.place.rows && status == IMG_OK; ++row) {
        if (raw) {
            const uint8_t* data = chunk.next_step() ? chunk.ahead().span(row_bytes) : nullptr;
            if (data == nullptr) {
                status = IMG_ERR_LZW;  // the data ends inside the picture
                break;
            }
            rows.store(data);
            chunk.advance(row_bytes);
        } else if (coding) {
            status = fax.decode_row(row, row_area.get());
            if (status == IMG_OK) {
                rows.store(row_area.get());
            }
        } else if (tiff::packbits_row(chunk, row_area.get(), row_bytes)) {
            rows.store(row_area.get());
        } else {
            status = IMG_ERR_LZW;
        }
    }
    return source.failed() ? IMG_ERR_TIFF_STRUCTURE : status;
}

// The row format of a mode.
RowFormat row_format(Mode mode, const Directory& dir, uint32_t row_bytes) {
    const TiffInfo& info = dir.info;
    RowFormat format;
    format.kind = row_kind(mode);
    format.source_bytes = row_bytes;
    format.bits_per_sample = static_cast<uint32_t>(info.bits_per_sample);
    format.extra_sample = info.samples_per_pixel == 2 || info.samples_per_pixel == 4;
    format.indexes = dir.color_map.present;
    format.swap_bytes = dir.order.big_endian;
    if (fax_coding(mode)) {
        // Fax codes give white as 1 bits, what a min-is-white image shows.
        format.invert = info.photometric != kMinIsWhite;
    } else {
        // Min-is-black bits are shown as they are, and so are palette
        // indexes; other bits are inverted.
        format.invert = info.photometric != kMinIsBlack && info.photometric != kPalette;
    }
    return format;
}

// The pixel pass of tiff_load: checks, strip tables, decoding. The caller
// holds the lock.
ImgStatus load_pixels(ReaderFile& file, const Directory& dir, ImageDesc& image) {
    const TiffInfo& info = dir.info;
    const auto width = static_cast<uint32_t>(info.width);
    const auto height = static_cast<uint32_t>(info.height);
    const RowPlacement place = place_rows(image, height, width, RowFill::kFromTop);

    std::unique_ptr<Strip[]> strips;
    uint32_t strip_count = 0;
    const bool have_strips = dir.strip_offsets.present && dir.strip_offsets.count > 0;
    if (have_strips) {
        const ImgStatus status = read_strips(file, dir, &strips, &strip_count);
        if (status != IMG_OK) {
            return status;
        }
    } else if (info.compression != kT4) {
        return IMG_ERR_TIFF_STRUCTURE;
    }

    Mode mode{};
    ImgStatus status = select_mode(dir, &mode);
    if (status != IMG_OK) {
        return status;
    }
    // The target must have the depth the mode writes: 1 bit for the bilevel
    // modes, 8 for the 4-bit and 8-bit modes, 16 and 24 for the others.
    const RowKind kind = row_kind(mode);
    if (image_bits(image) != target_bits(kind)) {
        return IMG_ERR_BPP;
    }
    const std::optional<FaxCoding> coding = fax_coding(mode);
    const bool two_d = coding == FaxCoding::kT4TwoD || coding == FaxCoding::kT6;
    if (two_d && (width > tiff::kMaxFaxSide || place.rows > tiff::kMaxFaxSide)) {
        return IMG_ERR_TIFF_SIZE;
    }
    // S = (bits per sample x samples per pixel x width + 7) / 8.
    uint64_t row_bits = 0;
    if (!checked_mul(uint64_t{width},
                     uint64_t(info.bits_per_sample) * uint32_t(info.samples_per_pixel),
                     &row_bits)) {
        return IMG_ERR_MEMORY;
    }
    const uint64_t row_bytes = (row_bits + 7) / 8;
    if (row_bytes > kMaxRowBytes) {
        return IMG_ERR_MEMORY;
    }
    if (place.rows == 0 || place.columns == 0) {
        return IMG_OK;  // nothing to store
    }
    if (!have_strips) {
        return IMG_ERR_LZW;  // for want of data
    }

    Pass pass{mode, row_format(mode, dir, static_cast<uint32_t>(row_bytes)), place, width,
              dir.rows_per_strip == 0 ? height : dir.rows_per_strip};
    RowStore rows(image, place, pass.format);
    if (rows.start() != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    StripSource source(file, std::span<const Strip>(strips.get(), strip_count), dir.reverse_bits);
    if (is_lzw(mode)) {
        return tiff::lzw_pass(source, strip_count, pass.rows_per_strip, rows, dir.predictor == 2,
                              static_cast<uint32_t>(info.samples_per_pixel));
    }
    source.select(0, strip_count);
    return strip_pass(source, pass, dir, rows);
}

// Reads the ColorMap's SHORT values into values (kMaxColorMapValues of them,
// zeroed); returns how many the file holds, fewer than its count when the file
// ends inside the map.
uint32_t read_color_map(ReaderFile& file, const ByteOrder& order, const ListField& map,
                        uint32_t* values) {
    if (map.count <= 2) {  // held in the entry itself
        return read_list(file, order, map, values, map.count) ? map.count : 0;
    }
    uint8_t bytes[2 * kMaxColorMapValues];
    if (!file.seek(order.u32(map.value))) {
        return 0;
    }
    const auto held = static_cast<uint32_t>(file.read(bytes, 2 * size_t{map.count}) / 2);
    for (uint32_t i = 0; i < held; ++i) {
        values[i] = order.u16(bytes + 2 * i);
    }
    return held;
}

// Loads the ColorMap into the palette; returns the entries loaded (0 when
// the image has none) and whether the file cut the ColorMap off. Only palette images (photometric
// 3, one sample and an optional extra one) with 1 to 768 SHORT values have one; the entries are cut
// to the image's colour table. The caller holds the lock.
//
// Tolerance: a ColorMap the file cuts off gives its entries from the values
// it holds, the missing ones 0, and is reported cut (the load then reports
// IMG_ERR_LZW); one the file holds nothing of gives no entries.
PaletteRead palette_pass(ReaderFile& file, const Directory& dir, ImageDesc& image) {
    const TiffInfo& info = dir.info;
    const ListField& map = dir.color_map;
    if (info.photometric != kPalette ||
        (info.samples_per_pixel != 1 && info.samples_per_pixel != 2) || !map.present ||
        map.count < 1 || map.count > kMaxColorMapValues || map.type != kShort) {
        return {};
    }
    uint32_t values[kMaxColorMapValues] = {};
    const uint32_t held = read_color_map(file, dir.order, map, values);
    const bool cut = held < map.count;
    if (held == 0) {
        return PaletteRead{0, cut};
    }
    const uint32_t n = map.count / 3;
    const uint32_t entries = std::min<uint32_t>(n, uint32_t(palette_capacity(image_bits(image))));
    for (uint32_t i = 0; i < entries; ++i) {
        image.palette[i] = PaletteEntry{static_cast<uint8_t>(values[2 * n + i] >> 8),
                                        static_cast<uint8_t>(values[n + i] >> 8),
                                        static_cast<uint8_t>(values[i] >> 8), 0};
    }
    return PaletteRead{static_cast<int32_t>(entries), cut};
}

// The reader's operations, run by the shared front door (reader_driver.h).
// The target's depth is checked in the pixel pass, once the strips and the
// decode mode are known.
struct TiffReader {
    using Info = TiffInfo;
    using Header = Directory;
    static constexpr uint32_t kTargets = kAcceptBpp1_8_16_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kLockThenOpen;
    static ModuleLock& lock() { return g_lock; }

    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        return parse_directory(file, &header);
    }
    static const Info& info_of(const Header& header) { return header.info; }
    static ImgStatus pixel_pass(ReaderFile& file, Header& header, ImageDesc& image) {
        return load_pixels(file, header, image);
    }
    static PaletteRead palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return imaging::palette_pass(file, header, image);
    }
};

}  // namespace

ImgStatus tiff_info(const char* path, TiffInfo* info) {
    return read_info<TiffReader>(path, info);
}

ImgStatus tiff_load(const char* path, ImageDesc* image) {
    return read_load<TiffReader>(path, image);
}

bool tiff_signature(std::span<const uint8_t> head) {
    return starts_with(head, std::string_view("II*\0", 4)) ||
           starts_with(head, std::string_view("MM\0*", 4));
}

void tiff_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
