// LZW compression of GIF image data: the code packer and the encoder.

#include "qap2gif/lzw_encoder.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <new>

namespace qap2gif {

void GifCodePacker::put_code(uint32_t code) {
    pending_ |= (code & ((1u << code_width_) - 1)) << pending_bits_;
    pending_bits_ += code_width_;  // at most 7 + 12 bits
    while (pending_bits_ >= 8) {
        put_byte(static_cast<uint8_t>(pending_));
        pending_ >>= 8;
        pending_bits_ -= 8;
    }
}

void GifCodePacker::put_byte(uint8_t byte) {
    block_[1 + block_fill_] = byte;
    ++block_fill_;
    if (block_fill_ == 255) {
        block_[0] = 255;
        write(block_, 256);
        block_fill_ = 0;
    }
}

void GifCodePacker::flush() {
    if (pending_bits_ > 0) {
        put_byte(static_cast<uint8_t>(pending_));
        pending_ = 0;
        pending_bits_ = 0;
    }
    if (block_fill_ > 0) {
        block_[0] = static_cast<uint8_t>(block_fill_);
        write(block_, block_fill_ + 1);
        block_fill_ = 0;
    }
}

void GifCodePacker::write(const uint8_t* bytes, size_t count) {
    if (error_ != 0) {
        return;  // the output is already lost
    }
    if (std::fwrite(bytes, 1, count, file_) != count) {
        error_ = errno != 0 ? errno : EIO;
    }
}

GifLzwEncoder::GifLzwEncoder(std::FILE* file, int min_code_size)
    : packer_(file),
      initial_width_(min_code_size + 1),
      clear_code_(int32_t{1} << min_code_size),
      end_code_(clear_code_ + 1),
      codes_(new (std::nothrow) int32_t[kTableSize]),
      prefixes_(new (std::nothrow) int32_t[kTableSize]),
      suffixes_(new (std::nothrow) int32_t[kTableSize]) {
    assert(min_code_size >= 2 && min_code_size <= 8);
    if (codes_ == nullptr || prefixes_ == nullptr || suffixes_ == nullptr) {
        status_ = kStatusNoMemory;
        return;
    }
    reset();
}

void GifLzwEncoder::reset() {
    code_width_ = initial_width_;
    packer_.set_code_width(code_width_);
    next_code_ = end_code_ + 1;
    limit_ = int32_t{1} << code_width_;
    std::fill_n(codes_.get(), kTableSize, -1);
}

int GifLzwEncoder::lookup(int32_t prefix, int32_t pixel) const {
    // prefix < 4096 and pixel < 256, so the first slot is below 4096 < 5101.
    int h = prefix ^ (pixel << 4);
    const int step = h == 0 ? 1 : kTableSize - h;
    while (codes_[h] != -1 && (prefixes_[h] != prefix || suffixes_[h] != pixel)) {
        h -= step;
        if (h < 0) {
            h += kTableSize;
        }
    }
    return h;
}

int GifLzwEncoder::start() {
    if (status_ != 0) {
        return status_;
    }
    started_ = false;
    reset();
    packer_.put_code(static_cast<uint32_t>(clear_code_));
    return status_;
}

int GifLzwEncoder::encode(const uint8_t* bytes, size_t count) {
    size_t i = 0;
    if (status_ != 0 || count == 0) {
        return status_;
    }
    if (!started_) {
        prefix_ = bytes[0];
        started_ = true;
        i = 1;
    }
    for (; i < count; ++i) {
        const int32_t pixel = bytes[i];
        assert(pixel < clear_code_);
        const int slot = lookup(prefix_, pixel);
        if (codes_[slot] != -1) {
            prefix_ = codes_[slot];
            continue;
        }
        codes_[slot] = next_code_;
        prefixes_[slot] = prefix_;
        suffixes_[slot] = pixel;
        packer_.put_code(static_cast<uint32_t>(prefix_));
        prefix_ = pixel;
        ++next_code_;
        if (next_code_ <= limit_) {
            continue;
        }
        ++code_width_;
        if (code_width_ > kMaxCodeWidth) {
            // Code 4095 was just given out: the table is full.
            packer_.put_code(static_cast<uint32_t>(clear_code_));
            reset();
        } else {
            packer_.set_code_width(code_width_);
            // At 12 bits the last code is 4095, not 4096.
            limit_ = code_width_ == kMaxCodeWidth ? 2 * limit_ - 1 : 2 * limit_;
        }
    }
    return status_;
}

int GifLzwEncoder::finish() {
    if (status_ != 0) {
        return status_;
    }
    if (started_) {
        packer_.put_code(static_cast<uint32_t>(prefix_));
    }
    packer_.put_code(static_cast<uint32_t>(end_code_));
    packer_.flush();
    return status_;
}

}  // namespace qap2gif
