// Median-cut reduction of a 24-bit picture to a palette.
//
// The picture is first counted into a histogram of 15-bit colour cells (five
// bits per channel, 32768 counters of 16 bits that stop at 65534), so the work
// after that depends on the number of distinct cells, not on the picture size.
// The non-empty cells, in ascending cell order, form one list; each box of the
// cut owns a contiguous stretch of it.
//
// Starting from one box holding every cell, the box with the most pixels (of
// those with more than one cell; ties to the lowest box number) is split until
// there are as many boxes as colours wanted or no box can be split: its stretch
// is sorted along its widest channel, largest value first, and cut where the
// running pixel count reaches half the box's count. The Shell sort's gaps and
// its strict comparison fix the order of equal values, and with it which cells
// land in which box and the order of the palette, so they are part of the
// result. Each box then yields one palette entry, the count-weighted mean of its
// cells, expanded from 5 to 8 bits by repeating the top bits.
//
// The pixels are finally mapped onto the palette with map_to_palette, which
// searches at most once per cell.

#include "imaging/convert/rgb_to_palette.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

#include "imaging/convert/palette_map.h"
#include "imaging/convert/palette_search.h"
#include "imaging/parallel.h"

namespace imaging {

using palette_search::Channel;
using palette_search::shell_sort_descending;
using palette_search::widest_channel;

namespace {

constexpr uint32_t kCells = 32768;
constexpr uint16_t kCountLimit = 65534;

struct Box {
    uint32_t count;  // sum of the counters of its cells
    uint32_t first;  // positions in the cell list, inclusive
    uint32_t last;
};

constexpr uint32_t cell_value(uint16_t cell, Channel channel) {
    switch (channel) {
        case palette_search::kRed:
            return cell >> 10;
        case palette_search::kGreen:
            return (cell >> 5) & 31;
        case palette_search::kBlue:
            break;
    }
    return cell & 31;
}

// Counts rows [first, end) of the common area into 32-bit counters.
void count_band(const ImageDesc& source, uint32_t first, uint32_t end, uint32_t columns,
                uint32_t* counts) {
    for (uint32_t r = first; r < end; ++r) {
        const uint8_t* in = image_row(source, source.area_top + r) + 3 * size_t{source.area_left};
        for (uint32_t x = 0; x < columns; ++x, in += 3) {
            ++counts[palette_search::color_cell(in[2], in[1], in[0])];
        }
    }
}

// Counts the common area of the source into the histogram. Bands of a big
// picture are counted on all cores into counters of their own and added up;
// a counter that stops at the limit holds min(count, limit) whichever order
// the pixels came in, so the sum cut to the limit is the same histogram.
ImgStatus count_cells(const ImageDesc& source, uint32_t rows, uint32_t columns,
                      uint16_t* histogram) {
    const uint32_t parts = std::min(parallel_parts(uint64_t{rows} * columns), std::max(rows, 1u));
    if (parts == 1) {
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t* in =
                image_row(source, source.area_top + r) + 3 * size_t{source.area_left};
            for (uint32_t x = 0; x < columns; ++x, in += 3) {
                const uint32_t cell = palette_search::color_cell(in[2], in[1], in[0]);
                if (histogram[cell] != kCountLimit) {
                    ++histogram[cell];
                }
            }
        }
        return IMG_OK;
    }
    // At most 32768 rows of 32768 pixels: a band's counter fits in 32 bits.
    std::unique_ptr<uint32_t[]> counts(new (std::nothrow) uint32_t[size_t{kCells} * parts]());
    if (counts == nullptr) {
        return IMG_ERR_MEMORY;
    }
    run_row_bands(rows, parts, [&](uint32_t first, uint32_t end, uint32_t k) {
        count_band(source, first, end, columns, counts.get() + size_t{kCells} * k);
    });
    for (uint32_t c = 0; c < kCells; ++c) {
        uint64_t total = 0;
        for (uint32_t k = 0; k < parts; ++k) {
            total += counts[size_t{kCells} * k + c];
        }
        histogram[c] = static_cast<uint16_t>(std::min<uint64_t>(total, kCountLimit));
    }
    return IMG_OK;
}

// The box to split next: the largest count among boxes of more than one cell,
// ties to the lowest number; -1 when no box can be split.
int32_t box_to_split(const Box* boxes, int32_t box_count) {
    int32_t choice = -1;
    uint32_t largest = 0;
    for (int32_t i = 0; i < box_count; ++i) {
        if (boxes[i].first != boxes[i].last && (choice < 0 || boxes[i].count > largest)) {
            choice = i;
            largest = boxes[i].count;
        }
    }
    return choice;
}

// Splits box `chosen` in two; the second half becomes box `box_count`.
void split_box(Box* boxes, int32_t chosen, int32_t box_count, uint16_t* cells,
               const uint16_t* histogram) {
    Box& box = boxes[chosen];
    uint16_t* stretch = cells + box.first;
    const int32_t n = static_cast<int32_t>(box.last - box.first + 1);

    uint32_t low[3] = {31, 31, 31};
    uint32_t high[3] = {0, 0, 0};
    for (int32_t i = 0; i < n; ++i) {
        for (Channel ch : {palette_search::kBlue, palette_search::kGreen, palette_search::kRed}) {
            const uint32_t v = cell_value(stretch[i], ch);
            low[ch] = v < low[ch] ? v : low[ch];
            high[ch] = v > high[ch] ? v : high[ch];
        }
    }
    const Channel axis =
        widest_channel(static_cast<int>(high[2] - low[2]), static_cast<int>(high[1] - low[1]),
                       static_cast<int>(high[0] - low[0]));
    shell_sort_descending(stretch, n, [axis](uint16_t cell) { return cell_value(cell, axis); });

    // Take cells while the pixels taken so far are fewer than half the box,
    // leaving at least one cell for the new box.
    const uint32_t half = box.count >> 1;
    uint32_t sum = 0;
    int32_t taken = 0;
    while (taken < n - 1 && sum < half) {
        sum += histogram[stretch[taken]];
        ++taken;
    }
    boxes[box_count] = Box{box.count - sum, box.first + static_cast<uint32_t>(taken), box.last};
    box.count = sum;
    box.last = box.first + static_cast<uint32_t>(taken) - 1;
}

// The box's count-weighted mean colour, expanded from 5 to 8 bits. Sums are
// taken in 64 bits: a box may hold more than 2^32 / 31 pixels.
void box_colour(const Box& box, const uint16_t* cells, const uint16_t* histogram,
                PaletteEntry* entry) {
    uint64_t sums[3] = {0, 0, 0};
    for (uint32_t p = box.first; p <= box.last; ++p) {
        const uint16_t cell = cells[p];
        const uint64_t weight = histogram[cell];
        sums[palette_search::kBlue] += weight * cell_value(cell, palette_search::kBlue);
        sums[palette_search::kGreen] += weight * cell_value(cell, palette_search::kGreen);
        sums[palette_search::kRed] += weight * cell_value(cell, palette_search::kRed);
    }
    auto expand = [&box](uint64_t sum) {
        const auto c = static_cast<uint32_t>(sum / box.count);
        return static_cast<uint8_t>((c << 3) | (c >> 2));
    };
    entry->blue = expand(sums[palette_search::kBlue]);
    entry->green = expand(sums[palette_search::kGreen]);
    entry->red = expand(sums[palette_search::kRed]);
}

ImgStatus median_cut(const ImageDesc& source, ImageDesc& destination, int32_t colours) {
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(&source, &destination, &rows, &columns);

    std::unique_ptr<uint16_t[]> histogram(new (std::nothrow) uint16_t[kCells]());
    if (histogram == nullptr) {
        return IMG_ERR_MEMORY;
    }
    const ImgStatus counted = count_cells(source, rows, columns, histogram.get());
    if (counted != IMG_OK) {
        return counted;
    }

    uint32_t cell_count = 0;
    uint64_t total = 0;
    for (uint32_t c = 0; c < kCells; ++c) {
        cell_count += histogram[c] != 0;
        total += histogram[c];
    }
    std::unique_ptr<Box[]> boxes(new (std::nothrow) Box[static_cast<size_t>(colours) + 2]);
    std::unique_ptr<uint16_t[]> cells(new (std::nothrow) uint16_t[cell_count]);
    if (boxes == nullptr || cells == nullptr) {
        return IMG_ERR_MEMORY;
    }
    for (uint32_t c = 0, p = 0; c < kCells; ++c) {
        if (histogram[c] != 0) {
            cells[p++] = static_cast<uint16_t>(c);
        }
    }

    // At most 32768 counters of 65534: the total fits in 32 bits.
    boxes[0] = Box{static_cast<uint32_t>(total), 0, cell_count - 1};
    int32_t box_count = 1;
    while (box_count < colours) {
        const int32_t chosen = box_to_split(boxes.get(), box_count);
        if (chosen < 0) {
            break;
        }
        split_box(boxes.get(), chosen, box_count, cells.get(), histogram.get());
        ++box_count;
    }

    PaletteEntry* palette = destination.palette;
    for (int32_t i = 0; i < box_count; ++i) {
        box_colour(boxes[i], cells.get(), histogram.get(), &palette[i]);
    }
    for (int32_t i = box_count; i < colours; ++i) {
        palette[i] = palette[0];
    }
    destination.color_count = colours;
    return IMG_OK;
}

}  // namespace

ImgStatus rgb_to_palette(int32_t colours, ImageDesc* source, ImageDesc* destination, int32_t mode) {
    ImgStatus status = image_check_pair(source, destination, kAcceptBpp8_24);
    if (status != IMG_OK) {
        return status;
    }
    if (image_bits(*source) != 24 || image_bits(*destination) != 8) {
        return IMG_ERR_BPP;
    }
    if (destination->palette == nullptr) {
        return IMG_ERR_RANGE;
    }
    if (colours < 2 || colours > 256 || mode < 0 || mode > 3) {
        return IMG_ERR_PARAM;
    }

    status = median_cut(*source, *destination, colours);
    if (status == IMG_OK) {
        status = map_to_palette(source, destination, mode);
    }
    destination->type_flags &= ~IMAGE_GRAY;
    image_sync_palette(destination);
    return status;
}

}  // namespace imaging
