// Reader for Portable Network Graphics files (.png).
//
// File layout (all numbers big-endian):
//
//   0   8   signature 137 80 78 71 13 10 26 10
//   8       chunks, each: data length L (4 bytes, at most 2^31 - 1), type (4
//           letters), data (L bytes), CRC-32 of the type and the data (4)
//
// IHDR (13 bytes: width, height, bit depth, colour type, compression, filter
// and interlace methods) comes first, IEND last; PLTE holds the palette as
// red, green, blue triples; the data of consecutive IDAT chunks together form
// one zlib stream. A chunk type whose first letter is upper case (bit 5 clear)
// is critical: a reader that does not know it must refuse the file. The others
// are ancillary and may be skipped.
//
// The stream inflates to the rows of the image, top row first, each one
// filter-type byte and the row's pixels packed at channels x bit depth bits,
// most significant bits first. An Adam7-interlaced image is stored as seven
// passes, each a smaller image of every eighth, fourth or second pixel, with
// rows of its own width.
//
// png_info walks the chunks through the reader's chunk buffer, seeking over
// the IDAT data. png_load walks them again, then inflates the IDAT data through one chunk buffer
// one filtered row at a time, undoes each row's filter (png_rows.cpp), stores the rows into the
// area of interest from its top row down, and reads the palette last.
//
// A file that ends before IEND, after a whole and valid IHDR, is a picture cut
// short: the load stores the rows its image data reaches and the palette when
// PLTE was read whole, and reports IMG_ERR_LZW. What the walk read before the
// end is checked as in a whole file.

#include "imaging/readers/png/png.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "imaging/checked_math.h"
#include "imaging/module_lock.h"
#include "imaging/parallel.h"
#include "imaging/readers/png/inflate.h"
#include "imaging/readers/png/png_rows.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"

namespace imaging {

namespace {

// The reader's state for the whole process, guarded by g_lock.
struct ReaderState {
    int32_t last_detail = PNG_DETAIL_NONE;
};

ModuleLock g_lock;
ReaderState g_state;

// What a step of the reader gives: IMG_OK, IMG_ERR_MEMORY, or one of the
// format's detail codes (PngDetail), which the entry points report as
// IMG_ERR_PNG.
using Outcome = int32_t;

bool is_detail(Outcome outcome) {
    return outcome <= PNG_DETAIL_CRITICAL_CHUNK && outcome >= PNG_DETAIL_INFLATE;
}

// The status an entry point returns for an outcome; a detail is kept.
ImgStatus report(ReaderState& state, Outcome outcome) {
    if (is_detail(outcome)) {
        state.last_detail = outcome;
        return IMG_ERR_PNG;
    }
    return outcome;
}

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
constexpr uint32_t kMaxSide = 0x7FFFFFFF;
// The most bytes the rows of a descriptor may take (its whole block is at
// most 2^31 bytes), and the longest row buffer the reader allocates.
constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 31;
constexpr uint64_t kMaxRowBufferBytes = 0x7FFFFFFF;
constexpr size_t kWalkPieceBytes = 8192;

constexpr uint32_t chunk_type(const char (&name)[5]) {
    return (uint32_t(uint8_t(name[0])) << 24) | (uint32_t(uint8_t(name[1])) << 16) |
           (uint32_t(uint8_t(name[2])) << 8) | uint32_t(uint8_t(name[3]));
}
constexpr uint32_t kIHDR = chunk_type("IHDR");
constexpr uint32_t kPLTE = chunk_type("PLTE");
constexpr uint32_t kIDAT = chunk_type("IDAT");
constexpr uint32_t kIEND = chunk_type("IEND");
constexpr uint32_t kTEXT = chunk_type("tEXt");
constexpr uint32_t kSBIT = chunk_type("sBIT");
constexpr uint32_t kPHYS = chunk_type("pHYs");
constexpr uint32_t kOFFS = chunk_type("oFFs");
constexpr uint32_t kGAMA = chunk_type("gAMA");
constexpr uint32_t kTRNS = chunk_type("tRNS");
constexpr uint32_t kBKGD = chunk_type("bKGD");

// Bit 5 of a type's first letter: clear for critical chunks (upper case).
constexpr uint32_t kAncillaryBit = 0x20000000;

constexpr uint8_t kPaletteType = 3;

uint32_t crc_of(uint32_t crc, const uint8_t* bytes, size_t count) {
    return static_cast<uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
}

// ---------------------------------------------------------------------------
// The chunk walk

// Where the walk found what the load reads again.
struct ChunkPlaces {
    uint64_t idat_offset = 0;  // data of the first IDAT chunk; 0 when none was seen
    uint32_t idat_length = 0;  // 0..2^31 - 1
    uint64_t plte_offset = 0;  // data of the first PLTE chunk; 0 when none was seen
    uint32_t plte_length = 0;  // 0..2^31 - 1
    bool ihdr_seen = false;
    bool cut_short = false;  // the file ended before IEND
};

// The IHDR fields as stored.
struct Header {
    uint32_t width;
    uint32_t height;
    uint8_t bit_depth;
    uint8_t color_type;
    uint8_t compression;
    uint8_t filter;
    uint8_t interlace;
};

// Checks the header in this order: width and height (1..2^31 - 1), bit depth,
// colour type, their pair, interlace, compression and filter methods. Returns
// the first failing detail, or IMG_OK with *format_index set.
Outcome check_header(const Header& h, uint32_t* format_index) {
    if (h.width == 0 || h.height == 0 || h.width > kMaxSide || h.height > kMaxSide) {
        return PNG_DETAIL_SIZE;
    }
    const uint8_t d = h.bit_depth;
    if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) {
        return PNG_DETAIL_BIT_DEPTH;
    }
    const uint8_t t = h.color_type;
    if (t != 0 && t != 2 && t != 3 && t != 4 && t != 6) {
        return PNG_DETAIL_COLOR_TYPE;
    }
    const PngFormat* end = kPngFormats + kPngFormatCount;
    const PngFormat* format = std::find_if(kPngFormats, end, [&](const PngFormat& f) {
        return f.color_type == t && f.bit_depth == d;
    });
    if (format == end) {
        return PNG_DETAIL_FORMAT;
    }
    if (h.interlace > 1) {
        return PNG_DETAIL_INTERLACE;
    }
    if (h.compression != 0) {
        return PNG_DETAIL_COMPRESSION;
    }
    if (h.filter != 0) {
        return PNG_DETAIL_FILTER_METHOD;
    }
    *format_index = static_cast<uint32_t>(format - kPngFormats);
    return IMG_OK;
}

// Bytes of each of the load's two row buffers: a filtered row of the whole
// width, filter type included. width is at most 2^31 - 1 and pixel_bits at
// most 64, so the 64-bit arithmetic cannot overflow.
uint64_t row_buffer_bytes(uint32_t width, uint32_t pixel_bits) {
    return (uint64_t{width} * pixel_bits + 7) / 8 + 1;
}

class ChunkWalk {
  public:
    ChunkWalk(ReaderFile& file, PngInfo& info, ChunkPlaces& places)
        : file_(file), info_(info), places_(places) {}

    // Reads the signature and every chunk up to IEND. The file is at its start.
    Outcome run();

  private:
    // Reads the signature and the chunks up to IEND or the first failure.
    Outcome chunks();
    // Reads count bytes outside chunk data (signature, chunk header, stored
    // CRC); notes the end of the file.
    Outcome raw(uint8_t* out, size_t count);
    // Passes over count bytes without reading them (IDAT data): through the
    // buffer when they are in it, else by a seek of the file.
    Outcome pass_over(uint32_t count);
    // Reads count bytes of chunk data through the CRC.
    Outcome data(uint8_t* out, size_t count);
    // Reads count bytes of chunk data through the CRC, in pieces, and drops
    // them.
    Outcome skip(uint64_t count);
    // The first min(length, size) bytes of the data into out, the rest of out
    // zero. Tolerance: a chunk of fixed size whose length differs gives what
    // it holds; the walk stays on the chunk boundaries either way.
    Outcome fixed(uint32_t length, uint8_t* out, size_t size);

    Outcome handle(uint32_t type, uint32_t length);
    Outcome header(uint32_t length);
    Outcome transparency(uint32_t length);
    Outcome background(uint32_t length);

    ReaderFile& file_;
    // Every read of the walk goes through it: a file of many small chunks
    // costs a read of the file per 96 KiB, not several per chunk.
    ChunkReader chunk_;
    PngInfo& info_;
    ChunkPlaces& places_;
    uint64_t position_ = 0;  // file offset of the next byte
    uint32_t crc_ = 0;       // CRC of the current chunk's type and the data read
    bool transparency_taken_ = false;
    bool background_taken_ = false;
};

Outcome ChunkWalk::raw(uint8_t* out, size_t count) {
    if (chunk_.read(out, count) != count) {
        places_.cut_short = true;
        return PNG_DETAIL_SHORT_READ;
    }
    position_ += count;
    return IMG_OK;
}

Outcome ChunkWalk::pass_over(uint32_t count) {
    position_ += count;
    if (count <= chunk_.ahead().left()) {
        chunk_.skip(count);
        return IMG_OK;
    }
    if (!file_.seek(position_)) {
        return PNG_DETAIL_SHORT_READ;
    }
    chunk_.restart();
    return IMG_OK;
}

Outcome ChunkWalk::data(uint8_t* out, size_t count) {
    const Outcome outcome = raw(out, count);
    if (outcome == IMG_OK) {
        crc_ = crc_of(crc_, out, count);
    }
    return outcome;
}

Outcome ChunkWalk::skip(uint64_t count) {
    uint8_t piece[kWalkPieceBytes];
    while (count > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, sizeof piece));
        const Outcome outcome = data(piece, n);
        if (outcome != IMG_OK) {
            return outcome;
        }
        count -= n;
    }
    return IMG_OK;
}

Outcome ChunkWalk::fixed(uint32_t length, uint8_t* out, size_t size) {
    const size_t taken = std::min<size_t>(length, size);
    std::memset(out + taken, 0, size - taken);
    return data(out, taken);
}

Outcome ChunkWalk::run() {
    if (chunk_.start(file_, 1) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    const Outcome outcome = chunks();
    // A file cut short after its header holds a picture; the load reads what
    // its image data reaches.
    if (outcome == PNG_DETAIL_SHORT_READ && places_.cut_short && places_.ihdr_seen) {
        return IMG_OK;
    }
    return outcome;
}

Outcome ChunkWalk::chunks() {
    uint8_t signature[sizeof kSignature];
    Outcome outcome = raw(signature, sizeof signature);
    if (outcome != IMG_OK) {
        return outcome;
    }
    if (std::memcmp(signature, kSignature, sizeof kSignature) != 0) {
        return PNG_DETAIL_SIGNATURE;
    }
    uint8_t head[8];
    outcome = raw(head, sizeof head);
    if (outcome != IMG_OK) {
        return outcome;
    }
    for (;;) {
        const uint32_t length = be32(head);
        const uint32_t type = be32(head + 4);
        if (length > kMaxChunkLength) {
            return PNG_DETAIL_SHORT_READ;
        }
        if (type == kIEND) {
            break;  // its CRC is not read
        }
        crc_ = crc_of(0, head + 4, 4);
        const uint64_t start = position_;
        outcome = handle(type, length);
        if (outcome != IMG_OK) {
            return outcome;
        }
        assert(position_ - start <= length);
        outcome = skip(start + length - position_);  // what the handler left
        if (outcome != IMG_OK) {
            return outcome;
        }
        uint8_t stored_crc[4];
        outcome = raw(stored_crc, sizeof stored_crc);
        if (outcome != IMG_OK) {
            return outcome;
        }
        // IDAT data was sought over; the load checks its CRC.
        if (type != kIDAT && be32(stored_crc) != crc_) {
            return PNG_DETAIL_CRC;
        }
        outcome = raw(head, sizeof head);
        if (outcome != IMG_OK) {
            return outcome;
        }
    }
    // A file without IHDR has no size.
    return places_.ihdr_seen ? IMG_OK : PNG_DETAIL_SIZE;
}

Outcome ChunkWalk::handle(uint32_t type, uint32_t length) {
    switch (type) {
        case kIHDR:
            return header(length);
        case kPLTE: {
            // Recorded once its data has been read whole, through the CRC.
            const uint64_t start = position_;
            const Outcome outcome = skip(length);
            if (outcome == IMG_OK && places_.plte_offset == 0) {
                places_.plte_offset = start;
                places_.plte_length = length;
            }
            return outcome;
        }
        case kIDAT:
            if (places_.idat_offset == 0) {
                places_.idat_offset = position_;
                places_.idat_length = length;
            }
            return pass_over(length);
        case kTEXT:
            return IMG_OK;  // the text is not kept
        case kSBIT:
            return fixed(length, info_.significant_bits,
                         info_.color_type == kPaletteType ? 3 : info_.channels);
        case kPHYS: {
            uint8_t b[9];
            const Outcome outcome = fixed(length, b, sizeof b);
            info_.pixels_per_unit_x = be32(b);
            info_.pixels_per_unit_y = be32(b + 4);
            info_.physical_unit = b[8];
            return outcome;
        }
        case kOFFS: {
            uint8_t b[9];
            const Outcome outcome = fixed(length, b, sizeof b);
            info_.offset_x = static_cast<int32_t>(be32(b));
            info_.offset_y = static_cast<int32_t>(be32(b + 4));
            info_.offset_unit = b[8];
            return outcome;
        }
        case kGAMA: {
            uint8_t b[4];
            const Outcome outcome = fixed(length, b, sizeof b);
            info_.gamma = be32(b);
            return outcome;
        }
        case kTRNS:
            return transparency(length);
        case kBKGD:
            return background(length);
        default:
            // Unknown: an ancillary chunk is skipped, a critical one refused.
            return (type & kAncillaryBit) != 0 ? IMG_OK : PNG_DETAIL_CRITICAL_CHUNK;
    }
}

Outcome ChunkWalk::header(uint32_t length) {
    if (length != 13) {
        return PNG_DETAIL_IHDR_LENGTH;
    }
    uint8_t b[13];
    Outcome outcome = data(b, sizeof b);
    if (outcome != IMG_OK) {
        return outcome;
    }
    const Header h{be32(b), be32(b + 4), b[8], b[9], b[10], b[11], b[12]};
    uint32_t format_index = 0;
    outcome = check_header(h, &format_index);
    if (outcome != IMG_OK) {
        return outcome;
    }
    const PngFormat& format = kPngFormats[format_index];
    const uint32_t pixel_bits = uint32_t{format.channels} * format.bit_depth;  // 1..64
    // Pictures that no descriptor could hold, and rows that no buffer could
    // hold, are refused before anything is inflated.
    const uint64_t picture_row = (uint64_t{h.width} * format.bits_per_pixel + 31) / 32 * 4;
    uint64_t picture_bytes = 0;
    if (!checked_mul(picture_row, uint64_t{h.height}, &picture_bytes) ||
        picture_bytes > kMaxPictureBytes ||
        row_buffer_bytes(h.width, pixel_bits) > kMaxRowBufferBytes) {
        return IMG_ERR_MEMORY;
    }
    // A later IHDR overwrites these.
    info_.width = h.width;
    info_.height = h.height;
    info_.bit_depth = h.bit_depth;
    info_.color_type = h.color_type;
    info_.interlaced = h.interlace;
    info_.format_index = format_index;
    info_.channels = format.channels;
    info_.pixel_bits = pixel_bits;
    info_.stored_row_bytes = static_cast<uint32_t>(row_buffer_bytes(h.width, pixel_bits) - 1);
    info_.bits_per_pixel = format.bits_per_pixel;
    places_.ihdr_seen = true;
    return IMG_OK;
}

// Taken once, when at most 256 bytes long; otherwise skipped.
Outcome ChunkWalk::transparency(uint32_t length) {
    if (transparency_taken_ || length > 256) {
        return IMG_OK;
    }
    uint8_t b[256];
    const Outcome outcome = data(b, length);
    if (outcome != IMG_OK) {
        return outcome;
    }
    if (info_.color_type == kPaletteType) {
        // One alpha per palette entry: the first entry with the smallest
        // alpha is the transparent one. An empty chunk names none and is not
        // taken.
        if (length == 0) {
            return IMG_OK;
        }
        info_.transparency[0] = static_cast<uint8_t>(std::min_element(b, b + length) - b);
        info_.transparency_count = 1;
    } else {
        // Up to three 16-bit samples (gray, or red, green, blue); a last odd
        // byte is kept as read.
        const uint32_t n = std::min<uint32_t>(length, sizeof info_.transparency);
        std::memcpy(info_.transparency, b, n);
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            const uint16_t v = be16(b + i);
            std::memcpy(info_.transparency + i, &v, 2);
        }
        info_.transparency_count = n;
    }
    info_.has_transparency = 1;
    transparency_taken_ = true;
    return IMG_OK;
}

// Taken once, when at most 6 bytes long; otherwise skipped.
Outcome ChunkWalk::background(uint32_t length) {
    if (background_taken_ || length > sizeof info_.background) {
        return IMG_OK;
    }
    const Outcome outcome = data(info_.background, length);
    if (outcome != IMG_OK) {
        return outcome;
    }
    if (info_.color_type != kPaletteType) {
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            const uint16_t v = be16(info_.background + i);
            std::memcpy(info_.background + i, &v, 2);
        }
    }
    info_.background_count = length;
    info_.has_background = 1;
    background_taken_ = true;
    return IMG_OK;
}

// Walks the open file from its start into a zeroed record.
Outcome walk(ReaderFile& file, PngInfo* info, ChunkPlaces* places) {
    *info = PngInfo{};
    *places = ChunkPlaces{};
    ChunkWalk chunks(file, *info, *places);
    return chunks.run();
}

// ---------------------------------------------------------------------------
// The compressed image data

// The data of consecutive IDAT chunks from the first one on, read through the
// chunk buffer and inflated (inflate.cpp) one filtered row at a time. The CRC
// of each IDAT chunk is checked once its data has been taken and the next
// chunk is looked for.
class ImageStream final : public InflateSource {
  public:
    ImageStream() = default;
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;

    // Starts at the first IDAT chunk's data.
    Outcome start(ReaderFile& file, const ChunkPlaces& places);

    // Inflates the next length bytes of the stream: the first min(kept,
    // length) into row, the others dropped.
    Outcome read_row(uint8_t* row, size_t kept, uint64_t length);

    // After the last row: the stream must end, with no data left over (in
    // its IDAT chunk or a following one), and the CRC of its last IDAT chunk
    // must hold.
    Outcome finish();

    // The inflater's input: the IDAT data, chunk after chunk, until a chunk
    // of another type follows. A failure (a wrong CRC, the file's end inside
    // a chunk) ends the data and is kept in failure_.
    size_t fill(uint8_t* destination, size_t size) override;

  private:
    // Checks the finished IDAT chunk's CRC and reads the next chunk's header.
    Outcome next_chunk();
    // The outcome of an inflater's result: a failure of the data's source
    // comes first, as the inflater stopped for want of data.
    Outcome outcome_of(InflateResult result) const;

    ChunkReader chunk_;
    Inflater inflater_;
    uint32_t unread_ = 0;        // bytes of the current IDAT chunk not taken yet
    uint32_t crc_ = 0;           // CRC of the current IDAT's type and the data taken
    bool no_more_idat_ = false;  // a chunk other than IDAT followed the data
    Outcome failure_ = IMG_OK;   // why the data ended early
};

Outcome ImageStream::start(ReaderFile& file, const ChunkPlaces& places) {
    if (places.idat_offset == 0) {
        // No image data at all: the file ended before it, or holds none.
        return places.cut_short ? PNG_DETAIL_SHORT_READ : PNG_DETAIL_STREAM_END;
    }
    if (!file.seek(places.idat_offset)) {
        return PNG_DETAIL_SHORT_READ;
    }
    if (chunk_.start(file, 1) != IMG_OK || inflater_.start(*this) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    unread_ = places.idat_length;
    const uint8_t type[4] = {'I', 'D', 'A', 'T'};
    crc_ = crc_of(0, type, sizeof type);
    return IMG_OK;
}

Outcome ImageStream::next_chunk() {
    uint8_t stored[4];
    if (chunk_.read(stored, sizeof stored) != sizeof stored) {
        return PNG_DETAIL_SHORT_READ;
    }
    if (be32(stored) != crc_) {
        return PNG_DETAIL_CRC;
    }
    uint8_t head[8];
    if (chunk_.read(head, sizeof head) != sizeof head) {
        return PNG_DETAIL_SHORT_READ;
    }
    if (be32(head + 4) != kIDAT) {
        no_more_idat_ = true;
        return IMG_OK;
    }
    const uint32_t length = be32(head);
    if (length > kMaxChunkLength) {
        return PNG_DETAIL_SHORT_READ;
    }
    unread_ = length;
    crc_ = crc_of(0, head + 4, 4);
    return IMG_OK;
}

size_t ImageStream::fill(uint8_t* destination, size_t size) {
    size_t done = 0;
    while (done < size && failure_ == IMG_OK) {
        if (unread_ == 0) {
            if (no_more_idat_) {
                break;  // the compressed data has ended
            }
            failure_ = next_chunk();
            continue;
        }
        const size_t wanted = std::min<size_t>(size - done, unread_);
        const size_t got = chunk_.read(destination + done, wanted);
        crc_ = crc_of(crc_, destination + done, got);
        unread_ -= static_cast<uint32_t>(got);
        done += got;
        if (got < wanted) {
            failure_ = PNG_DETAIL_SHORT_READ;  // the file ends inside the chunk
        }
    }
    return done;
}

Outcome ImageStream::outcome_of(InflateResult result) const {
    switch (result) {
        case InflateResult::kOk:
            return IMG_OK;
        case InflateResult::kStreamEnded:
            return PNG_DETAIL_STREAM_END;
        case InflateResult::kDamaged:
            break;
    }
    // Invalid data, a preset dictionary, or data that ended inside the stream.
    return failure_ != IMG_OK ? failure_ : PNG_DETAIL_INFLATE;
}

Outcome ImageStream::read_row(uint8_t* row, size_t kept, uint64_t length) {
    const size_t first = static_cast<size_t>(std::min<uint64_t>(kept, length));
    InflateResult result = inflater_.read(row, first);
    if (result == InflateResult::kOk) {
        // length - first < 2^32: rows are refused by the walk beyond 2^31 bytes.
        result = inflater_.read(nullptr, static_cast<size_t>(length - first));
    }
    return outcome_of(result);
}

Outcome ImageStream::finish() {
    bool complete = false;
    const InflateResult result = inflater_.finish(&complete);
    if (result != InflateResult::kOk) {
        // More output than the image's rows, or damaged data.
        return outcome_of(result);
    }
    if (!complete) {
        // Tolerance: the compressed data ends after the last row without the
        // stream's end (its final code or check value): every row is there.
        return failure_;
    }
    if (inflater_.input_left() || unread_ > 0) {
        return PNG_DETAIL_STREAM_END;  // IDAT data follows the stream's end
    }
    if (failure_ != IMG_OK) {
        return failure_;
    }
    if (!no_more_idat_) {
        uint8_t tail[12];  // the stored CRC and the next chunk's header
        if (chunk_.read(tail, sizeof tail) != sizeof tail) {
            return PNG_DETAIL_SHORT_READ;
        }
        if (be32(tail) != crc_) {
            return PNG_DETAIL_CRC;
        }
        if (be32(tail + 8) == kIDAT && be32(tail + 4) > 0) {
            return PNG_DETAIL_STREAM_END;  // more image data in another IDAT chunk
        }
    }
    return IMG_OK;
}

// ---------------------------------------------------------------------------
// Rows

// One Adam7 pass: the pixels at columns column + k x column_step of the rows
// row + j x row_step.
struct Pass {
    uint32_t column;
    uint32_t column_step;
    uint32_t row;
    uint32_t row_step;
};
constexpr Pass kAdam7[7] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                            {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
constexpr Pass kWholeImage = {0, 1, 0, 1};

// The pixels of a pass among the first `columns` of the image: those of
// columns pass.column, pass.column + pass.column_step, ... below `columns`.
uint32_t pass_pixels(const Pass& pass, uint32_t columns) {
    // columns <= 2^31 - 1, so the sum does not wrap.
    return columns > pass.column ? (columns - pass.column + pass.column_step - 1) / pass.column_step
                                 : 0;
}

// One row of the stream: its pass, its image row, and its bytes.
struct RowJob {
    const Pass* pass;
    uint32_t row;     // image row
    uint64_t length;  // bytes of the filtered row in the stream, filter type included
    size_t kept;      // of them, those of the stored pixels, filter type included
    uint32_t count;   // pixels stored
    bool first_of_pass;
};

// Calls job(RowJob) for every row of every pass, in the stream's order, until
// it returns false. Returns false when it did.
template <typename Job>
bool each_row(const PngInfo& info, const RowPlacement& place, Job&& job) {
    const uint32_t passes = info.interlaced ? 7 : 1;
    for (uint32_t p = 0; p < passes; ++p) {
        const Pass& pass = info.interlaced ? kAdam7[p] : kWholeImage;
        if (info.width <= pass.column) {
            continue;  // a pass without columns has no rows in the data
        }
        const uint64_t length = row_buffer_bytes(pass_pixels(pass, info.width), info.pixel_bits);
        const uint32_t count = pass_pixels(pass, place.columns);
        // The stored pixels' bytes, whole pixels of `distance` bytes at 8 bits
        // and more (so the unfilter's steps fit), and the filter type.
        const size_t kept = static_cast<size_t>(row_buffer_bytes(count, info.pixel_bits));
        for (uint32_t r = pass.row; r < info.height; r += pass.row_step) {
            // height < 2^31, so r + row_step does not wrap.
            if (!job(RowJob{&pass, r, length, kept, count, r == pass.row})) {
                return false;
            }
        }
    }
    return true;
}

// Undoes a row's filter (previous: the unfiltered row above in its pass, or
// zeros) and stores it when it falls into the area of interest.
void store_row(const PngInfo& info, const RowPlacement& place, ImageDesc& image, const RowJob& job,
               uint8_t* row, const uint8_t* previous) {
    if (job.row >= place.rows) {
        return;  // below the area: inflated, not stored
    }
    png_unfilter_row(row, previous, job.kept, (info.pixel_bits + 7) / 8);
    const PngRowTarget target{image_row(image, placed_row_index(place, job.row)),
                              image.area_left + job.pass->column, job.pass->column_step, job.count};
    png_store_row(kPngFormats[info.format_index], row + 1, target);
}

// Rows in flight between the inflating thread and the storing one.
constexpr uint32_t kRingRows = 16;
// A side that has to sleep waits for this many rows (or free buffers), and
// each side wakes the other only every this many rows, so that the two
// threads do not take turns row by row. (Between a sleeper's row and the
// rows it waits for lies always a multiple of it, so no wake is missed.)
constexpr uint32_t kWakeRows = 6;

// Inflating beside filtering: a helper thread inflates rows into a ring of
// kRingRows buffers while the calling thread undoes their filters and stores
// them, in the same order. A row's buffer is refilled only once the row after
// it has been unfiltered (it is that row's "previous"). The helper ends with
// the stream's end check; its outcome is the pass's. False (nothing done)
// when the helper cannot be started.
bool pipelined_rows(ImageStream& stream, const PngInfo& info, const RowPlacement& place,
                    ImageDesc& image, uint8_t* ring, size_t row_bytes, const uint8_t* zeros,
                    Outcome* outcome) {
    // The counters move without the lock; a side that finds nothing to do
    // sleeps under it, and the other side wakes it only then, so that most
    // rows cost no system call.
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<uint64_t> produced{0};  // rows inflated
    std::atomic<uint64_t> consumed{0};  // rows stored
    std::atomic<bool> producer_done{false};
    std::atomic<int> sleepers{0};
    Outcome produced_outcome = IMG_OK;  // written before producer_done is set
    auto slot = [&](uint64_t n) { return ring + (n % kRingRows) * row_bytes; };
    auto wake = [&] {
        if (sleepers.load() != 0) {
            std::lock_guard<std::mutex> lock(mutex);
            changed.notify_all();
        }
    };
    // Goes on when ready(), else sleeps until ready_batch().
    auto wait_for = [&](auto ready, auto ready_batch) {
        if (ready()) {
            return;
        }
        std::unique_lock<std::mutex> lock(mutex);
        ++sleepers;
        changed.wait(lock, ready_batch);
        --sleepers;
    };

    auto inflate_rows = [&] {
        uint64_t n = 0;
        Outcome result = IMG_OK;
        const bool all = each_row(info, place, [&](const RowJob& job) {
            wait_for([&] { return n + 1 < consumed.load() + kRingRows; },
                     [&] { return n + 1 + kWakeRows < consumed.load() + kRingRows; });
            result = stream.read_row(slot(n), job.kept, job.length);
            if (result != IMG_OK) {
                return false;
            }
            produced.store(++n);
            if (n % kWakeRows == 0) {
                wake();
            }
            return true;
        });
        if (all) {
            result = stream.finish();
        }
        produced_outcome = result;
        producer_done.store(true);
        wake();
    };
    std::thread helper;
    try {
        helper = std::thread(inflate_rows);
    } catch (const std::exception&) {
        return false;
    }
    uint64_t n = 0;
    each_row(info, place, [&](const RowJob& job) {
        wait_for([&] { return n < produced.load() || producer_done.load(); },
                 [&] { return n + kWakeRows <= produced.load() || producer_done.load(); });
        if (n >= produced.load()) {
            return false;  // the helper stopped before this row
        }
        store_row(info, place, image, job, slot(n), job.first_of_pass ? zeros : slot(n - 1));
        consumed.store(++n);
        if (n % kWakeRows == 0) {
            wake();
        }
        return true;
    });
    helper.join();
    *outcome = produced_outcome;
    return true;
}

// Inflates every row of every pass, undoes the filters and stores the rows
// that fall into the area of interest. Rows below the area are inflated (the
// stream is checked to its end) but not stored. A big picture inflates on one
// thread and is filtered on another.
//
// Only the part of each row that holds stored pixels is kept and unfiltered:
// a filter takes a byte from the bytes before it in the row and from the same
// and earlier bytes of the row above, never from later ones, so the first k
// bytes of a row unfilter alike whatever follows them. The row buffers are
// thus sized from the stored columns, not from the width the file declares.
Outcome decode_rows(ReaderFile& file, const PngInfo& info, const ChunkPlaces& places,
                    ImageDesc& image) {
    const RowPlacement place = place_rows(image, info.height, info.width, RowFill::kFromTop);
    const uint32_t passes = info.interlaced ? 7 : 1;
    // The widest kept row of a pass, filter type included: the stored pixels
    // (at most 32768 columns of at most 64 bits) and the filter byte.
    size_t row_bytes = 1;
    for (uint32_t p = 0; p < passes; ++p) {
        const Pass& pass = info.interlaced ? kAdam7[p] : kWholeImage;
        row_bytes = std::max(row_bytes, static_cast<size_t>(row_buffer_bytes(
                                            pass_pixels(pass, place.columns), info.pixel_bits)));
    }
    const bool pipelined = parallel_parts(uint64_t{place.rows} * place.columns) > 1;
    const size_t rows_held = pipelined ? kRingRows : 2;
    // The ring (two rows without a helper) and a row of zeros.
    std::unique_ptr<uint8_t[]> buffers(new (std::nothrow) uint8_t[row_bytes * (rows_held + 1)]);
    if (!buffers) {
        return IMG_ERR_MEMORY;
    }
    uint8_t* const zeros = buffers.get() + row_bytes * rows_held;
    std::memset(zeros, 0, row_bytes);
    ImageStream stream;
    Outcome outcome = stream.start(file, places);
    if (outcome != IMG_OK) {
        return outcome;
    }
    if (pipelined &&
        pipelined_rows(stream, info, place, image, buffers.get(), row_bytes, zeros, &outcome)) {
        return outcome;
    }
    uint8_t* current = buffers.get();
    uint8_t* previous = buffers.get() + row_bytes;
    const bool all = each_row(info, place, [&](const RowJob& job) {
        outcome = stream.read_row(current, job.kept, job.length);
        if (outcome != IMG_OK) {
            return false;
        }
        store_row(info, place, image, job, current, job.first_of_pass ? zeros : previous);
        std::swap(current, previous);
        return true;
    });
    return all ? stream.finish() : outcome;
}

// Reads the palette of a palette image into the descriptor. Returns the
// entries read: those of the first PLTE chunk, at most 256 and at most what
// the descriptor's colour table holds; 0 for other images.
int32_t read_palette(ReaderFile& file, const PngInfo& info, const ChunkPlaces& places,
                     ImageDesc& image) {
    if (info.color_type != kPaletteType || places.plte_offset == 0) {
        return 0;
    }
    // A 1-bit descriptor holds 2 entries: a longer palette keeps its first 2.
    const uint32_t count = std::min(
        {places.plte_length / 3, uint32_t{256}, uint32_t(palette_capacity(image_bits(image)))});
    uint8_t raw[256 * 3];
    if (!file.seek(places.plte_offset) || !file.read_exact(raw, size_t{count} * 3)) {
        return 0;  // the walk read these bytes; only a changed file ends here
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = raw + size_t{i} * 3;
        image.palette[i] = PaletteEntry{e[2], e[1], e[0], 0};
    }
    return static_cast<int32_t>(count);
}

// The reader's operations, run by the shared front door (reader_driver.h).
// Every call starts with no detail and keeps the detail of its failure.
struct PngReader {
    using Info = PngInfo;
    struct Header {
        PngInfo info;
        ChunkPlaces places;
    };
    static constexpr uint32_t kTargets = kAcceptBpp1_8_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kOpenThenLock;
    static ModuleLock& lock() { return g_lock; }
    // The palette is set whatever the outcome of the rows.
    static constexpr bool kPaletteAfterAnyPixelPass = true;

    static void begin() { g_state.last_detail = PNG_DETAIL_NONE; }
    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        return report(g_state, walk(file, &header.info, &header.places));
    }
    static const Info& info_of(const Header& header) { return header.info; }
    // The rows are stored at the depth the file gives; a descriptor of
    // another depth would be written out of step with its rows.
    static ImgStatus check(Header& header, const ImageDesc& image) {
        return uint32_t(image_bits(image)) != header.info.bits_per_pixel ? IMG_ERR_BPP : IMG_OK;
    }
    static ImgStatus pixel_pass(ReaderFile& file, Header& header, ImageDesc& image) {
        const Outcome outcome = decode_rows(file, header.info, header.places, image);
        // In a file cut short, the rows up to the end of its data are stored
        // (all of them, when only what follows the image data is missing).
        if (header.places.cut_short && (outcome == IMG_OK || outcome == PNG_DETAIL_SHORT_READ)) {
            g_state.last_detail = PNG_DETAIL_SHORT_READ;
            return IMG_ERR_LZW;
        }
        return report(g_state, outcome);
    }
    static int32_t palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return read_palette(file, header.info, header.places, image);
    }
};

}  // namespace

ImgStatus png_info(const char* path, PngInfo* info) {
    return read_info<PngReader>(path, info);
}

ImgStatus png_load(const char* path, ImageDesc* image) {
    return read_load<PngReader>(path, image);
}

bool png_signature(std::span<const uint8_t> head) {
    return head.size() >= sizeof kSignature &&
           std::equal(std::begin(kSignature), std::end(kSignature), head.begin());
}

int32_t png_last_detail() {
    auto lock = g_lock.acquire();
    return g_state.last_detail;
}

void png_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
