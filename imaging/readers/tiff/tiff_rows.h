// The pieces of the TIFF reader that its strip pass and its LZW pass share:
// the strips as one stream of bytes, and the conversion of a decoded file row
// into a row of the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/image.h"
#include "imaging/readers/reader_io.h"

namespace imaging::tiff {

// One strip of the file: where its data starts and how many bytes of it lie
// inside the file.
struct Strip {
    uint64_t offset;
    uint64_t bytes;  // offset + bytes <= file size once the table is read
};

// A run of strips read as one stream: each strip's bytes in turn, from its own
// offset. With reversed bit order (FillOrder 2) every byte read has its bits
// reversed. A read comes back short only where the last selected strip ends,
// or where a read of the file fails (then failed() is true). Reads leave the
// file's position alone, so that sources on one file may read at once from
// several threads.
class StripSource final : public ByteSource {
  public:
    StripSource(ReaderFile& file, std::span<const Strip> strips, bool reverse_bits)
        : file_(file), strips_(strips), reverse_bits_(reverse_bits) {}
    // A source of its own over the same strips, nothing selected.
    StripSource(const StripSource& other)
        : file_(other.file_), strips_(other.strips_), reverse_bits_(other.reverse_bits_) {}
    StripSource& operator=(const StripSource&) = delete;

    // The strips [first, end) are read next, in index order.
    void select(size_t first, size_t end);

    size_t read(uint8_t* destination, size_t size) override;

    bool failed() const { return failed_; }

  private:
    ReaderFile& file_;
    std::span<const Strip> strips_;
    bool reverse_bits_;
    size_t next_ = 0;  // the next strip to open
    size_t end_ = 0;
    uint64_t position_ = 0;  // file offset of the open strip's next byte
    uint64_t left_ = 0;      // unread bytes of the open strip
    bool failed_ = false;
};

// How a decoded file row becomes an image row.
enum class RowKind {
    kBilevel,     // 1 bit per pixel: C bits copied
    kFourBit,     // 4 to 6 bits per sample, widened to one byte per pixel
    kEightBit,    // one byte per pixel
    kSixteenBit,  // one 16-bit sample per pixel
    kRgb,         // red, green, blue bytes stored as blue, green, red
};

struct RowFormat {
    RowKind kind = RowKind::kEightBit;
    uint32_t source_bytes = 0;     // S: bytes of a file row, 1..kMaxRowBytes
    uint32_t bits_per_sample = 1;  // 4..6 for kFourBit
    bool invert = false;           // kBilevel: the row's bytes are inverted first
    bool extra_sample = false;     // kEightBit, kRgb: each pixel has one more sample
    bool indexes = false;          // kFourBit: samples are colour-map indexes, not gray
    bool swap_bytes = false;       // kSixteenBit: samples are big-endian
};

// Stores decoded file rows into the image's area of interest, from its top
// row downwards, until R rows are stored.
class RowStore {
  public:
    RowStore(ImageDesc& image, const RowPlacement& place, const RowFormat& format)
        : image_(image), place_(place), format_(format) {}

    // Allocates the work row of a bilevel row that is inverted. Returns 0 or
    // IMG_ERR_MEMORY.
    [[nodiscard]] ImgStatus start();

    // Stores one file row of S bytes as the next image row (when rows remain).
    void store(const uint8_t* row);

    // The same for an RGB row whose samples are differences from the pixel to
    // the left (Predictor 2), undone on the way.
    void store_rgb_differences(const uint8_t* row);

    // The next row stored becomes stored row `row` (at most R).
    void seek_row(uint32_t row) { stored_ = row < place_.rows ? row : place_.rows; }

    bool done() const { return stored_ == place_.rows; }
    ImageDesc& image() const { return image_; }
    uint32_t stored() const { return stored_; }
    const RowFormat& format() const { return format_; }
    const RowPlacement& placement() const { return place_; }

  private:
    ImageDesc& image_;
    RowPlacement place_;
    RowFormat format_;
    std::unique_ptr<uint8_t[]> inverted_;  // bilevel rows with invert set
    uint32_t stored_ = 0;
};

}  // namespace imaging::tiff
