// The sorted-palette search of the palette mapping: an exact nearest-colour
// search that walks outwards from the entry whose key channel is nearest.

#include <cassert>

#include "imaging/convert/palette_search.h"

namespace imaging {

namespace palette_search {

void SortedPalette::build(const PaletteEntry* palette, int32_t count) {
    assert(count >= 1 && count <= 256);
    palette_ = palette;
    count_ = count;

    int32_t low[3] = {255, 255, 255};
    int32_t high[3] = {0, 0, 0};
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&palette[i]);
        for (int32_t ch = 0; ch < 3; ++ch) {
            low[ch] = bytes[ch] < low[ch] ? bytes[ch] : low[ch];
            high[ch] = bytes[ch] > high[ch] ? bytes[ch] : high[ch];
        }
    }
    key_channel_ = widest_channel(high[kRed] - low[kRed], high[kGreen] - low[kGreen],
                                  high[kBlue] - low[kBlue]);

    for (int32_t i = 0; i < count; ++i) {
        order_[i] = static_cast<uint16_t>(i);
    }
    shell_sort_descending(order_, count, [this](uint16_t index) { return entry_key(index); });
    for (int32_t p = 0; p < count; ++p) {
        keys_[p] = entry_key(order_[p]);
    }

    // Start positions, walking the order from its smallest key towards the
    // largest. Between two neighbouring distinct keys k < k2, values up to the
    // midpoint start at the k group's front position, the rest at the k2
    // group's back position; values above the largest key keep position 0.
    for (uint16_t& s : start_) {
        s = 0;
    }
    int32_t p = count - 1;
    int32_t k = keys_[p];
    int32_t u = 0;  // the next key value to fill
    while (p > 0) {
        int32_t q = p - 1;
        while (keys_[q] == k && q > 0) {
            --q;
        }
        const int32_t k2 = keys_[q];
        const int32_t middle = k + (k2 - k) / 2;
        for (; u <= middle; ++u) {
            start_[u] = static_cast<uint16_t>(q + 1);
        }
        for (; u <= k2; ++u) {
            start_[u] = static_cast<uint16_t>(q);
        }
        k = k2;
        p = q;
        if (u >= 256) {
            break;
        }
    }
}

uint8_t SortedPalette::find(uint8_t red, uint8_t green, uint8_t blue) const {
    const uint8_t colour[3] = {blue, green, red};
    const int32_t v = colour[key_channel_];
    const int32_t s = start_[v];
    int32_t best = distance2(palette_[order_[s]], red, green, blue);
    int32_t winner = s;
    // Looks at position i; false (the walk stops) once the key difference alone is at least
    // the best distance, since every entry further on that side is farther.
    const auto keep_walking = [&](int32_t i) {
        const int32_t dk = keys_[i] - v;
        if (dk * dk >= best) {
            return false;
        }
        const int32_t d = distance2(palette_[order_[i]], red, green, blue);
        if (d < best) {
            best = d;
            winner = i;
        }
        return true;
    };
    // Towards larger keys first, then towards smaller ones.
    for (int32_t i = s - 1; i >= 0 && best != 0 && keep_walking(i); --i) {
    }
    for (int32_t i = s + 1; i < count_ && best != 0 && keep_walking(i); ++i) {
    }
    return static_cast<uint8_t>(order_[winner]);
}

}  // namespace palette_search

}  // namespace imaging
