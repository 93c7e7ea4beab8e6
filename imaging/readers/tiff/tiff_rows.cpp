#include "imaging/readers/tiff/tiff_rows.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "imaging/bits_copy.h"

namespace imaging::tiff {

namespace {

// Each byte with its bit order reversed.
constexpr auto kReversed = [] {
    std::array<uint8_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = 0;
        for (uint32_t i = 0; i < 8; ++i) {
            r |= ((b >> i) & 1) << (7 - i);
        }
        table[b] = static_cast<uint8_t>(r);
    }
    return table;
}();

}  // namespace

void StripSource::select(size_t first, size_t end) {
    next_ = std::min(first, strips_.size());
    end_ = std::min(end, strips_.size());
    left_ = 0;
}

size_t StripSource::read(uint8_t* destination, size_t size) {
    size_t done = 0;
    while (done < size && !failed_) {
        if (left_ == 0) {
            if (next_ >= end_) {
                break;
            }
            const Strip& strip = strips_[next_++];
            if (strip.bytes == 0) {
                continue;
            }
            position_ = strip.offset;
            left_ = strip.bytes;
            continue;
        }
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(size - done, left_));
        const size_t got = file_.read_at(position_, destination + done, wanted);
        done += got;
        position_ += got;
        left_ -= got;
        // The strip lies inside the file as it was opened: a short read is a
        // failing read.
        if (got < wanted) {
            failed_ = true;
        }
    }
    if (reverse_bits_) {
        for (size_t i = 0; i < done; ++i) {
            destination[i] = kReversed[destination[i]];
        }
    }
    return done;
}

ImgStatus RowStore::start() {
    if (format_.kind == RowKind::kBilevel && format_.invert) {
        inverted_.reset(new (std::nothrow) uint8_t[format_.source_bytes]);
        if (!inverted_) {
            return IMG_ERR_MEMORY;
        }
    }
    return IMG_OK;
}

void RowStore::store(const uint8_t* row) {
    if (done()) {
        return;
    }
    const uint32_t columns = place_.columns;
    uint8_t* destination = placed_row(image_, place_, stored_);
    ++stored_;
    switch (format_.kind) {
        case RowKind::kBilevel: {
            // columns <= 8 * S: the bytes read are inside the row.
            if (format_.invert) {
                const uint32_t bytes = (columns + 7) / 8;
                for (uint32_t i = 0; i < bytes; ++i) {
                    inverted_[i] = static_cast<uint8_t>(~row[i]);
                }
                row = inverted_.get();
            }
            bits_copy(destination, row, image_.area_left, columns);
            break;
        }
        case RowKind::kFourBit: {
            // Samples of b bits, most significant bits first; columns * b <= 8 * S.
            const uint32_t bits = format_.bits_per_sample;
            const uint32_t shift = format_.indexes ? 0 : 8 - bits;
            const uint32_t mask = (1u << bits) - 1;
            uint32_t position = 0;
            for (uint32_t x = 0; x < columns; ++x, position += bits) {
                const uint32_t byte = position / 8;
                const uint32_t pair = (uint32_t{row[byte]} << 8) |
                                      (byte + 1 < format_.source_bytes ? row[byte + 1] : 0);
                const uint32_t sample = (pair >> (16 - bits - position % 8)) & mask;
                destination[x] = static_cast<uint8_t>(sample << shift);
            }
            break;
        }
        case RowKind::kEightBit:
            if (format_.extra_sample) {
                for (uint32_t x = 0; x < columns; ++x) {
                    destination[x] = row[2 * x];
                }
            } else {
                std::memcpy(destination, row, columns);
            }
            break;
        case RowKind::kSixteenBit:
            if (format_.swap_bytes) {
                for (uint32_t x = 0; x < columns; ++x) {
                    destination[2 * x] = row[2 * x + 1];
                    destination[2 * x + 1] = row[2 * x];
                }
            } else {
                std::memcpy(destination, row, 2 * size_t{columns});
            }
            break;
        case RowKind::kRgb: {
            const uint32_t step = format_.extra_sample ? 4 : 3;
            for (uint32_t x = 0; x < columns; ++x, row += step, destination += 3) {
                destination[0] = row[2];
                destination[1] = row[1];
                destination[2] = row[0];
            }
            break;
        }
    }
}

void RowStore::store_rgb_differences(const uint8_t* row) {
    if (done()) {
        return;
    }
    uint8_t* destination = placed_row(image_, place_, stored_);
    ++stored_;
    const uint32_t step = format_.extra_sample ? 4 : 3;
    uint8_t red = 0, green = 0, blue = 0;
    for (uint32_t x = 0; x < place_.columns; ++x, row += step, destination += 3) {
        red = static_cast<uint8_t>(red + row[0]);
        green = static_cast<uint8_t>(green + row[1]);
        blue = static_cast<uint8_t>(blue + row[2]);
        destination[0] = blue;
        destination[1] = green;
        destination[2] = red;
    }
}

}  // namespace imaging::tiff
