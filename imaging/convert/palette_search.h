// Nearest-colour searches over a destination palette, and the small helpers the
// palette mapping shares with the median-cut reduction.
//
// Two searches serve the palette mapping:
//
// ColorTree is an octree of fixed depth over the top four bits of each channel.
// Every palette entry walks down from the root, one level per bit (0x80, 0x40,
// 0x20, 0x10), to a leaf that stands for a 16 x 16 x 16 cell of colours. A search
// descends along the colour's own path as far as the tree goes and compares the
// colour with every leaf below the deepest node it reached (the parent, when it
// reached a leaf). That is fast and approximate: a nearer entry in a
// neighbouring branch is never seen.
//
// SortedPalette sorts the palette by its widest channel (the key) and, for each
// possible key value, records where in that order the entry with the nearest key
// sits. A search starts there and walks outwards in both directions until the
// key difference alone exceeds the best full distance found: an exact search.
//
// Internal to the imaging library.
#pragma once

#include <cstdint>

#include "imaging/image.h"

namespace imaging {

namespace palette_search {

// Channel numbers, as byte offsets within a blue, green, red pixel or entry.
enum Channel : uint8_t { kBlue = 0, kGreen = 1, kRed = 2 };

// The channel with the widest range of values, with the tie rules both the
// median cut and the sorted palette use: red wins over blue only when strictly
// wider, green over the winner of those two only when strictly wider.
constexpr Channel widest_channel(int red_range, int green_range, int blue_range) {
    if (red_range > blue_range) {
        return green_range > red_range ? kGreen : kRed;
    }
    return green_range > blue_range ? kGreen : kBlue;
}

// Sorts items[0..n) by key, largest first, with a Shell sort whose gaps are 1, 4,
// 13, 40, ... (h = 3h + 1, the largest not above n / 9, then h / 3 down to 1).
// An item moves ahead of another only when its key is strictly larger, which
// fixes where equal keys end up; both palette builders depend on that order.
template <typename T, typename KeyFn>
void shell_sort_descending(T* items, int32_t n, KeyFn key) {
    int32_t gap = 1;
    while (3 * gap + 1 <= n / 9) {
        gap = 3 * gap + 1;
    }
    for (; gap > 0; gap /= 3) {
        for (int32_t i = gap; i < n; ++i) {
            const T item = items[i];
            const auto item_key = key(item);
            int32_t j = i;
            while (j >= gap && item_key > key(items[j - gap])) {
                items[j] = items[j - gap];
                j -= gap;
            }
            items[j] = item;
        }
    }
}

// The 15-bit cell of a colour: five bits per channel, red highest.
constexpr uint32_t color_cell(uint32_t red, uint32_t green, uint32_t blue) {
    return (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3);
}

// Squared distance between a palette entry and a colour.
inline int32_t distance2(const PaletteEntry& entry, int32_t red, int32_t green, int32_t blue) {
    const int32_t dr = entry.red - red;
    const int32_t dg = entry.green - green;
    const int32_t db = entry.blue - blue;
    return dr * dr + dg * dg + db * db;
}

class ColorTree {
  public:
    // Enough for 256 palette colours: 1 + 8 + 64 + 256 + 256 = 585 nodes at most.
    static constexpr int32_t kPoolNodes = 587;

    // Builds the tree from palette entries 0 .. count - 1 (count 1..256).
    void build(const PaletteEntry* palette, int32_t count);

    // The palette index of the nearest leaf below the deepest node on the
    // colour's path (see above).
    uint8_t find(uint8_t red, uint8_t green, uint8_t blue) const;

  private:
    static constexpr uint16_t kNoChild = 0;  // node 0 is the root, never a child
    static constexpr int32_t kLeafLevel = 4;

    struct Node {
        uint8_t blue, green, red;  // leaves: the colour of the first entry in the leaf
        uint8_t index;             // leaves: the last entry that fell into the leaf
        uint8_t leaf;              // 1 for a leaf
        uint8_t level;             // 0..4
        uint16_t children[8];      // pool positions, kNoChild until made
    };

    // Child number at a node of level 0..3: one bit of each channel, red highest.
    static uint32_t child_number(uint8_t red, uint8_t green, uint8_t blue, int32_t level) {
        const uint32_t mask = 0x80u >> level;
        return ((red & mask) ? 4u : 0u) | ((green & mask) ? 2u : 0u) | ((blue & mask) ? 1u : 0u);
    }

    Node pool_[kPoolNodes];
    int32_t used_ = 0;
};

class SortedPalette {
  public:
    // Builds the order and start tables from palette entries 0 .. count - 1
    // (count 1..256). The palette must outlive the searches.
    void build(const PaletteEntry* palette, int32_t count);

    // The palette index of an entry at the smallest squared RGB distance; among
    // equal distances the one met first by the walk from the start position.
    uint8_t find(uint8_t red, uint8_t green, uint8_t blue) const;

    Channel key_channel() const { return key_channel_; }

  private:
    uint8_t entry_key(uint16_t index) const {
        return reinterpret_cast<const uint8_t*>(&palette_[index])[key_channel_];
    }

    const PaletteEntry* palette_ = nullptr;
    int32_t count_ = 0;
    Channel key_channel_ = kBlue;
    uint16_t order_[256];  // palette indices, largest key first
    uint8_t keys_[256];    // keys_[p] = key of order_[p]
    uint16_t start_[256];  // by key value: the position a search begins at
};

}  // namespace palette_search

}  // namespace imaging
