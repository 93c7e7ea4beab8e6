// The colour-tree search of the palette mapping: an octree of depth five over
// the top four bits of each channel (see palette_search.h).

#include <cassert>

#include "imaging/convert/palette_search.h"

namespace imaging {

namespace palette_search {

namespace {

// The gathering walk is depth first. From a node at level L it holds, at most,
// the seven unvisited siblings of each inner node on the current path plus the
// eight children of the deepest one: 7 * (3 - L) + 8 nodes, 29 from the root.
// Sized for that, so every leaf below the chosen node is always compared.
constexpr int32_t kStackNodes = 29;

// Larger than any squared distance between two colours (3 * 255 * 255).
constexpr int32_t kNoDistance = 0x30000;

}  // namespace

void ColorTree::build(const PaletteEntry* palette, int32_t count) {
    assert(count >= 1 && count <= 256);
    pool_[0] = Node{};
    used_ = 1;
    for (int32_t i = 0; i < count; ++i) {
        const PaletteEntry& entry = palette[i];
        int32_t node = 0;
        for (int32_t level = 0; level < kLeafLevel; ++level) {
            const uint32_t k = child_number(entry.red, entry.green, entry.blue, level);
            if (pool_[node].children[k] == kNoChild) {
                // 256 entries make at most 584 nodes below the root.
                assert(used_ < kPoolNodes);
                Node& made = pool_[used_];
                made = Node{};
                made.level = static_cast<uint8_t>(level + 1);
                if (made.level == kLeafLevel) {
                    made.leaf = 1;
                    made.blue = entry.blue;
                    made.green = entry.green;
                    made.red = entry.red;
                }
                pool_[node].children[k] = static_cast<uint16_t>(used_);
                ++used_;
            }
            node = pool_[node].children[k];
        }
        // Entries sharing a leaf: the first one's colour, the last one's index.
        pool_[node].index = static_cast<uint8_t>(i);
    }
}

uint8_t ColorTree::find(uint8_t red, uint8_t green, uint8_t blue) const {
    // Descend along the colour's path while the tree has the needed child.
    int32_t node = 0;
    int32_t from = 0;
    while (!pool_[node].leaf) {
        const uint16_t child =
            pool_[node].children[child_number(red, green, blue, pool_[node].level)];
        if (child == kNoChild) {
            break;
        }
        from = node;
        node = child;
    }
    if (pool_[node].leaf) {
        node = from;  // compare the leaf with its siblings, not alone
    }

    // Gather the leaves below it last in, first out: children are pushed in
    // child-number order, so the highest-numbered one is visited first.
    uint16_t stack[kStackNodes];
    int32_t held = 0;
    stack[held++] = static_cast<uint16_t>(node);
    int32_t best = kNoDistance;
    uint8_t result = 0;
    while (held > 0) {
        const Node& n = pool_[stack[--held]];
        if (n.leaf) {
            const int32_t dr = n.red - red;
            const int32_t dg = n.green - green;
            const int32_t db = n.blue - blue;
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < best) {  // among equal distances the earlier leaf wins
                best = d;
                result = n.index;
            }
            continue;
        }
        for (uint16_t child : n.children) {
            if (child != kNoChild) {
                assert(held < kStackNodes);
                stack[held++] = child;
            }
        }
    }
    return result;
}

}  // namespace palette_search

}  // namespace imaging
