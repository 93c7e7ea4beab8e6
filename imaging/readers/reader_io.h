// The I/O layer every raster reader streams its file through.
//
//   ByteSource    where a chunk buffer's data comes from
//   ReaderFile    a file opened by name for reading; regular files only
//   le16 .. be32  field reads from bytes the caller has already bounds-checked
//   ChunkReader   the chunk buffer: file data streams through it one step (a
//                 row, a packet, a block of codes) at a time, and every read is
//                 charged against the bytes the file really delivered
//   RowPlacement  where R stored rows of C columns land in the descriptor's
//                 area of interest
//   starts_with   whether the first bytes of a file, as read, are a signature
//
// Readers own their ReaderFile and ChunkReader for the duration of one call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "imaging/image.h"

namespace imaging {

inline uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Whether head, the first bytes of a file as read (fewer in a short file),
// begins with the bytes of signature.
inline bool starts_with(std::span<const uint8_t> head, std::string_view signature) {
    return head.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), head.begin(),
                      [](char s, uint8_t h) { return static_cast<uint8_t>(s) == h; });
}

// A stream of bytes read in order: a file from its current position, or a
// reader's own sequence of pieces of one.
class ByteSource {
  public:
    // Reads up to size bytes; fewer only where the data ends.
    virtual size_t read(uint8_t* destination, size_t size) = 0;

  protected:
    ~ByteSource() = default;
};

// A file opened by name for reading. Only regular files are accepted (a
// directory, device or pipe cannot be a picture, and a pipe could block).
class ReaderFile final : public ByteSource {
  public:
    ReaderFile() = default;
    ReaderFile(const ReaderFile&) = delete;
    ReaderFile& operator=(const ReaderFile&) = delete;
    ~ReaderFile();

    // False when the path cannot be opened or is not a regular file.
    [[nodiscard]] bool open(const char* path);

    // Reads up to size bytes at the current position; fewer only at the end of
    // the file (or on a read error, which ends the data just the same).
    size_t read(uint8_t* destination, size_t size) override;

    // Reads exactly size bytes, or returns false (the bytes read so far are
    // in the destination, the rest of it untouched).
    [[nodiscard]] bool read_exact(uint8_t* destination, size_t size) {
        return read(destination, size) == size;
    }

    // Moves to an offset from the start. Seeking past the end succeeds; the
    // next read then returns nothing.
    [[nodiscard]] bool seek(uint64_t offset);

    // Reads up to size bytes at an offset from the start, leaving the current
    // position as it is; fewer only at the end of the file (or on a read
    // error). Several threads may read at once.
    size_t read_at(uint64_t offset, uint8_t* destination, size_t size);

    // The file's size when it was opened.
    uint64_t size() const { return size_; }

  private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// The bytes ahead of a position in the chunk buffer. Every read is charged
// against what the file delivered; nothing past it is ever touched.
class ChargedBytes {
  public:
    ChargedBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next byte, or false when none is left.
    bool byte(uint8_t* out) {
        if (used_ == size_) {
            return false;
        }
        *out = data_[used_++];
        return true;
    }

    // The next count bytes, or null when fewer are left.
    const uint8_t* span(size_t count) {
        if (size_ - used_ < count) {
            return nullptr;
        }
        const uint8_t* start = data_ + used_;
        used_ += count;
        return start;
    }

    // The next count bytes without consuming them, or null when fewer are left.
    const uint8_t* peek(size_t count) const {
        return size_ - used_ < count ? nullptr : data_ + used_;
    }

    size_t used() const { return used_; }
    size_t left() const { return size_ - used_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// The chunk buffer through which a reader's data streams.
//
// Invariant: 0 <= pos <= valid <= size. Bytes [0, valid) hold file data and
// [pos, valid) is still unread. After a refill, threshold = valid - need (or
// 0): a step that starts below the threshold has at least `need` bytes ahead,
// and so has every step while the file has more data.
//
// Two ways to read:
//   - by steps: next_step() makes `need` bytes available (fewer only at the end
//     of the data), ahead() hands them out charged, advance() consumes what the
//     step used;
//   - as a byte stream: byte(), read() and skip() refill as they go.
class ChunkReader {
  public:
    // The buffer's least size.
    static constexpr size_t kMinChunkBytes = 98304;

    // Reads from the source (a file: from its current position). `need` is the
    // most bytes one step may take (at least 1). The buffer holds at least
    // 2 * need bytes, so that each refill follows at least `need` consumed
    // bytes and the moves of unread bytes stay linear in the data. Returns 0,
    // or IMG_ERR_MEMORY.
    [[nodiscard]] ImgStatus start(ByteSource& source, size_t need,
                                  size_t min_size = kMinChunkBytes);

    // Drops the unread bytes and reads on from the source's current position,
    // keeping the buffer.
    void restart();

    // Makes the next step's bytes available; false when no data is left at all.
    bool next_step();

    // The unread bytes in the buffer, for one step.
    ChargedBytes ahead() const { return ChargedBytes(data_ + pos_, valid_ - pos_); }

    // Consumes count bytes of the step (count <= the bytes ahead).
    void advance(size_t count);

    // True once a read came back short: the rest of the data is in the buffer.
    bool at_end() const { return at_end_; }

    // Byte-stream reads. False (or fewer bytes) only at the end of the data.
    bool byte(uint8_t* out) {
        if (pos_ == valid_ && !fill()) {
            return false;
        }
        *out = data_[pos_++];
        return true;
    }
    size_t read(uint8_t* destination, size_t count);
    bool skip(size_t count);

  private:
    // Moves the unread bytes to the front and fills the buffer behind them.
    // Truncation policy: a short read means the data ends there (no more reads
    // are tried); steps that the bytes left do not complete are the reader's
    // to refuse or cut.
    void refill();
    // A refill when the buffer is empty; false at the end of the data.
    bool fill();

    ByteSource* source_ = nullptr;
    std::unique_ptr<uint8_t[]> buffer_;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;       // B
    size_t need_ = 0;       // N
    size_t pos_ = 0;        // start of the next step
    size_t valid_ = 0;      // bytes read into the buffer
    size_t threshold_ = 0;  // refill once pos reaches it
    bool at_end_ = false;
};

// How a reader's stored rows fill the area of interest.
enum class RowFill {
    kFromTop,       // stored row k lands on area_top + k
    kFromBottom,    // stored row k lands on area_bottom - k
    kDownToBottom,  // stored rows go downwards and the last one lands on area_bottom
};

// Where the rows go and how many of them and of their pixels.
struct RowPlacement {
    uint32_t rows;        // R: rows to store, min(file rows, area height), 0..32768
    uint32_t columns;     // C: pixels of each row to store, min(file columns, area width)
    uint32_t bytes_left;  // byte offset of the area's left column in an image row
    uint32_t first_row;   // image row (from the top) of stored row 0
    bool upward;          // stored row k lands on first_row - k
};

// The placement of file_rows rows of file_columns pixels into a checked image
// (image_check has ordered the corners and kept them inside the image).
RowPlacement place_rows(const ImageDesc& image, uint32_t file_rows, uint32_t file_columns,
                        RowFill fill);

// The image row (from the top) that stored row k (k < place.rows) fills.
inline uint32_t placed_row_index(const RowPlacement& place, uint32_t k) {
    return place.upward ? place.first_row - k : place.first_row + k;
}

// The first byte of the area in the image row that stored row k fills. For
// 1-bit images that is the byte holding the area's first bit: bits_copy takes
// it with the bit offset area_left.
inline uint8_t* placed_row(const ImageDesc& image, const RowPlacement& place, uint32_t k) {
    return image_row(image, placed_row_index(place, k)) + place.bytes_left;
}

}  // namespace imaging
