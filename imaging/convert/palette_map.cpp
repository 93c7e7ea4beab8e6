// Mapping pictures onto a given palette, and popularity reduction of palettes.
//
// map_to_palette replaces every pixel by the index of a palette entry near its
// colour. Searches are costly next to the per-pixel work, so each call keeps a
// cache by 15-bit colour cell (five bits per channel): the first pixel of a cell
// decides the index for every later pixel of that cell in the same call, whatever
// its exact colour. With error diffusion (modes 1 and 3) the difference between
// a pixel's colour and its chosen entry is spread over the neighbours not yet
// mapped, Floyd-Steinberg style, in sixteenths:
//
//              .  X  7
//           3  5  1
//
// Each share is (error * weight) >> 4, an arithmetic shift, so shares round
// toward minus infinity and the result is reproducible bit for bit; the sum is
// clamped to 0..255 through a table. Rows always run left to right. Two line
// buffers of width + 2 pixels hold the row being mapped (line B) and the row
// below it (line A); the extra pixel at each end of a line catches the shares
// that fall off the row and is never mapped.
//
// palette_reduce picks the new colours from the source palette by popularity:
// the most used entry first, then each next entry in order of use when its
// |dR| + |dG| + |dB| distance to every colour already picked exceeds a
// threshold. The threshold starts at 200 and is lowered pass by pass until
// enough colours are found; the pixels are then mapped with mode 1.
//
// The mapping state lives in one context per call; the mapping lock still
// serialises all mapping calls of the process.

#include "imaging/convert/palette_map.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/convert/palette_search.h"
#include "imaging/module_lock.h"
#include "imaging/parallel.h"

namespace imaging {

using palette_search::color_cell;
using palette_search::ColorTree;
using palette_search::SortedPalette;

namespace {

ModuleLock g_mapping_lock;

// The working tables of one mapping call, zeroed when it begins.
struct MappingContext {
    uint8_t cache[32768];  // palette index by colour cell
    uint8_t valid[4096];   // one bit per cell: cell c is bit 0x80 >> (c & 7) of byte c >> 3
    uint8_t clamp[768];    // clamp[v + 256] = v limited to 0..255, for v in -256..511
    ColorTree tree;        // modes 0 and 1
    SortedPalette sorted;  // modes 2 and 3
};

// Looks a colour up in the cell cache, searching on a miss.
template <typename Search>
class CachedSearch {
  public:
    CachedSearch(MappingContext& context, const Search& search)
        : cache_(context.cache), valid_(context.valid), search_(search) {}

    uint8_t find(uint8_t red, uint8_t green, uint8_t blue) {
        const uint32_t cell = color_cell(red, green, blue);
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (cell & 7));
        if ((valid_[cell >> 3] & bit) == 0) {
            cache_[cell] = search_.find(red, green, blue);
            valid_[cell >> 3] |= bit;
        }
        return cache_[cell];
    }

  private:
    uint8_t* cache_;
    uint8_t* valid_;
    const Search& search_;
};

struct MapArea {
    uint32_t rows;
    uint32_t columns;
};

// Modes 0 and 2: each pixel's index depends only on its own colour (and the
// cache), so rows are mapped straight from the source.
template <typename Search>
void map_plain(const ImageDesc& source, ImageDesc& destination, MapArea area,
               CachedSearch<Search>& search) {
    const bool indexed = image_bits(source) == 8;
    const PaletteEntry* source_palette = source.palette;
    for (uint32_t r = 0; r < area.rows; ++r) {
        const uint8_t* in = image_row(source, source.area_top + r);
        uint8_t* out = image_row(destination, destination.area_top + r) + destination.area_left;
        if (indexed) {
            in += source.area_left;
            for (uint32_t x = 0; x < area.columns; ++x) {
                const PaletteEntry& colour = source_palette[in[x]];
                out[x] = search.find(colour.red, colour.green, colour.blue);
            }
        } else {
            in += 3 * static_cast<size_t>(source.area_left);
            for (uint32_t x = 0; x < area.columns; ++x) {
                out[x] = search.find(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
            }
        }
    }
}

// Copies source row y of the area into a line at pixel 1, as blue, green, red.
void read_line(const ImageDesc& source, uint32_t y, uint32_t columns, uint8_t* line) {
    const uint8_t* in = image_row(source, y);
    uint8_t* out = line + 3;
    if (image_bits(source) == 8) {
        // Every index is looked up: an 8-bit colour table has 256 entries.
        in += source.area_left;
        for (uint32_t x = 0; x < columns; ++x) {
            const PaletteEntry& colour = source.palette[in[x]];
            out[3 * x] = colour.blue;
            out[3 * x + 1] = colour.green;
            out[3 * x + 2] = colour.red;
        }
    } else {
        std::memcpy(out, in + 3 * static_cast<size_t>(source.area_left), 3 * size_t{columns});
    }
}

// Modes 1 and 3: rows + 1 passes over two lines. Pass r reads source row r of
// the area into line A; from pass 1 on, line B (row r - 1 with the shares it
// received) is mapped into the destination, spreading its error over its own
// next pixel and line A, and line A then becomes line B. The last pass reads
// one row past the area (the bottom row again when the area ends at the bottom
// of the picture) only to receive the shares of the last row, which are lost.
template <typename Search>
void map_diffused(const ImageDesc& source, ImageDesc& destination, MapArea area,
                  CachedSearch<Search>& search, const uint8_t* clamp_table, uint8_t* line_a,
                  uint8_t* line_b) {
    const size_t line_bytes = 3 * (size_t{area.columns} + 2);
    const uint8_t* clamp = clamp_table + 256;  // addressed by -256..511
    const PaletteEntry* palette = destination.palette;
    const uint32_t bottom_row = static_cast<uint32_t>(image_height(source)) - 1;
    uint32_t source_y = source.area_top;

    for (uint32_t pass = 0; pass <= area.rows; ++pass) {
        read_line(source, source_y, area.columns, line_a);
        if (source_y < bottom_row) {
            ++source_y;
        }
        if (pass == 0) {
            std::memcpy(line_b, line_a, line_bytes);
            continue;
        }
        uint8_t* out =
            image_row(destination, destination.area_top + pass - 1) + destination.area_left;
        for (uint32_t x = 1; x <= area.columns; ++x) {
            uint8_t* pixel = line_b + 3 * size_t{x};
            const uint8_t index = search.find(pixel[2], pixel[1], pixel[0]);
            out[x - 1] = index;
            const uint8_t* chosen = reinterpret_cast<const uint8_t*>(&palette[index]);
            uint8_t* below = line_a + 3 * size_t{x};
            for (int ch = 0; ch < 3; ++ch) {
                const int32_t error = int32_t{pixel[ch]} - chosen[ch];
                pixel[3 + ch] = clamp[pixel[3 + ch] + ((error * 7) >> 4)];
                below[ch - 3] = clamp[below[ch - 3] + ((error * 3) >> 4)];
                below[ch] = clamp[below[ch] + ((error * 5) >> 4)];
                below[ch + 3] = clamp[below[ch + 3] + (error >> 4)];
            }
        }
        std::memcpy(line_b, line_a, line_bytes);
    }
}

template <typename Search>
void run_mapping(const ImageDesc& source, ImageDesc& destination, MapArea area, bool diffuse,
                 MappingContext& context, const Search& search, uint8_t* line_a, uint8_t* line_b) {
    CachedSearch<Search> cached(context, search);
    if (diffuse) {
        map_diffused(source, destination, area, cached, context.clamp, line_a, line_b);
    } else {
        map_plain(source, destination, area, cached);
    }
}

int32_t l1_distance(const PaletteEntry& a, const PaletteEntry& b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

}  // namespace

ImgStatus map_to_palette(ImageDesc* source, ImageDesc* destination, int32_t mode) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (image_bits(*destination) != 8) {
        return IMG_ERR_BPP;
    }
    if (image_bits(*source) == 8 && palette_entries(*source) == 0) {
        return IMG_ERR_RANGE;
    }
    const int32_t entries = palette_entries(*destination);
    if (entries == 0) {
        return IMG_ERR_RANGE;
    }
    if (mode < 0 || mode > 3) {
        return IMG_ERR_PARAM;
    }
    const bool diffuse = mode == 1 || mode == 3;

    MapArea area{};
    image_common_area(source, destination, &area.rows, &area.columns);

    // Two lines of columns + 2 pixels, for error diffusion only.
    std::unique_ptr<uint8_t[]> lines;
    const size_t line_bytes = 3 * (size_t{area.columns} + 2);
    if (diffuse) {
        lines.reset(new (std::nothrow) uint8_t[2 * line_bytes]());
    }

    {
        auto lock = g_mapping_lock.acquire();
        std::unique_ptr<MappingContext> context(new (std::nothrow) MappingContext());
        if (context == nullptr || (diffuse && lines == nullptr)) {
            status = IMG_ERR_MEMORY;
        } else {
            for (int32_t v = -256; v < 512; ++v) {
                context->clamp[v + 256] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
            uint8_t* line_a = lines.get();
            uint8_t* line_b = diffuse ? line_a + line_bytes : nullptr;
            if (mode <= 1) {
                context->tree.build(destination->palette, entries);
                run_mapping(*source, *destination, area, diffuse, *context, context->tree, line_a,
                            line_b);
            } else {
                context->sorted.build(destination->palette, entries);
                run_mapping(*source, *destination, area, diffuse, *context, context->sorted, line_a,
                            line_b);
            }
        }
    }

    image_sync_palette(destination);
    return status;
}

ImgStatus palette_reduce(ImageDesc* source, ImageDesc* destination) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (image_bits(*source) != 8 || image_bits(*destination) != 8) {
        return IMG_ERR_BPP;
    }
    if (source->palette == nullptr) {
        return IMG_ERR_RANGE;
    }
    const int32_t wanted = destination->color_count;
    if (destination->palette == nullptr || source->color_count < wanted || wanted < 2 ||
        wanted > 255) {
        return IMG_ERR_RANGE;
    }
    const int32_t source_entries = palette_entries(*source);

    // Popularity order: the indices by pixel count, most used first (ties to the
    // lower index). Once every count is spent the last pick repeats.
    // Bands of a big picture are counted on all cores and added up.
    const uint32_t rows = source->area_bottom - source->area_top + 1;
    const uint32_t columns = source->area_right - source->area_left + 1;
    uint32_t band_counts[kMaxParts][256] = {};
    run_row_bands(rows, parallel_parts(uint64_t{rows} * columns),
                  [&](uint32_t first, uint32_t end, uint32_t k) {
                      for (uint32_t r = first; r < end; ++r) {
                          const uint8_t* row = image_row(*source, source->area_top + r);
                          for (uint32_t x = source->area_left; x <= source->area_right; ++x) {
                              ++band_counts[k][row[x]];
                          }
                      }
                  });
    uint32_t counts[256] = {};
    for (const auto& band : band_counts) {
        for (uint32_t i = 0; i < 256; ++i) {
            counts[i] += band[i];
        }
    }
    uint8_t order[256];
    uint32_t pick = 0;
    for (uint8_t& slot : order) {
        uint32_t largest = 0;
        for (uint32_t i = 0; i < 256; ++i) {
            if (counts[i] > largest) {
                largest = counts[i];
                pick = i;
            }
        }
        slot = static_cast<uint8_t>(pick);
        counts[pick] = 0;
    }

    // Choose the colours, lowering the threshold until enough are far enough
    // apart: 200, 190, ..., 110, 100, 95, ..., 5, 0.
    PaletteEntry* chosen_entries = destination->palette;
    const PaletteEntry* source_palette = source->palette;
    chosen_entries[0] = source_palette[order[0]];
    int32_t chosen = 1;
    for (int32_t threshold = 200; threshold >= 0; threshold -= threshold > 100 ? 10 : 5) {
        chosen = 1;
        for (int32_t j = 1; j < source_entries && chosen < wanted; ++j) {
            const PaletteEntry& candidate = source_palette[order[j]];
            bool far_enough = true;
            for (int32_t k = 0; k < chosen && far_enough; ++k) {
                far_enough = l1_distance(candidate, chosen_entries[k]) > threshold;
            }
            if (far_enough) {
                chosen_entries[chosen++] = candidate;
            }
        }
        if (chosen == wanted) {
            break;
        }
    }
    for (int32_t i = chosen; i < wanted; ++i) {
        chosen_entries[i] = chosen_entries[0];
    }

    destination->type_flags &= ~IMAGE_GRAY;
    return map_to_palette(source, destination, 1);
}

void mapping_cleanup() {
    g_mapping_lock.destroy();
}

}  // namespace imaging
