// The row stages of the PNG reader after inflate.
//
// Filters. Each filtered byte x is stored as x - predictor, modulo 256, where
// the predictor comes from a (the byte one pixel to the left), b (the byte
// above, in the previous row of the pass) and c (the byte above a): Sub takes
// a, Up b, Average (a + b) / 2 and Paeth whichever of a, b and c lies nearest
// to a + b - c. Bytes left of the first pixel and rows above the first one
// count as zero. Sub, Average and Paeth chain each byte to the byte one pixel
// before it, so they cannot be vectorised along the row; what makes them fast
// is keeping a and c of every channel in registers, one pixel per iteration,
// with the pixel size a compile-time constant so the channel loop unrolls and
// the independent channels overlap (reading a back from the row instead would
// put a store-to-load round trip on every step of the chain). Up has no
// chain: it adds eight bytes at a time in one 64-bit word. Paeth's choice is
// written with plain comparisons, which the compiler turns into conditional
// moves: on photographs the branches would be unpredictable.
//
// Storing. The descriptor takes 1, 8 or 24 bits per pixel. A row's pixels are
// read straight from the unfiltered row (which must stay intact: it is the
// next row's "previous") and written to the descriptor columns first,
// first + step, ...; the sample reductions (high byte of 16-bit samples, no
// alpha) and expansions (2 and 4-bit samples to bytes) happen on the way.

#include "imaging/readers/png/png_rows.h"

#include <cassert>
#include <cstring>
#include <utility>

#include "imaging/bits_copy.h"

namespace imaging {

namespace {

enum FilterType : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

uint8_t paeth_predictor(int a, int b, int c) {
    const int p = b - c;  // (a + b - c) - a
    const int q = a - c;  // (a + b - c) - b
    const int pa = p < 0 ? -p : p;
    const int pb = q < 0 ? -q : q;
    const int pc = p + q < 0 ? -(p + q) : p + q;
    const int nearer_b_or_c = pb <= pc ? b : c;
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : nearer_b_or_c);
}

// Calls f(k) for each channel k < D, unrolled: with D and k constants, a
// pixel's per-channel state (uint8_t[D]) stays in registers.
template <unsigned D, typename F>
inline void each_channel(F&& f) {
    [&]<size_t... K>(std::index_sequence<K...>) {
        (f(K), ...);
    }
    (std::make_index_sequence<D>{});
}

// x: the n filtered bytes of the row (no filter type), n a multiple of D.
template <unsigned D>
void unfilter_sub(uint8_t* x, size_t n) {
    uint8_t a[D];
    std::memcpy(a, x, D);
    for (size_t i = D; i < n; i += D) {
        each_channel<D>([&](size_t k) {
            a[k] = static_cast<uint8_t>(x[i + k] + a[k]);
            x[i + k] = a[k];
        });
    }
}

// Eight byte-wise additions at once: the low seven bits of each byte are
// added without a carry into the next byte, the top bit by exclusive or.
void unfilter_up(uint8_t* x, const uint8_t* b, size_t n) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t u, v;
        std::memcpy(&u, x + i, 8);
        std::memcpy(&v, b + i, 8);
        const uint64_t sum = ((u & kLow7) + (v & kLow7)) ^ ((u ^ v) & ~kLow7);
        std::memcpy(x + i, &sum, 8);
    }
    for (; i < n; ++i) {
        x[i] = static_cast<uint8_t>(x[i] + b[i]);
    }
}

template <unsigned D>
void unfilter_average(uint8_t* x, const uint8_t* b, size_t n) {
    uint8_t a[D];
    each_channel<D>([&](size_t k) {
        a[k] = static_cast<uint8_t>(x[k] + (b[k] >> 1));
        x[k] = a[k];
    });
    for (size_t i = D; i < n; i += D) {
        each_channel<D>([&](size_t k) {
            a[k] = static_cast<uint8_t>(x[i + k] + ((a[k] + b[i + k]) >> 1));
            x[i + k] = a[k];
        });
    }
}

template <unsigned D>
void unfilter_paeth(uint8_t* x, const uint8_t* b, size_t n) {
    // First pixel: a = c = 0, so the predictor is b.
    uint8_t a[D];
    uint8_t c[D];
    each_channel<D>([&](size_t k) {
        a[k] = static_cast<uint8_t>(x[k] + b[k]);
        c[k] = b[k];
        x[k] = a[k];
    });
    for (size_t i = D; i < n; i += D) {
        each_channel<D>([&](size_t k) {
            const uint8_t up = b[i + k];
            a[k] = static_cast<uint8_t>(x[i + k] + paeth_predictor(a[k], up, c[k]));
            c[k] = up;
            x[i + k] = a[k];
        });
    }
}

template <unsigned D>
void unfilter(uint8_t type, uint8_t* x, const uint8_t* b, size_t n) {
    switch (type) {
        case kSub:
            unfilter_sub<D>(x, n);
            break;
        case kUp:
            unfilter_up(x, b, n);
            break;
        case kAverage:
            unfilter_average<D>(x, b, n);
            break;
        case kPaeth:
            unfilter_paeth<D>(x, b, n);
            break;
        default:
            break;  // None, and every unknown type, leaves the row unchanged
    }
}

// The store functions take the target by value: a local copy, which the
// compiler knows no store into the row can change.

// 24-bit descriptor pixels from S-byte file pixels whose samples are B bytes
// (1, or 2 with the high byte first).
template <unsigned S, unsigned B>
void store_rgb(const uint8_t* in, const PngRowTarget target) {
    uint8_t* out = target.row + size_t{target.first} * 3;
    const size_t step = size_t{target.step} * 3;
    uint32_t k = 0;
    if (S == 3 && target.step == 1) {
        // Whole rows of 8-bit red, green, blue: each pixel as one 4-byte word
        // whose byte order is reversed. The fourth byte read and written
        // belongs to the next pixel, which follows and is written next, so
        // the last pixel is left to the byte loop.
        for (; k + 1 < target.count; ++k, in += 3, out += 3) {
            uint32_t v;
            std::memcpy(&v, in, 4);
            v = __builtin_bswap32(v) >> 8;
            std::memcpy(out, &v, 4);
        }
    }
    for (; k < target.count; ++k, in += S, out += step) {
        out[0] = in[2 * B];
        out[1] = in[B];
        out[2] = in[0];
    }
}

// 8-bit descriptor pixels from the first byte of S-byte file pixels.
template <unsigned S>
void store_byte(const uint8_t* in, const PngRowTarget target) {
    uint8_t* out = target.row + target.first;
    if (S == 1 && target.step == 1) {
        std::memcpy(out, in, target.count);
        return;
    }
    for (uint32_t k = 0; k < target.count; ++k, in += S, out += target.step) {
        *out = *in;
    }
}

// 8-bit descriptor pixels from 2 or 4-bit samples, most significant first:
// palette indexes as they are, gray scaled to 0..255 (a sample v of 2 bits
// becomes v x 85, of 4 bits v x 17).
void store_packed(const uint8_t* in, uint32_t bits, bool gray, const PngRowTarget target) {
    const uint32_t per_byte = 8 / bits;
    const uint32_t mask = (1u << bits) - 1;
    const uint32_t scale = gray ? 255 / mask : 1;
    uint8_t* out = target.row + target.first;
    for (uint32_t k = 0; k < target.count; ++k, out += target.step) {
        const uint32_t shift = 8 - bits * (k % per_byte + 1);
        *out = static_cast<uint8_t>(((in[k / per_byte] >> shift) & mask) * scale);
    }
}

// 1-bit descriptor pixels from 1-bit samples; neighbouring bits keep their
// values.
void store_bits(const uint8_t* in, const PngRowTarget target) {
    if (target.step == 1) {
        bits_copy(target.row + target.first / 8, in, target.first, target.count);
        return;
    }
    for (uint32_t k = 0; k < target.count; ++k) {
        const uint32_t column = target.first + k * target.step;
        const auto mask = static_cast<uint8_t>(0x80 >> (column % 8));
        uint8_t& out = target.row[column / 8];
        const bool set = (in[k / 8] >> (7 - k % 8)) & 1;
        out = static_cast<uint8_t>(set ? out | mask : out & ~mask);
    }
}

}  // namespace

void png_unfilter_row(uint8_t* row, const uint8_t* previous, size_t length, uint32_t distance) {
    assert(length >= 1);
    uint8_t* x = row + 1;
    const uint8_t* b = previous + 1;
    const size_t n = length - 1;
    assert(distance == 1 || n % distance == 0);
    switch (distance) {
        case 1:
            unfilter<1>(row[0], x, b, n);
            break;
        case 2:
            unfilter<2>(row[0], x, b, n);
            break;
        case 3:
            unfilter<3>(row[0], x, b, n);
            break;
        case 4:
            unfilter<4>(row[0], x, b, n);
            break;
        case 6:
            unfilter<6>(row[0], x, b, n);
            break;
        case 8:
            unfilter<8>(row[0], x, b, n);
            break;
        default:
            assert(false);
            break;
    }
}

void png_store_row(const PngFormat& format, const uint8_t* pixels, const PngRowTarget& target) {
    const uint32_t pixel_bytes = format.channels * format.bit_depth / 8;  // 0 below 8 bits
    if (format.bits_per_pixel == 24) {
        switch (pixel_bytes) {
            case 3:
                store_rgb<3, 1>(pixels, target);
                break;
            case 4:
                store_rgb<4, 1>(pixels, target);
                break;
            case 6:
                store_rgb<6, 2>(pixels, target);
                break;
            default:
                assert(pixel_bytes == 8);
                store_rgb<8, 2>(pixels, target);
                break;
        }
    } else if (format.bits_per_pixel == 1) {
        store_bits(pixels, target);
    } else if (format.bit_depth < 8) {
        store_packed(pixels, format.bit_depth, format.color_type == 0, target);
    } else {
        switch (pixel_bytes) {
            case 1:
                store_byte<1>(pixels, target);
                break;
            case 2:
                store_byte<2>(pixels, target);
                break;
            default:
                assert(pixel_bytes == 4);
                store_byte<4>(pixels, target);
                break;
        }
    }
}

}  // namespace imaging
