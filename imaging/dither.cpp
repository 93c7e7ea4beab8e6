// Ordered dithering to the fixed 16- and 256-colour display palettes.
//
// The method. Each pixel is compared against one threshold taken from an 8 x 8
// tile (DITHER_MATRIX) laid over the picture; the tile spreads the thresholds
// evenly over every small neighbourhood, so a flat colour between two palette
// levels comes out as a fine, regular mix of both in the right proportion.
//
// 256 colours: every channel value v (0..255) lies between the cube levels
// v / 51 and v / 51 + 1 (level k is the value 51 k). The channel takes the upper
// level when the threshold (0..50) is smaller than v mod 51, which happens for a
// share (v mod 51) / 51 of the tile's positions; values that are multiples of 51
// (0 and 255 included) are exact and never rounded up. Both the quotient and
// the remainder come from 256-entry tables, so the inner loop has no division.
// The cube index of levels (r, g, b) is 225 - (b + 6 g + 36 r).
//
// 16 colours: each channel is simply on or off, on when it exceeds the
// threshold scaled by 5 (0..250): a channel of 251 or more is always on and 0
// always off. The three bits (blue 1, green 2, red 4) pick one of the eight
// full-intensity corners of the 16-colour palette.
//
// The tile's row is the row counted from the top of the dithered area, its
// column is counted from the right end of the row.

#include "imaging/dither.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace imaging {

namespace {

constexpr int kCubeLevels = 6;
constexpr int kLevelStep = 51;

// v / 51 and v % 51 for every channel value.
struct LevelTables {
    std::array<uint8_t, 256> level{};
    std::array<uint8_t, 256> remainder{};
};

constexpr LevelTables make_level_tables() {
    LevelTables t;
    for (int v = 0; v < 256; ++v) {
        t.level[v] = static_cast<uint8_t>(v / kLevelStep);
        t.remainder[v] = static_cast<uint8_t>(v % kLevelStep);
    }
    return t;
}
constexpr LevelTables kLevels = make_level_tables();

// The thresholds of the 16-colour dither: DITHER_MATRIX times 5 (0..250).
using ThresholdTable = std::array<std::array<uint8_t, 8>, 8>;

constexpr ThresholdTable make_thresholds(int scale) {
    ThresholdTable t{};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            t[y][x] = static_cast<uint8_t>(DITHER_MATRIX[y][x] * scale);
        }
    }
    return t;
}
constexpr ThresholdTable kThresholds256 = make_thresholds(1);
constexpr ThresholdTable kThresholds16 = make_thresholds(5);

// Index into the 16-colour palette of each on/off code (bit 0 blue, bit 1
// green, bit 2 red).
constexpr uint8_t kCodeToIndex16[8] = {0, 12, 10, 14, 9, 13, 11, 15};

// First cube entry (white) and last (black) of the 256-colour palette.
constexpr int kCubeFirst = 10;
constexpr int kCubeLast = 225;

PaletteEntry to_entry(const PaletteColor& c, uint8_t reserved) {
    return PaletteEntry{c.blue, c.green, c.red, reserved};
}

bool has_8bit_palette(const ImageDesc* image) {
    return image->header != nullptr && image->header->biBitCount == 8 && image->palette != nullptr;
}

// Dithers one row of blue, green, red triplets into 256-colour indices.
// `row` holds the eight thresholds of the row's tile line; pixel x uses
// row[(columns - 1 - x) mod 8].
void dither_row_256(const uint8_t* bgr, uint8_t* out, uint32_t columns,
                    const std::array<uint8_t, 8>& row) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint8_t t = row[(columns - 1 - x) & 7];
        const uint8_t* p = bgr + 3 * x;
        const int b = kLevels.level[p[0]] + (t < kLevels.remainder[p[0]] ? 1 : 0);
        const int g = kLevels.level[p[1]] + (t < kLevels.remainder[p[1]] ? 1 : 0);
        const int r = kLevels.level[p[2]] + (t < kLevels.remainder[p[2]] ? 1 : 0);
        out[x] =
            static_cast<uint8_t>(kCubeLast - (b + kCubeLevels * g + kCubeLevels * kCubeLevels * r));
    }
}

// Dithers one row of blue, green, red triplets into 16-colour indices.
void dither_row_16(const uint8_t* bgr, uint8_t* out, uint32_t columns,
                   const std::array<uint8_t, 8>& row) {
    for (uint32_t x = 0; x < columns; ++x) {
        const uint8_t t = row[(columns - 1 - x) & 7];
        const uint8_t* p = bgr + 3 * x;
        const int code = (p[0] > t ? 1 : 0) | (p[1] > t ? 2 : 0) | (p[2] > t ? 4 : 0);
        out[x] = kCodeToIndex16[code];
    }
}

}  // namespace

int32_t palette_set_system16(ImageDesc* image) {
    if (!has_8bit_palette(image)) {
        return 0;
    }
    int32_t n = 0;
    for (int i = 0; i < 20; ++i) {
        if (i >= 8 && i < 12) {
            continue;  // money green, sky blue, cream and medium gray are left out
        }
        image->palette[n++] = to_entry(kSystemPalette[i], 0);
    }
    image->color_count = n;
    return n;
}

int32_t palette_set_cube(ImageDesc* image) {
    if (!has_8bit_palette(image)) {
        return 0;
    }
    PaletteEntry* p = image->palette;
    for (int i = 0; i < 10; ++i) {
        p[i] = to_entry(kSystemPalette[i], p[i].reserved);
    }
    int i = kCubeFirst;
    for (int r = kCubeLevels - 1; r >= 0; --r) {
        for (int g = kCubeLevels - 1; g >= 0; --g) {
            for (int b = kCubeLevels - 1; b >= 0; --b, ++i) {
                p[i].blue = static_cast<uint8_t>(b * kLevelStep);
                p[i].green = static_cast<uint8_t>(g * kLevelStep);
                p[i].red = static_cast<uint8_t>(r * kLevelStep);
            }
        }
    }
    for (int k = 0; k < 20; ++k, ++i) {
        const auto gray = static_cast<uint8_t>(16 + 12 * k);
        p[i].blue = gray;
        p[i].green = gray;
        p[i].red = gray;
    }
    for (int k = 10; k < 20; ++k, ++i) {
        p[i] = to_entry(kSystemPalette[k], p[i].reserved);
    }
    image->color_count = 256;
    return 256;
}

ImgStatus dither_ordered(ImageDesc* source, ImageDesc* destination, int32_t kind) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (destination->header->biBitCount != 8) {
        return IMG_ERR_BPP;
    }
    const bool source_8bit = source->header->biBitCount == 8;
    if (destination->palette == nullptr || (source_8bit && source->palette == nullptr)) {
        return IMG_ERR_RANGE;
    }
    if (kind != kDitherPalette16 && kind != kDitherPalette256) {
        return IMG_ERR_PARAM;
    }
    const ThresholdTable& thresholds = kind == kDitherPalette256 ? kThresholds256 : kThresholds16;

    // Both areas passed image_check, so rows and columns are at most 32768.
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(source, destination, &rows, &columns);

    // A 24-bit row already is the blue, green, red triplets the dither reads;
    // an 8-bit row is expanded into the row buffer through its colour table
    // (the storage of an 8-bit image always holds 256 entries).
    std::unique_ptr<uint8_t[]> buffer;
    if (source_8bit) {
        buffer.reset(new (std::nothrow) uint8_t[4 * size_t{columns} + 4]);
        if (!buffer) {
            return IMG_ERR_MEMORY;
        }
    }
    const size_t source_offset = source_8bit ? source->area_left : 3 * size_t{source->area_left};

    for (uint32_t n = 0; n < rows; ++n) {
        const uint8_t* in = image_row(*source, source->area_top + n) + source_offset;
        const uint8_t* bgr = in;
        if (source_8bit) {
            uint8_t* b = buffer.get();
            for (uint32_t x = 0; x < columns; ++x) {
                const PaletteEntry& e = source->palette[in[x]];
                b[3 * x] = e.blue;
                b[3 * x + 1] = e.green;
                b[3 * x + 2] = e.red;
            }
            bgr = b;
        }
        uint8_t* out = image_row(*destination, destination->area_top + n) + destination->area_left;
        if (kind == kDitherPalette256) {
            dither_row_256(bgr, out, columns, thresholds[n & 7]);
        } else {
            dither_row_16(bgr, out, columns, thresholds[n & 7]);
        }
    }
    buffer.reset();

    if (kind == kDitherPalette256) {
        palette_set_cube(destination);
    } else {
        palette_set_system16(destination);
    }
    destination->type_flags &= ~IMAGE_GRAY;
    if (destination->section_bitmap != nullptr) {
        image_sync_palette(destination);
    }
    return IMG_OK;
}

}  // namespace imaging
