#include "viewer/core/png_encoder.h"

#define ZLIB_CONST
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace viewer {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Compressed bytes gathered into one IDAT chunk.
constexpr size_t kIdatBytes = size_t{1} << 16;

// zlib's level for colour indices (its default); the run-length strategy for
// levels ignores the level.
constexpr int kIndexLevel = 6;

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

void put_u32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// The filters, each over n bytes of `row` with `above` the unfiltered row
// above and `step` the bytes per pixel. Bytes left of the first pixel count
// as zero, as the format says.

void filter_sub(const uint8_t* row, size_t n, size_t step, uint8_t* out) {
    std::memcpy(out, row, step);
    for (size_t i = step; i < n; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - row[i - step]);
    }
}

void filter_up(const uint8_t* row, const uint8_t* above, size_t n, uint8_t* out) {
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - above[i]);
    }
}

void filter_average(const uint8_t* row, const uint8_t* above, size_t n, size_t step, uint8_t* out) {
    for (size_t i = 0; i < step; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - (above[i] >> 1));
    }
    for (size_t i = step; i < n; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - ((row[i - step] + above[i]) >> 1));
    }
}

// Paeth's predictor: of left (a), above (b) and upper left (c), the one
// nearest to a + b - c, ties in that order.
inline int paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

void filter_paeth(const uint8_t* row, const uint8_t* above, size_t n, size_t step, uint8_t* out) {
    for (size_t i = 0; i < step; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - above[i]);  // a = c = 0: the predictor is b
    }
    for (size_t i = step; i < n; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - paeth(row[i - step], above[i], above[i - step]));
    }
}

// The sum of the bytes' magnitudes read as signed numbers: small residues,
// positive or negative, are what the coder packs best.
uint64_t magnitude_sum(const uint8_t* bytes, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const int v = static_cast<int8_t>(bytes[i]);
        sum += static_cast<uint32_t>(v < 0 ? -v : v);
    }
    return sum;
}

}  // namespace

void PngEncoder::StreamEnd::operator()(z_stream_s* stream) const {
    deflateEnd(stream);
    delete stream;
}

int PngEncoder::fail(int error) {
    if (error_ == 0) {
        error_ = error;
    }
    return error_;
}

void PngEncoder::write_chunk(const char* type, const uint8_t* data, size_t size) {
    uint8_t head[8];
    put_u32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size != 0) {
        crc = crc32(crc, data, static_cast<uInt>(size));  // a null buffer would restart it
    }
    uint8_t tail[4];
    put_u32(tail, static_cast<uint32_t>(crc));
    file_.write(head, sizeof head);
    file_.write(data, size);
    file_.write(tail, sizeof tail);
    if (file_.error() != 0) {
        fail(file_.error());
    }
}

int PngEncoder::begin(const PngHeader& header) {
    levels_ = header.levels;
    const size_t channels = header.color_type == PngColorType::Rgb ? 3 : 1;
    const size_t bits = channels * header.bit_depth;
    row_bytes_ = (size_t{header.width} * bits + 7) / 8;
    pixel_bytes_ = bits < 8 ? 1 : bits / 8;

    auto* stream = new (std::nothrow) z_stream{};
    if (stream == nullptr) {
        return fail(ENOMEM);
    }
    const int opened =
        levels_ ? deflateInit2(stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_RLE)
                : deflateInit2(stream, kIndexLevel, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    if (opened != Z_OK) {
        delete stream;
        return fail(ENOMEM);
    }
    stream_.reset(stream);
    out_.resize(kIdatBytes);
    stream_->next_out = out_.data();
    stream_->avail_out = static_cast<uInt>(out_.size());
    previous_.assign(row_bytes_, 0);
    for (std::vector<uint8_t>& candidate : candidates_) {
        candidate.resize(levels_ ? row_bytes_ + 1 : 0);
    }

    file_.write(kSignature, sizeof kSignature);
    uint8_t ihdr[13] = {};
    put_u32(ihdr, header.width);
    put_u32(ihdr + 4, header.height);
    ihdr[8] = header.bit_depth;
    ihdr[9] = static_cast<uint8_t>(header.color_type);
    write_chunk("IHDR", ihdr, sizeof ihdr);
    if (header.color_type == PngColorType::Palette) {
        write_chunk("PLTE", header.palette, 3 * static_cast<size_t>(header.palette_entries));
    }
    return error_;
}

const uint8_t* PngEncoder::filter_row(const uint8_t* row) {
    const size_t n = row_bytes_;
    const uint8_t* above = previous_.data();
    std::memcpy(candidates_[kNone].data() + 1, row, n);
    filter_sub(row, n, pixel_bytes_, candidates_[kSub].data() + 1);
    filter_up(row, above, n, candidates_[kUp].data() + 1);
    filter_average(row, above, n, pixel_bytes_, candidates_[kAverage].data() + 1);
    filter_paeth(row, above, n, pixel_bytes_, candidates_[kPaeth].data() + 1);
    uint8_t best = kNone;
    uint64_t best_sum = UINT64_MAX;
    for (uint8_t filter = kNone; filter <= kPaeth; ++filter) {
        const uint64_t sum = magnitude_sum(candidates_[filter].data() + 1, n);
        if (sum < best_sum) {
            best = filter;
            best_sum = sum;
        }
    }
    std::memcpy(previous_.data(), row, n);
    candidates_[best][0] = best;
    return candidates_[best].data();
}

int PngEncoder::deflate_bytes(const uint8_t* bytes, size_t size, int flush) {
    // A row of an allocated picture is below 2 GiB: it fits zlib's counter.
    stream_->next_in = bytes;
    stream_->avail_in = static_cast<uInt>(size);
    int result = Z_OK;
    do {
        result = deflate(stream_.get(), flush);
        if (result == Z_STREAM_ERROR || (result == Z_BUF_ERROR && stream_->avail_out != 0)) {
            return fail(EIO);  // no progress with room to write: zlib's state is broken
        }
        if (stream_->avail_out == 0) {
            write_chunk("IDAT", out_.data(), out_.size());
            stream_->next_out = out_.data();
            stream_->avail_out = static_cast<uInt>(out_.size());
        }
    } while (error_ == 0 && (flush == Z_FINISH ? result != Z_STREAM_END : stream_->avail_in != 0));
    return error_;
}

int PngEncoder::write_row(const uint8_t* row) {
    if (error_ != 0 || !stream_) {
        return fail(EINVAL);
    }
    if (levels_) {
        return deflate_bytes(filter_row(row), row_bytes_ + 1, Z_NO_FLUSH);
    }
    const uint8_t none = kNone;
    if (deflate_bytes(&none, 1, Z_NO_FLUSH) != 0) {
        return error_;
    }
    return deflate_bytes(row, row_bytes_, Z_NO_FLUSH);
}

int PngEncoder::finish() {
    if (error_ != 0 || !stream_) {
        return fail(EINVAL);
    }
    if (deflate_bytes(nullptr, 0, Z_FINISH) != 0) {
        return error_;
    }
    const size_t pending = out_.size() - stream_->avail_out;
    if (pending != 0) {
        write_chunk("IDAT", out_.data(), pending);
    }
    write_chunk("IEND", nullptr, 0);
    stream_.reset();
    return error_;
}

}  // namespace viewer
