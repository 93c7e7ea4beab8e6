// Resizing and copying pictures between descriptors.
//
// image_resize scales the source's area of interest into the destination's. The
// filtered method works in 17.15 fixed point: destination pixel (c, r)
// corresponds to source position (c * xstep, r * ystep), with xstep =
// (ws << 15) / wd and ystep = (hs << 15) / hd, accumulated by addition. The
// whole part (>> 15) is a source column or row, the low 15 bits a fraction.
//
// - When the picture shrinks in both directions (both steps above 1.0), each
//   destination pixel is the truncated mean of a box of source pixels at its
//   position. The box is the step rounded to nearest (halves up), except that
//   steps up to 1.5 give boxes of 2 so that no source pixel is skipped; boxes
//   are cut at the right and bottom edges of the source area.
// - Otherwise each pixel is interpolated between its four source neighbours:
//   horizontally with the 15-bit fraction fx, then vertically with fy. The
//   vertical difference is divided by 32768 before it is weighted, truncating
//   toward zero, and the sum is rounded: every step is exact 32-bit integer
//   arithmetic, so results are reproducible bit for bit.
//
// 8-bit gray pictures are resampled level by level. 8-bit colour-palette
// pictures are resampled in 24-bit colour, read through the palette, and the
// result is mapped back onto the same palette with error diffusion.
//
// The pattern method (and every 1-bit picture) keeps whole source rows and
// columns. A step pattern over n = max(source, destination) positions has
// m = min(source, destination) bits set, spread evenly (a Bresenham walk).
// Shrinking, a set bit keeps that source row or column and a clear one drops
// it; enlarging, a set bit takes the next source row or column and a clear one
// repeats the last.
//
// When source and destination share storage and their areas may overlap, the
// resize works through a temporary image so that no source pixel is overwritten
// before it is read.

#include "imaging/convert/resize.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "imaging/bits_copy.h"
#include "imaging/convert/palette_map.h"
#include "imaging/parallel.h"

namespace imaging {

namespace {

struct Rect {
    uint32_t left;
    uint32_t top;
    uint32_t width;
    uint32_t height;
};

Rect area_of(const ImageDesc& image) {
    return Rect{image.area_left, image.area_top, image.area_right - image.area_left + 1,
                image.area_bottom - image.area_top + 1};
}

// Orders the area corners as validation does, so that sizes are never taken
// from corners given right to left.
void order_corners(ImageDesc* image) {
    if (image->area_left > image->area_right) {
        std::swap(image->area_left, image->area_right);
    }
    if (image->area_top > image->area_bottom) {
        std::swap(image->area_top, image->area_bottom);
    }
}

// An image allocated for the duration of one call.
struct OwnedImage {
    ImageDesc image{};
    OwnedImage() = default;
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    ~OwnedImage() { image_free(&image); }
};

// Whether the areas of two validated images may share bytes. Their address
// ranges are compared; when the rows of both line up (same row width, row
// starts a whole number of rows apart), the byte columns decide as well, so
// side-by-side areas of one picture do not count as shared. Any other
// intersection counts: a needless temporary costs memory, a missed one would
// corrupt the result.
bool share_storage(const ImageDesc& a, const ImageDesc& b) {
    struct Span {
        uint64_t first_column;  // byte offsets within a row, inclusive
        uint64_t last_column;
        uintptr_t low;  // address range of the area, [low, high)
        uintptr_t high;
    };
    auto span_of = [](const ImageDesc& image) {
        const uint64_t bits = static_cast<uint64_t>(image_bits(image));
        Span span{};
        span.first_column = image.area_left * bits / 8;
        span.last_column = (image.area_right * bits + bits - 1) / 8;
        span.low =
            reinterpret_cast<uintptr_t>(image_row(image, image.area_bottom)) + span.first_column;
        span.high =
            reinterpret_cast<uintptr_t>(image_row(image, image.area_top)) + span.last_column + 1;
        return span;
    };
    const Span sa = span_of(a);
    const Span sb = span_of(b);
    if (sa.low >= sb.high || sb.low >= sa.high) {
        return false;
    }
    const uintptr_t pa = reinterpret_cast<uintptr_t>(a.pixels);
    const uintptr_t pb = reinterpret_cast<uintptr_t>(b.pixels);
    const uintptr_t apart = pa > pb ? pa - pb : pb - pa;
    if (a.row_bytes == b.row_bytes && a.row_bytes != 0 && apart % a.row_bytes == 0) {
        return sa.first_column <= sb.last_column && sb.first_column <= sa.last_column;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Filtered resampling.

// Where the resamplers read: an area of an 8-bit or 24-bit image, 8-bit
// indices optionally expanded through a palette into blue, green, red.
struct SampleSource {
    const ImageDesc* image;
    Rect area;
    const PaletteEntry* palette;  // set: 8-bit indices read as colours
    uint32_t channels;            // values per pixel as read: 1 or 3
};

// Where they write: an area of an image with `channels` bytes per pixel.
struct SampleTarget {
    ImageDesc* image;
    Rect area;
    uint32_t channels;
};

// Reads the channels of source pixel x (an absolute column) of a row.
inline void fetch_pixel(const SampleSource& source, const uint8_t* row, uint32_t x, uint8_t* out) {
    if (source.palette != nullptr) {
        const PaletteEntry& colour = source.palette[row[x]];
        out[0] = colour.blue;
        out[1] = colour.green;
        out[2] = colour.red;
    } else if (source.channels == 3) {
        out[0] = row[3 * size_t{x}];
        out[1] = row[3 * size_t{x} + 1];
        out[2] = row[3 * size_t{x} + 2];
    } else {
        out[0] = row[x];
    }
}

// Box size along one axis for a step above 32768 (1.0).
int32_t box_size(int32_t step) {
    const int32_t round = (step >= 32769 && step <= 49152) ? 32767 : 16384;
    return (step + round) >> 15;
}

// sums[i] += in[i] for i < n, in blocks of a fixed length that the compiler
// turns into vector adds.
void add_values(const uint8_t* __restrict in, uint32_t* __restrict sums, size_t n) {
    constexpr size_t kBlock = 16;
    size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            sums[i + k] += in[i + k];
        }
    }
    for (; i < n; ++i) {
        sums[i] += in[i];
    }
}

// Adds the channels of a source row's area into per-column sums.
void add_row(const SampleSource& source, const uint8_t* row, uint32_t* sums) {
    const uint32_t width = source.area.width;
    if (source.palette != nullptr) {
        const uint8_t* in = row + source.area.left;
        for (uint32_t x = 0; x < width; ++x) {
            const PaletteEntry& colour = source.palette[in[x]];
            sums[3 * x] += colour.blue;
            sums[3 * x + 1] += colour.green;
            sums[3 * x + 2] += colour.red;
        }
        return;
    }
    add_values(row + size_t{source.area.left} * source.channels, sums,
               size_t{width} * source.channels);
}

// Destination rows [first, end) of a box resample, with sums for one row.
void box_rows(const SampleSource& source, const SampleTarget& target, int32_t xstep, int32_t ystep,
              uint32_t box_width, uint32_t box_height, uint32_t first, uint32_t end,
              uint32_t* sums) {
    const uint32_t channels = target.channels;
    const size_t sum_count = size_t{source.area.width} * channels;
    // ystep * first fits in 32 bits: it is at most the source height << 15.
    int32_t y = ystep * static_cast<int32_t>(first);
    for (uint32_t r = first; r < end; ++r, y += ystep) {
        const uint32_t sy = static_cast<uint32_t>(y >> 15);
        const uint32_t rows = std::min(box_height, source.area.height - sy);
        std::fill_n(sums, sum_count, 0u);
        for (uint32_t k = 0; k < rows; ++k) {
            add_row(source, image_row(*source.image, source.area.top + sy + k), sums);
        }
        uint8_t* out =
            image_row(*target.image, target.area.top + r) + size_t{target.area.left} * channels;
        int32_t x = 0;
        for (uint32_t c = 0; c < target.area.width; ++c, x += xstep) {
            const uint32_t sx = static_cast<uint32_t>(x >> 15);
            const uint32_t columns = std::min(box_width, source.area.width - sx);
            const uint64_t pixels = uint64_t{columns} * rows;
            const uint32_t* column_sums = sums + size_t{sx} * channels;
            for (uint32_t ch = 0; ch < channels; ++ch) {
                uint64_t total = 0;
                for (uint32_t i = 0; i < columns; ++i) {
                    total += column_sums[size_t{i} * channels + ch];
                }
                out[size_t{c} * channels + ch] = static_cast<uint8_t>(total / pixels);
            }
        }
    }
}

// The work of a resample: the source pixels it reads.
uint64_t resample_pixels(const SampleSource& source) {
    return uint64_t{source.area.width} * source.area.height;
}

// Box averaging. For each destination row the box rows are first summed per
// source column and channel (a contiguous pass over the rows), then each
// destination pixel adds up the column sums of its box. Destination rows are
// independent: a big source's bands of them run on all cores, each with its
// own sums.
ImgStatus box_resample(const SampleSource& source, const SampleTarget& target, int32_t xstep,
                       int32_t ystep) {
    const uint32_t box_width = static_cast<uint32_t>(box_size(xstep));
    const uint32_t box_height = static_cast<uint32_t>(box_size(ystep));
    const size_t sum_count = size_t{source.area.width} * target.channels;
    const uint32_t parts = std::min(parallel_parts(resample_pixels(source)), target.area.height);
    // A column sum covers at most 32768 rows of 255: it fits in 32 bits.
    std::unique_ptr<uint32_t[]> sums(new (std::nothrow) uint32_t[sum_count * parts]);
    if (sums == nullptr) {
        return IMG_ERR_MEMORY;
    }
    const uint32_t band_count = target.area.height;
    run_parts(parts, [&](uint32_t k) {
        const auto first = static_cast<uint32_t>(uint64_t{band_count} * k / parts);
        const auto end = static_cast<uint32_t>(uint64_t{band_count} * (k + 1) / parts);
        box_rows(source, target, xstep, ystep, box_width, box_height, first, end,
                 sums.get() + sum_count * k);
    });
    return IMG_OK;
}
// Bilinear interpolation of destination rows [first, end). The four-pixel
// neighbourhood of the last fetch is kept for the band, so enlarging fetches
// each source position once per band; the cache only saves fetches, so bands
// give the pixels one pass would.
void bilinear_rows(const SampleSource& source, const SampleTarget& target, int32_t xstep,
                   int32_t ystep, uint32_t first, uint32_t end) {
    const uint32_t channels = target.channels;
    const uint32_t right = source.area.left + source.area.width - 1;
    const uint32_t bottom = source.area.top + source.area.height - 1;
    struct Neighbourhood {
        int64_t column = -1;  // of the last fetch; (-1, -1) before the first
        int64_t row = -1;
        uint8_t p00[3], p10[3], p01[3], p11[3];
    } cache;

    // ystep * first fits in 32 bits: it is at most the source height << 15.
    int32_t y = ystep * static_cast<int32_t>(first);
    for (uint32_t r = first; r < end; ++r, y += ystep) {
        const uint32_t sy = static_cast<uint32_t>(y >> 15) + source.area.top;
        const int32_t fy = y & 0x7FFF;
        uint8_t* out =
            image_row(*target.image, target.area.top + r) + size_t{target.area.left} * channels;
        int32_t x = 0;
        for (uint32_t c = 0; c < target.area.width; ++c, x += xstep) {
            const uint32_t sx = static_cast<uint32_t>(x >> 15) + source.area.left;
            const int32_t fx = x & 0x7FFF;
            if (sx != cache.column || sy != cache.row) {
                const uint8_t* row0 = image_row(*source.image, sy);
                fetch_pixel(source, row0, sx, cache.p00);
                if (sx < right) {
                    fetch_pixel(source, row0, sx + 1, cache.p10);
                } else {
                    std::memcpy(cache.p10, cache.p00, 3);
                }
                if (sy < bottom) {
                    const uint8_t* row1 = image_row(*source.image, sy + 1);
                    fetch_pixel(source, row1, sx, cache.p01);
                    if (sx < right) {
                        fetch_pixel(source, row1, sx + 1, cache.p11);
                    } else {
                        std::memcpy(cache.p11, cache.p01, 3);
                    }
                } else {
                    std::memcpy(cache.p01, cache.p00, 3);
                    std::memcpy(cache.p11, cache.p10, 3);
                }
                cache.column = sx;
                cache.row = sy;
            }
            for (uint32_t ch = 0; ch < channels; ++ch) {
                // At most 255 * 32767 + 255 * 32768 in magnitude: 32 bits suffice.
                const int32_t p00 = cache.p00[ch];
                const int32_t p01 = cache.p01[ch];
                const int32_t top = (cache.p10[ch] - p00) * fx + p00 * 32768;
                const int32_t lower = (cache.p11[ch] - p01) * fx + p01 * 32768;
                const int32_t d = (lower - top) / 32768;
                out[size_t{c} * channels + ch] = static_cast<uint8_t>((d * fy + top + 16384) >> 15);
            }
        }
    }
}

// Destination rows are independent: a big picture's bands of them run on
// all cores.
void bilinear_resample(const SampleSource& source, const SampleTarget& target, int32_t xstep,
                       int32_t ystep) {
    const uint64_t work =
        std::max(resample_pixels(source), uint64_t{target.area.width} * target.area.height);
    run_row_bands(target.area.height, parallel_parts(work),
                  [&](uint32_t first, uint32_t end, uint32_t) {
                      bilinear_rows(source, target, xstep, ystep, first, end);
                  });
}

ImgStatus filtered_resize(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    const Rect from = area_of(*source);  // each side 1..32768 once checked
    const Rect to = area_of(*destination);
    const int32_t bits = image_bits(*source);
    const bool colour_palette = bits == 8 && (source->type_flags & IMAGE_GRAY) == 0;

    SampleSource in{source, from, nullptr, bits == 24 ? 3u : 1u};
    SampleTarget out{destination, to, bits == 24 ? 3u : 1u};
    OwnedImage work;  // 24-bit result of a palette picture, or a temporary
    bool copy_back = false;
    if (colour_palette) {
        // Resampled in colour into a 24-bit work image, then mapped back.
        if (source->palette == nullptr) {
            return IMG_ERR_RANGE;
        }
        in.palette = source->palette;
        in.channels = 3;
        status = image_alloc(&work.image, static_cast<int32_t>(to.width),
                             static_cast<int32_t>(to.height), 24);
        if (status != IMG_OK) {
            return status;
        }
        out = SampleTarget{&work.image, Rect{0, 0, to.width, to.height}, 3};
    } else if (share_storage(*source, *destination)) {
        // Work through a temporary of the smaller of the two areas.
        const bool shrinking = uint64_t{from.width} * from.height > uint64_t{to.width} * to.height;
        const Rect size = shrinking ? to : from;
        status = image_alloc(&work.image, static_cast<int32_t>(size.width),
                             static_cast<int32_t>(size.height), bits);
        if (status != IMG_OK) {
            return status;
        }
        if (shrinking) {
            out.image = &work.image;
            out.area = Rect{0, 0, to.width, to.height};
            copy_back = true;
        } else {
            status = image_copy(source, &work.image);
            if (status != IMG_OK) {
                return status;
            }
            in.image = &work.image;
            in.area = Rect{0, 0, from.width, from.height};
        }
    }

    // Sides are at most 32768, so (side << 15) fits in 32 bits.
    const int32_t xstep = static_cast<int32_t>((from.width << 15) / to.width);
    const int32_t ystep = static_cast<int32_t>((from.height << 15) / to.height);
    if (xstep > 32768 && ystep > 32768) {
        status = box_resample(in, out, xstep, ystep);
    } else {
        bilinear_resample(in, out, xstep, ystep);
    }
    if (status == IMG_OK && copy_back) {
        status = image_copy(&work.image, destination);
    }
    if (status != IMG_OK) {
        return status;
    }
    palette_copy(source, destination);
    if (colour_palette) {
        status = map_to_palette(&work.image, destination, 3);
    }
    return status;
}

// ---------------------------------------------------------------------------
// Pattern resize.

struct StepPattern {
    std::unique_ptr<uint8_t[]> bits;  // position i: bit 0x80 >> (i % 8) of byte i / 8
    uint32_t length = 0;              // max(source, destination)
    bool enlarging = false;           // destination at least as large as source

    bool test(uint32_t i) const { return (bits[i >> 3] & (0x80u >> (i & 7))) != 0; }
};

// Spreads min(D, S) set bits over max(D, S) positions. The accumulator reaches
// n * m, beyond 32 bits for 1-bit rows of 65535 pixels, so it is kept in 64.
bool build_pattern(StepPattern& pattern, uint32_t destination_size, uint32_t source_size) {
    const uint32_t n = std::max(destination_size, source_size);
    const uint32_t m = std::min(destination_size, source_size);
    pattern.length = n;
    pattern.enlarging = destination_size >= source_size;
    pattern.bits.reset(new (std::nothrow) uint8_t[(size_t{n} + 7) / 8]());
    if (pattern.bits == nullptr) {
        return false;
    }
    pattern.bits[0] = 0x80;
    uint64_t acc = m;
    uint64_t limit = n;
    for (uint32_t i = 1; i < n; ++i) {
        acc += m;
        if (acc > limit) {
            pattern.bits[i >> 3] |= static_cast<uint8_t>(0x80u >> (i & 7));
            limit += n;
        }
    }
    return true;
}

inline bool get_bit(const uint8_t* row, uint32_t x) {
    return (row[x >> 3] & (0x80u >> (x & 7))) != 0;
}

inline void put_bit(uint8_t* row, uint32_t x, bool value) {
    const auto mask = static_cast<uint8_t>(0x80u >> (x & 7));
    row[x >> 3] = static_cast<uint8_t>(value ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
}

// Copies pixel `from` of one row to pixel `to` of another.
inline void copy_pixel(const uint8_t* in, uint32_t from, uint8_t* out, uint32_t to, int32_t bits) {
    if (bits == 1) {
        put_bit(out, to, get_bit(in, from));
    } else if (bits == 8) {
        out[to] = in[from];
    } else {
        std::memcpy(out + 3 * size_t{to}, in + 3 * size_t{from}, 3);
    }
}

// Produces one destination row from one source row along the column pattern.
void pattern_row(const uint8_t* in, uint32_t in_left, uint8_t* out, uint32_t out_left,
                 const StepPattern& columns, int32_t bits) {
    if (columns.enlarging) {
        uint32_t taken = 0;  // bit 0 is set: the first position takes pixel 0
        for (uint32_t i = 0; i < columns.length; ++i) {
            if (i != 0 && columns.test(i)) {
                ++taken;
            }
            copy_pixel(in, in_left + taken, out, out_left + i, bits);
        }
    } else {
        uint32_t written = 0;
        for (uint32_t i = 0; i < columns.length; ++i) {
            if (columns.test(i)) {
                copy_pixel(in, in_left + i, out, out_left + written, bits);
                ++written;
            }
        }
    }
}

// Repeats the area's part of row `from` in row `to` of the same image. 1-bit
// rows keep the bits outside the area in the bytes they share with it.
void repeat_row(ImageDesc& image, const Rect& area, uint32_t from, uint32_t to, int32_t bits) {
    const uint8_t* in = image_row(image, from);
    uint8_t* out = image_row(image, to);
    if (bits != 1) {
        const size_t bytes = bits / 8;
        std::memcpy(out + area.left * bytes, in + area.left * bytes, area.width * bytes);
        return;
    }
    const uint32_t last = area.left + area.width - 1;
    for (uint32_t b = area.left >> 3; b <= last >> 3; ++b) {
        const uint32_t lo = std::max(area.left, b * 8) - b * 8;
        const uint32_t hi = std::min(last, b * 8 + 7) - b * 8;
        const auto mask = static_cast<uint8_t>((0xFFu >> lo) & (0xFFu << (7 - hi)));
        out[b] = static_cast<uint8_t>((out[b] & ~mask) | (in[b] & mask));
    }
}

ImgStatus pattern_resize(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp1_8_24);
    if (status != IMG_OK) {
        return status;
    }
    const int32_t bits = image_bits(*source);
    if (bits != image_bits(*destination)) {
        return IMG_ERR_BPP;
    }
    const Rect from = area_of(*source);
    const Rect to = area_of(*destination);
    if (to.width == 0 || to.height == 0) {
        return IMG_ERR_RANGE;
    }
    StepPattern columns;
    StepPattern rows;
    if (!build_pattern(columns, to.width, from.width) ||
        !build_pattern(rows, to.height, from.height)) {
        return IMG_ERR_MEMORY;
    }

    // Overlapping areas of one storage: resize into a temporary. Writing into
    // the destination directly would read source rows already overwritten, so
    // without the temporary the resize fails instead.
    OwnedImage temporary;
    ImageDesc* target = destination;
    Rect target_area = to;
    if (share_storage(*source, *destination)) {
        if (image_alloc(&temporary.image, static_cast<int32_t>(to.width),
                        static_cast<int32_t>(to.height), bits) != IMG_OK) {
            return IMG_ERR_MEMORY;
        }
        target = &temporary.image;
        target_area = Rect{0, 0, to.width, to.height};
    }

    uint32_t source_y = from.top;
    uint32_t target_y = target_area.top;
    for (uint32_t i = 0; i < rows.length; ++i) {
        if (!rows.test(i)) {
            if (rows.enlarging) {
                repeat_row(*target, target_area, target_y - 1, target_y, bits);
                ++target_y;
            } else {
                ++source_y;
            }
            continue;
        }
        pattern_row(image_row(*source, source_y), from.left, image_row(*target, target_y),
                    target_area.left, columns, bits);
        ++source_y;
        ++target_y;
    }

    if (target != destination) {
        status = image_copy_pixels(target, destination);
    }
    palette_copy(source, destination);
    return status;
}

// Left-aligns `count` bits of a row starting at bit `left` into `out`, reading
// no byte beyond the one that holds the last of those bits.
void gather_bits(const uint8_t* row, uint32_t left, uint32_t count, uint8_t* out) {
    const uint8_t* in = row + (left >> 3);
    const uint32_t shift = left & 7;
    const uint32_t out_bytes = (count + 7) / 8;
    const uint32_t last_in = (shift + count - 1) / 8;
    for (uint32_t k = 0; k < out_bytes; ++k) {
        uint32_t v = static_cast<uint32_t>(in[k]) << shift;
        if (shift != 0 && k + 1 <= last_in) {
            v |= in[k + 1] >> (8 - shift);
        }
        out[k] = static_cast<uint8_t>(v);
    }
}

}  // namespace

ImgStatus image_resize(ImageDesc* source, ImageDesc* destination, int32_t method) {
    order_corners(source);
    order_corners(destination);
    if (image_bits(*source) != image_bits(*destination)) {
        return IMG_ERR_BPP;
    }
    const Rect from = area_of(*source);
    const Rect to = area_of(*destination);
    if (from.width == 0 || from.height == 0 || to.width == 0 || to.height == 0) {
        return IMG_ERR_RANGE;
    }
    if (from.width == to.width && from.height == to.height) {
        return image_copy(source, destination);
    }
    if (method == 0 || image_bits(*source) == 1) {
        return pattern_resize(source, destination);
    }
    return filtered_resize(source, destination);
}

ImgStatus image_copy(ImageDesc* source, ImageDesc* destination) {
    const ImgStatus status = image_copy_pixels(source, destination);
    if (status == IMG_OK) {
        palette_copy(source, destination);
    }
    return status;
}

ImgStatus image_copy_pixels(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp1_8_24);
    if (status != IMG_OK) {
        return status;
    }
    const int32_t bits = image_bits(*source);
    if (bits != image_bits(*destination)) {
        return IMG_ERR_BPP;
    }
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(source, destination, &rows, &columns);

    // Within one storage, copy so that no row is overwritten before it is read:
    // from the top rows down when the destination lies at the same or a higher
    // address (top rows are stored last), else from the bottom rows up.
    const bool top_down =
        reinterpret_cast<uintptr_t>(image_row(*source, source->area_top)) <=
        reinterpret_cast<uintptr_t>(image_row(*destination, destination->area_top));
    auto row_at = [&](uint32_t k) { return top_down ? k : rows - 1 - k; };

    if (bits != 1) {
        const size_t bytes = bits / 8;
        for (uint32_t k = 0; k < rows; ++k) {
            const uint32_t r = row_at(k);
            std::memmove(
                image_row(*destination, destination->area_top + r) + bytes * destination->area_left,
                image_row(*source, source->area_top + r) + bytes * source->area_left,
                bytes * columns);
        }
        return IMG_OK;
    }

    std::unique_ptr<uint8_t[]> run(new (std::nothrow) uint8_t[columns / 8 + 4]());
    if (run == nullptr) {
        return IMG_ERR_MEMORY;
    }
    for (uint32_t k = 0; k < rows; ++k) {
        const uint32_t r = row_at(k);
        gather_bits(image_row(*source, source->area_top + r), source->area_left, columns,
                    run.get());
        bits_copy(
            image_row(*destination, destination->area_top + r) + (destination->area_left >> 3),
            run.get(), destination->area_left, columns);
    }
    return IMG_OK;
}

void palette_copy(const ImageDesc* source, ImageDesc* destination) {
    if (source->palette == nullptr || destination->palette == nullptr ||
        source->header == nullptr || destination->header == nullptr) {
        return;
    }
    const int32_t source_bits = image_bits(*source);
    const int32_t destination_bits = image_bits(*destination);
    if (source_bits > 8 || destination_bits > 8) {
        return;
    }
    // Never more entries than either colour table holds.
    int32_t n = std::min(source->color_count, header_color_count(destination->header));
    n = std::min({n, palette_capacity(source_bits), palette_capacity(destination_bits)});
    n = std::max(n, 0);
    std::memmove(destination->palette, source->palette, sizeof(PaletteEntry) * size_t(n));
    destination->color_count = n;
    destination->type_flags =
        (destination->type_flags & ~IMAGE_GRAY) | (source->type_flags & IMAGE_GRAY);
    image_sync_palette(destination);
}

ImgStatus image_expand_to_rgb(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (image_bits(*source) != 8 || image_bits(*destination) != 24) {
        return IMG_ERR_BPP;
    }
    if (source->palette == nullptr) {
        return IMG_ERR_RANGE;
    }
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(source, destination, &rows, &columns);
    for (uint32_t r = 0; r < rows; ++r) {
        // An 8-bit colour table has 256 entries: every index can be looked up.
        const uint8_t* in = image_row(*source, source->area_top + r) + source->area_left;
        uint8_t* out =
            image_row(*destination, destination->area_top + r) + 3 * size_t{destination->area_left};
        for (uint32_t x = 0; x < columns; ++x) {
            const PaletteEntry& colour = source->palette[in[x]];
            out[3 * x] = colour.blue;
            out[3 * x + 1] = colour.green;
            out[3 * x + 2] = colour.red;
        }
    }
    return IMG_OK;
}

}  // namespace imaging
