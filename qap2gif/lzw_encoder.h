// LZW compression of GIF image data.
//
// GIF compresses a stream of pixel indices with variable-length LZW codes. With
// a minimum code size m, codes 0 .. 2^m - 1 stand for single pixels, 2^m is the
// clear code (start the table afresh) and 2^m + 1 the end code; new strings get
// the codes from 2^m + 2 on. Codes start m + 1 bits wide and grow by one bit
// each time the next free code outgrows the width, up to 12 bits (code 4095);
// when the table is full the encoder puts a clear code and starts again.
// Codes are packed least significant bit first into bytes, and the bytes are
// written in sub-blocks of at most 255 bytes, each preceded by its length.
//
// The string table is a hash table of 5101 slots (a prime above 4096), each
// holding a code and the string's prefix code and last pixel. A string
// (prefix p, pixel c) is looked for from slot p XOR (c << 4), stepping
// backwards by 5101 minus that slot (or by 1 from slot 0) until it or an empty
// slot is found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace qap2gif {

// Packs codes into bytes and bytes into GIF data sub-blocks.
class GifCodePacker {
  public:
    explicit GifCodePacker(std::FILE* file) : file_(file) {}

    void set_code_width(int bits) { code_width_ = bits; }
    int code_width() const { return code_width_; }

    // Appends a code of the current width, least significant bit first.
    void put_code(uint32_t code);
    // Appends a byte to the current sub-block, writing the block when it holds 255.
    void put_byte(uint8_t byte);
    // Writes the partial byte and the partial sub-block, if any.
    void flush();

    // errno of the first write that failed, or 0.
    int error() const { return error_; }

  private:
    void write(const uint8_t* bytes, size_t count);

    std::FILE* file_;
    uint8_t block_[256] = {};  // the length byte, then up to 255 data bytes
    size_t block_fill_ = 0;    // 0 .. 254 data bytes between calls
    int code_width_ = 0;       // 3 .. 12 bits
    uint32_t pending_ = 0;     // bits not yet formed into a byte, lowest first
    int pending_bits_ = 0;     // 0 .. 7 between calls
    int error_ = 0;
};

// A compressor of a pixel stream.
class LzwEncoder {
  public:
    virtual ~LzwEncoder() = default;
    // Compresses count more pixels, continuing the stream. Returns status().
    virtual int encode(const uint8_t* bytes, size_t count) = 0;
    // Begins a stream (puts the clear code). Returns status().
    virtual int start() = 0;
    // Ends the stream (puts the last string and the end code, flushes).
    virtual int finish() = 0;
    // 0, or kStatusNoMemory when the tables could not be allocated.
    virtual int status() const = 0;
};

class GifLzwEncoder final : public LzwEncoder {
  public:
    static constexpr int kStatusNoMemory = 8;
    static constexpr int kMaxCodeWidth = 12;
    static constexpr int kTableSize = 5101;

    // min_code_size: 2 .. 8. Pixels must be below 2^min_code_size.
    GifLzwEncoder(std::FILE* file, int min_code_size);

    int encode(const uint8_t* bytes, size_t count) override;
    int start() override;
    int finish() override;
    int status() const override { return status_; }

    const GifCodePacker& packer() const { return packer_; }

  private:
    void reset();
    int lookup(int32_t prefix, int32_t pixel) const;

    GifCodePacker packer_;
    int status_ = 0;
    bool started_ = false;
    int initial_width_;   // min_code_size + 1
    int code_width_ = 0;  // initial_width_ .. 12
    int32_t clear_code_;  // 2^min_code_size
    int32_t end_code_;    // clear_code_ + 1
    int32_t next_code_ = 0;
    int32_t limit_ = 0;                 // the largest next code allowed at the current width
    std::unique_ptr<int32_t[]> codes_;  // -1: empty slot
    std::unique_ptr<int32_t[]> prefixes_;
    std::unique_ptr<int32_t[]> suffixes_;
    int32_t prefix_ = 0;  // code of the string matched so far
};

}  // namespace qap2gif
