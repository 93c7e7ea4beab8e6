// Reader for Truevision TGA files (.tga).
//
// File layout (little-endian):
//
//   0    18   header: ID length, colour map type, image type, colour map
//             first entry, length and entry size, origin, width, height,
//             pixel depth, image descriptor (bit 4 right-to-left, bit 5
//             top-down, bits 6-7 interleave)
//   18        image ID (ID length bytes)
//             colour map (length entries of (entry size + 7) / 8 bytes) when
//             the colour map type is not 0
//             pixel data: rows of width pixels, bottom row first unless
//             top-down; uncompressed, or run-length packets
//   end - 18  optional version 2 footer, "TRUEVISION-XFILE" at its start
//
// Image types 1, 2, 3 are colour-mapped, true colour and gray; 9, 10, 11 the
// same with run-length packets: a header byte h carries (h & 0x7F) + 1 pixels,
// one pixel value repeated (bit 7 set) or that many pixel values. Packets may
// carry over from one row into the next.
//
// Pixels of 1 byte are indexes or gray values; gray pixels of 2 bytes are a
// gray value and an alpha (alpha dropped). True-colour pixels of 2 bytes are
// 5-5-5 words (bit 15 dropped); of 3 bytes blue, green, red; of 4 bytes blue,
// green, red, alpha (alpha dropped). Colour-mapped and gray files load into
// 8-bit images, true colour into 24-bit images.

#include "imaging/readers/tga.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/module_lock.h"
#include "imaging/readers/reader_driver.h"
#include "imaging/readers/reader_io.h"

namespace imaging {

namespace {

// Serialises every call of the reader.
ModuleLock g_lock;

constexpr uint32_t kHeaderBytes = 18;
constexpr uint32_t kFooterBytes = 18;
constexpr char kFooterSignature[] = "TRUEVISION-XFILE";
constexpr int32_t kMaxSide = 32767;

enum Kind : uint32_t { kColourMapped = 1, kTrueColour = 2, kGray = 3 };

struct HeaderFacts {
    TgaInfo info{};
    uint32_t map_first = 0;        // index of the colour map's first entry
    uint32_t map_length = 0;       // entries
    uint32_t map_entry_bytes = 0;  // (entry size + 7) / 8, 0..32
    uint64_t map_offset = 0;       // 18 + ID length
    uint64_t data_offset = 0;      // behind the ID and the colour map
};

// Reads the header (and, for image types outside 1..11, the footer) of the
// open file. Returns 0 or IMG_ERR_TGA. The caller holds the lock.
ImgStatus parse_header(ReaderFile& file, HeaderFacts* facts) {
    *facts = HeaderFacts{};
    uint8_t h[kHeaderBytes] = {};
    if (!file.seek(0) || !file.read_exact(h, kHeaderBytes)) {
        return IMG_ERR_TGA;
    }
    if (h[2] < 1 || h[2] > 11) {
        uint8_t footer[kFooterBytes] = {};
        const bool signed_file = file.seek(file.size() - kFooterBytes) &&
                                 file.read_exact(footer, kFooterBytes) &&
                                 std::memcmp(footer, kFooterSignature, 16) == 0;
        if (!signed_file) {
            return IMG_ERR_TGA;
        }
    }
    TgaInfo& info = facts->info;
    info.id_length = h[0];
    info.color_map_type = h[1];
    info.image_type = h[2];
    info.color_map_entry_size = h[7];
    info.x_origin = static_cast<int16_t>(le16(h + 8));
    info.y_origin = static_cast<int16_t>(le16(h + 10));
    info.width = static_cast<int16_t>(le16(h + 12));
    info.height = static_cast<int16_t>(le16(h + 14));
    info.pixel_depth = h[16];
    info.attribute_bits = h[17] & 0x0F;
    info.origin_bits = h[17] >> 4;
    info.interleave_bits = h[17] & 0xC0;
    // Gray pixels with alpha keep their gray byte only.
    const bool gray_alpha = (h[2] & 7) == kGray && h[16] == 16;
    info.bits_per_pixel = info.pixel_depth == 8 || gray_alpha ? 8 : 24;

    facts->map_first = le16(h + 3);
    facts->map_length = le16(h + 5);
    facts->map_entry_bytes = (uint32_t{h[7]} + 7) / 8;
    facts->map_offset = kHeaderBytes + uint64_t{h[0]};
    facts->data_offset = facts->map_offset;
    if (info.color_map_type != 0) {
        facts->data_offset += uint64_t{facts->map_length} * facts->map_entry_bytes;
    }
    return IMG_OK;
}

// Checks a parsed header against the target image, in this order: the kind
// against the target's depth (IMG_ERR_BPP); the kind, the interleave, the
// size, the pixel depth for the kind and the colour map entry size of a
// colour-mapped file (IMG_ERR_TGA).
ImgStatus check_header(const HeaderFacts& facts, int32_t image_bits) {
    const TgaInfo& info = facts.info;
    const uint32_t kind = static_cast<uint32_t>(info.image_type) & 7;
    if (image_bits != (kind == kTrueColour ? 24 : 8)) {
        return IMG_ERR_BPP;
    }
    if (kind < kColourMapped || kind > kGray || info.interleave_bits != 0) {
        return IMG_ERR_TGA;
    }
    if (info.width < 0 || info.width > kMaxSide || info.height < 0 || info.height > kMaxSide) {
        return IMG_ERR_TGA;
    }
    // 8-bit pixels for indexes, 8 or 16 (gray and alpha) for gray values, 16,
    // 24 or 32 for true colour: any other pairing would not fit the target's
    // rows.
    const int32_t depth = info.pixel_depth;
    const bool depth_fits = kind == kTrueColour ? depth == 16 || depth == 24 || depth == 32
                            : kind == kGray     ? depth == 8 || depth == 16
                                                : depth == 8;
    if (!depth_fits) {
        return IMG_ERR_TGA;
    }
    // The colour map's entries must be of a size the palette pass converts.
    const int32_t entry = info.color_map_entry_size;
    if (kind == kColourMapped && info.color_map_type != 0 && entry != 15 && entry != 16 &&
        entry != 24 && entry != 32) {
        return IMG_ERR_TGA;
    }
    return IMG_OK;
}

// Blue, green, red of one pixel (or colour map entry) of `bytes` bytes.
void convert_pixel(const uint8_t* p, uint32_t bytes, uint8_t* out) {
    if (bytes == 2) {
        // 5-5-5 word, each channel scaled by 8; bit 15 is dropped.
        const uint32_t w = le16(p);
        out[0] = static_cast<uint8_t>((w & 0x1F) * 8);
        out[1] = static_cast<uint8_t>(((w >> 5) & 0x1F) * 8);
        out[2] = static_cast<uint8_t>(((w >> 10) & 0x1F) * 8);
    } else {
        std::memcpy(out, p, 3);  // 3 bytes, or 4 with the fourth dropped
    }
}

// Stores the first `columns` pixels of the picture row held in `row` (width
// pixels of `bytes` bytes, right to left when `mirrored`) at destination, a
// row of `target_bytes` (1 or 3) bytes per pixel. An 8-bit target takes the
// first byte of each pixel: the index or gray value.
void store_row(const uint8_t* row, uint32_t bytes, uint32_t width, bool mirrored,
               uint8_t* destination, uint32_t target_bytes, uint32_t columns) {
    if (target_bytes == 1) {
        if (bytes == 1 && !mirrored) {
            std::memcpy(destination, row, columns);
            return;
        }
        for (uint32_t x = 0; x < columns; ++x) {
            destination[x] = row[size_t{mirrored ? width - 1 - x : x} * bytes];
        }
        return;
    }
    if (bytes == 3 && !mirrored) {
        std::memcpy(destination, row, 3 * size_t{columns});
        return;
    }
    for (uint32_t x = 0; x < columns; ++x) {
        const uint32_t source = mirrored ? width - 1 - x : x;
        convert_pixel(row + size_t{source} * bytes, bytes, destination + 3 * size_t{x});
    }
}

// A packet that did not fit in the row it began in; its rest starts the next.
struct PendingPacket {
    uint32_t count = 0;  // pixels left, 0..127
    bool run = false;    // one value repeated, else `count` values follow
    uint8_t value[4] = {};
};

// Expands run-length packets into width pixels of `bytes` bytes at out.
// Returns the pixels written: width, or fewer when the data ends first.
uint32_t expand_row(ChargedBytes& in, PendingPacket& packet, uint32_t bytes, uint8_t* out,
                    uint32_t width) {
    uint32_t x = 0;
    while (x < width) {
        if (packet.count == 0) {
            uint8_t h = 0;
            if (!in.byte(&h)) {
                break;
            }
            packet.count = (h & 0x7Fu) + 1;
            packet.run = (h & 0x80) != 0;
            if (packet.run) {
                const uint8_t* value = in.span(bytes);
                if (value == nullptr) {
                    packet.count = 0;
                    break;
                }
                std::memcpy(packet.value, value, bytes);
            }
        }
        // A packet longer than the rest of the row is split: the next row
        // begins with what is left of it.
        const uint32_t n = std::min(packet.count, width - x);
        uint8_t* at = out + size_t{x} * bytes;
        if (!packet.run) {
            const uint8_t* values = in.span(size_t{n} * bytes);
            if (values == nullptr) {
                break;
            }
            std::memcpy(at, values, size_t{n} * bytes);
        } else if (bytes == 1) {
            std::memset(at, packet.value[0], n);
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                std::memcpy(at + size_t{i} * bytes, packet.value, bytes);
            }
        }
        packet.count -= n;
        x += n;
    }
    return x;
}

// Streams the pixel data from the file's current position into the area of
// interest. Returns 0, IMG_ERR_LZW when the data ends before the last row (the
// rows stored so far stay; a row the data ends inside is stored with zeros
// where it was not reached) or IMG_ERR_MEMORY. The caller holds the lock.
ImgStatus pixel_pass(ReaderFile& file, const HeaderFacts& facts, ImageDesc& image) {
    const TgaInfo& info = facts.info;
    const uint32_t width = static_cast<uint32_t>(info.width);                  // 0..32767
    const uint32_t height = static_cast<uint32_t>(info.height);                // 0..32767
    const uint32_t bytes = (static_cast<uint32_t>(info.pixel_depth) + 7) / 8;  // B: 1..4
    const size_t row_bytes = size_t{width} * bytes;
    const bool run_length = info.image_type >= 9;
    const bool mirrored = (info.origin_bits & 1) != 0;
    const bool top_down = (info.origin_bits & 2) != 0;
    const RowPlacement place =
        place_rows(image, height, width, top_down ? RowFill::kFromTop : RowFill::kFromBottom);
    // Top-down files decode the rows they store; bottom-up files decode every
    // row and store the last R, the picture's top rows.
    const uint32_t rows_to_decode = top_down ? place.rows : height;
    const uint32_t first_stored = rows_to_decode - place.rows;

    // The longest run-length row is a one-pixel raw packet per pixel:
    // width x (1 + B) <= 2 x width x B bytes.
    ChunkReader chunk;
    if (chunk.start(file, 2 * row_bytes) != IMG_OK) {
        return IMG_ERR_MEMORY;
    }
    std::unique_ptr<uint8_t[]> expansion(new (std::nothrow) uint8_t[row_bytes + 4]);
    if (!expansion) {
        return IMG_ERR_MEMORY;
    }
    // Pixels already in the target's form and order expand straight into
    // the image's row.
    const uint32_t target_bytes =
        (static_cast<uint32_t>(info.image_type) & 7) == kTrueColour ? 3 : 1;
    const bool direct = run_length && bytes == target_bytes && !mirrored && place.columns == width;

    PendingPacket packet;
    for (uint32_t row = 0; row < rows_to_decode; ++row) {
        chunk.next_step();
        ChargedBytes in = chunk.ahead();
        const bool storing = row >= first_stored;
        uint8_t* destination = storing ? placed_row(image, place, row - first_stored) : nullptr;
        // The row comes from the chunk (uncompressed rows) or from `filled`,
        // the area it was expanded or cut short into.
        const uint8_t* pixels = nullptr;
        uint8_t* filled = nullptr;
        size_t got = row_bytes;  // bytes of the row that arrived
        if (run_length) {
            filled = storing && direct ? destination : expansion.get();
            got = size_t{expand_row(in, packet, bytes, filled, width)} * bytes;
        } else if ((pixels = in.span(row_bytes)) == nullptr) {
            // A pixel cut off by the end of the data is not stored.
            filled = expansion.get();
            got = in.left() / bytes * bytes;
            std::memcpy(filled, in.span(got), got);
        }
        chunk.advance(in.used());
        if (got < row_bytes) {
            // Only the end of the data cuts a row: each step starts with
            // 2 x width x B bytes in the buffer while the file has them.
            assert(chunk.at_end());
            if (got == 0 || !storing) {
                return IMG_ERR_LZW;
            }
            std::memset(filled + got, 0, row_bytes - got);
        }
        if (storing && filled != destination) {
            store_row(filled != nullptr ? filled : pixels, bytes, width, mirrored, destination,
                      target_bytes, place.columns);
        }
        if (got < row_bytes) {
            return IMG_ERR_LZW;
        }
    }
    return IMG_OK;
}

// Reads the colour map of a colour-mapped file into the image's palette and
// returns its entry count. Entry i of the map is palette index first + i; at
// most 256 indexes. The caller holds the lock.
int32_t palette_pass(ReaderFile& file, const HeaderFacts& facts, ImageDesc& image) {
    const TgaInfo& info = facts.info;
    if ((static_cast<uint32_t>(info.image_type) & 7) != kColourMapped || info.color_map_type == 0) {
        return 0;
    }
    const uint32_t capacity = static_cast<uint32_t>(palette_capacity(image_bits(image)));
    const uint32_t first = std::min(facts.map_first, capacity);
    const uint32_t wanted = std::min(facts.map_length, capacity - first);
    const uint32_t entry_bytes = facts.map_entry_bytes;  // 2, 3 or 4 (check_header)
    uint8_t raw[256 * 4];
    size_t got = 0;
    if (file.seek(facts.map_offset)) {
        got = file.read(raw, size_t{wanted} * entry_bytes);
    }
    // Tolerance: a colour map cut off by the end of the file counts its
    // complete entries only.
    const uint32_t entries = static_cast<uint32_t>(got / entry_bytes);
    const uint32_t count = entries == 0 ? 0 : first + entries;
    std::memset(image.palette, 0, sizeof(PaletteEntry) * count);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t bgr[3];
        convert_pixel(raw + size_t{i} * entry_bytes, entry_bytes, bgr);
        image.palette[first + i] = PaletteEntry{bgr[0], bgr[1], bgr[2], 0};
    }
    return static_cast<int32_t>(count);
}

// The reader's operations, run by the shared front door (reader_driver.h).
struct TgaReader {
    using Info = TgaInfo;
    using Header = HeaderFacts;
    static constexpr uint32_t kTargets = kAcceptBpp8_24;
    static constexpr ReaderLocking kLocking = ReaderLocking::kLockThenOpen;
    static ModuleLock& lock() { return g_lock; }

    static ImgStatus parse_header(ReaderFile& file, Header& header) {
        return imaging::parse_header(file, &header);
    }
    static const Info& info_of(const Header& header) { return header.info; }
    static ImgStatus check(Header& header, const ImageDesc& image) {
        return check_header(header, image_bits(image));
    }
    static ImgStatus pixel_pass(ReaderFile& file, Header& header, ImageDesc& image) {
        if (!file.seek(header.data_offset)) {
            return IMG_ERR_LZW;  // no data reachable
        }
        return imaging::pixel_pass(file, header, image);
    }
    static int32_t palette_pass(ReaderFile& file, const Header& header, ImageDesc& image) {
        return imaging::palette_pass(file, header, image);
    }
};

}  // namespace

ImgStatus tga_info(const char* path, TgaInfo* info) {
    return read_info<TgaReader>(path, info);
}

ImgStatus tga_load(const char* path, ImageDesc* image) {
    return read_load<TgaReader>(path, image);
}

void tga_cleanup() {
    g_lock.destroy();
}

}  // namespace imaging
