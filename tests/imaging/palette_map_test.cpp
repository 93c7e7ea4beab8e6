#include "imaging/convert/palette_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "tests/imaging/picture.h"

using namespace imaging;

namespace {

using picture::distance2;
using picture::Picture;
using picture::Rgb;

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kYellow{255, 255, 0};

// The phone's four gray levels, black to white.
void set_four_grays(Picture& image) {
    image.set_entry(0, Rgb{0, 0, 0});
    image.set_entry(1, Rgb{0x55, 0x55, 0x55});
    image.set_entry(2, Rgb{0xAA, 0xAA, 0xAA});
    image.set_entry(3, Rgb{0xFF, 0xFF, 0xFF});
    image->color_count = 4;
    image->type_flags = 0;
}

uint32_t cell_of(Rgb c) {
    return (c.red >> 3) << 10 | (c.green >> 3) << 5 | (c.blue >> 3);
}

Rgb random_rgb(std::mt19937& rng) {
    return Rgb{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
               static_cast<uint8_t>(rng())};
}

// ---------------------------------------------------------------------------
// The viewer's reduction to four gray levels.

TEST(FourLevels, ReducedPictureMapsOntoTheFourGrays) {
    // Quadrants of black, red, yellow and white of different sizes, in an
    // 8-bit picture whose palette also holds colours no pixel uses.
    Picture source(12, 8, 8);
    source->type_flags = 0;
    source.set_entry(0, kWhite);
    source.set_entry(1, Rgb{0, 0, 255});  // unused
    source.set_entry(2, kRed);
    source.set_entry(3, kYellow);
    source.set_entry(4, kBlack);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 12; ++x) {
            const uint8_t index = y < 2 ? 4 : (x < 3 ? 0 : (x < 7 ? 2 : 3));
            source.set_index(x, y, index);
        }
    }
    // black 24, white 18, red 24, yellow 30 pixels.
    Picture reduced(12, 8, 8);
    reduced->color_count = 4;
    ASSERT_EQ(palette_reduce(source.get(), reduced.get()), IMG_OK);
    EXPECT_EQ(reduced->color_count, 4);
    EXPECT_EQ(reduced->type_flags & IMAGE_GRAY, 0u);
    // Most used first, ties to the lower index.
    EXPECT_EQ(reduced.entry(0), kYellow);
    EXPECT_EQ(reduced.entry(1), kRed);
    EXPECT_EQ(reduced.entry(2), kBlack);
    EXPECT_EQ(reduced.entry(3), kWhite);

    Picture levels(12, 8, 8);
    set_four_grays(levels);
    ASSERT_EQ(map_to_palette(reduced.get(), levels.get(), 2), IMG_OK);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 12; ++x) {
            const uint8_t expected = y < 2 ? 0 : (x < 3 ? 3 : (x < 7 ? 1 : 2));
            ASSERT_EQ(levels.index(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(levels.entry(1), (Rgb{0x55, 0x55, 0x55}));
    EXPECT_EQ(levels->color_count, 4);
}

// ---------------------------------------------------------------------------
// palette_reduce: the colour choice.

struct ReduceCase {
    std::vector<Rgb> palette;  // source palette
    std::vector<int> uses;     // pixels per palette index
    int32_t wanted;
};

std::vector<Rgb> reduce(const ReduceCase& c) {
    int total = 0;
    for (int n : c.uses) {
        total += n;
    }
    Picture source(total, 1, 8);
    source->color_count = static_cast<int32_t>(c.palette.size());
    for (size_t i = 0; i < c.palette.size(); ++i) {
        source.set_entry(static_cast<int>(i), c.palette[i]);
    }
    uint32_t x = 0;
    for (size_t i = 0; i < c.uses.size(); ++i) {
        for (int k = 0; k < c.uses[i]; ++k) {
            source.set_index(x++, 0, static_cast<uint8_t>(i));
        }
    }
    Picture destination(total, 1, 8);
    destination->color_count = c.wanted;
    EXPECT_EQ(palette_reduce(source.get(), destination.get()), IMG_OK);
    std::vector<Rgb> chosen;
    for (int i = 0; i < c.wanted; ++i) {
        chosen.push_back(destination.entry(i));
    }
    for (uint32_t i = 0; i < x; ++i) {
        EXPECT_LT(destination.index(i, 0), c.wanted);
    }
    return chosen;
}

TEST(PaletteReduce, TwoUsedColoursFillWithCopiesOfTheFirst) {
    const Rgb a{10, 200, 30}, b{220, 20, 40};
    const auto chosen = reduce({{b, kBlack, a, kWhite, kRed}, {3, 0, 5}, 4});
    EXPECT_EQ(chosen, (std::vector<Rgb>{a, b, a, a}));
}

TEST(PaletteReduce, ThresholdIsStrict) {
    const Rgb a{100, 100, 100};
    const Rgb at_200{200, 150, 150};  // |dR| + |dG| + |dB| = 200
    const Rgb at_201{0, 0, 99};       // 201
    // At t = 200 the second most used colour is refused and the third taken.
    EXPECT_EQ(reduce({{a, at_200, at_201}, {9, 5, 2}, 2}), (std::vector<Rgb>{a, at_201}));
    // Alone, the colour at distance 200 is taken by the pass at t = 190.
    EXPECT_EQ(reduce({{a, at_200}, {9, 5}, 2}), (std::vector<Rgb>{a, at_200}));
}

TEST(PaletteReduce, DuplicateEntryIsNeverTaken) {
    const Rgb a{40, 50, 60}, c{41, 50, 60};
    // The duplicate is more used than c but never taken, not even at t = 0.
    EXPECT_EQ(reduce({{a, a, c}, {10, 6, 3}, 3}), (std::vector<Rgb>{a, c, a}));
}

TEST(PaletteReduce, RejectsBadCounts) {
    Picture source(4, 4, 8);
    Picture destination(4, 4, 8);
    for (int32_t wanted : {256, 1, 0, -3}) {
        destination->color_count = wanted;
        EXPECT_EQ(palette_reduce(source.get(), destination.get()), IMG_ERR_RANGE) << wanted;
    }
    source->color_count = 3;
    destination->color_count = 4;
    EXPECT_EQ(palette_reduce(source.get(), destination.get()), IMG_ERR_RANGE);
    source->color_count = 256;
    source->palette = nullptr;
    EXPECT_EQ(palette_reduce(source.get(), destination.get()), IMG_ERR_RANGE);

    Picture rgb(4, 4, 24);
    EXPECT_EQ(palette_reduce(rgb.get(), destination.get()), IMG_ERR_BPP);
    Picture one_bit(4, 4, 1);
    EXPECT_EQ(palette_reduce(one_bit.get(), destination.get()), IMG_ERR_BPP);
}

// ---------------------------------------------------------------------------
// map_to_palette: arguments and small cases.

TEST(MapToPalette, RejectsBadArguments) {
    Picture source(4, 4, 24);
    Picture destination(4, 4, 8);
    EXPECT_EQ(map_to_palette(source.get(), destination.get(), 4), IMG_ERR_PARAM);
    EXPECT_EQ(map_to_palette(source.get(), destination.get(), -1), IMG_ERR_PARAM);

    Picture one_bit(4, 4, 1);
    Picture sixteen(4, 4, 16);
    EXPECT_EQ(map_to_palette(one_bit.get(), destination.get(), 0), IMG_ERR_BPP);
    EXPECT_EQ(map_to_palette(sixteen.get(), destination.get(), 0), IMG_ERR_BPP);
    Picture rgb_destination(4, 4, 24);
    EXPECT_EQ(map_to_palette(source.get(), rgb_destination.get(), 0), IMG_ERR_BPP);

    destination->color_count = 0;
    EXPECT_EQ(map_to_palette(source.get(), destination.get(), 0), IMG_ERR_RANGE);
    destination->color_count = 4;
    Picture indexed(4, 4, 8);
    indexed->color_count = 0;
    EXPECT_EQ(map_to_palette(indexed.get(), destination.get(), 2), IMG_ERR_RANGE);
    ImageDesc empty{};
    EXPECT_EQ(map_to_palette(&empty, destination.get(), 2), IMG_ERR_BAD_BUFFER);
}

TEST(MapToPalette, OneEntryPaletteMapsEverythingToZero) {
    Picture source(9, 5, 24);
    std::mt19937 rng(3);
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 9; ++x) {
            source.set_rgb(x, y, random_rgb(rng));
        }
    }
    for (int32_t mode = 0; mode < 4; ++mode) {
        Picture destination(9, 5, 8);
        destination.set_entry(0, Rgb{1, 2, 3});
        destination->color_count = 1;
        for (uint32_t y = 0; y < 5; ++y) {
            for (uint32_t x = 0; x < 9; ++x) {
                destination.set_index(x, y, 7);
            }
        }
        ASSERT_EQ(map_to_palette(source.get(), destination.get(), mode), IMG_OK);
        for (uint32_t y = 0; y < 5; ++y) {
            for (uint32_t x = 0; x < 9; ++x) {
                EXPECT_EQ(destination.index(x, y), 0) << mode;
            }
        }
    }
}

// Gray 100 on black and white, worked by hand. Row 0: 100 is black and pushes
// 700 >> 4 = 43 right, making 143: white, pushing -784 >> 4 = -49 right, making
// 51: black. Row 1 received 31 - 21 = +10, 6 - 35 + 9 = -20 and -7 + 15 = +8
// from above: 110 black pushes 48 right, making 128 (a new cell, white by
// 48387 < 49152), pushing -889 >> 4 = -56 (rounded down), leaving 52: black.
TEST(MapToPalette, DiffusionWorkedExample) {
    Picture source(3, 2, 24);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            source.set_rgb(x, y, Rgb{100, 100, 100});
        }
    }
    for (int32_t mode : {1, 3}) {
        Picture destination(3, 2, 8);
        destination.set_entry(0, kBlack);
        destination.set_entry(1, kWhite);
        destination->color_count = 2;
        ASSERT_EQ(map_to_palette(source.get(), destination.get(), mode), IMG_OK);
        for (uint32_t y = 0; y < 2; ++y) {
            EXPECT_EQ(destination.index(0, y), 0) << mode;
            EXPECT_EQ(destination.index(1, y), 1) << mode;
            EXPECT_EQ(destination.index(2, y), 0) << mode;
        }
    }
}

TEST(MapToPalette, WritesTheCommonAreaFromAnEightBitSource) {
    Picture source(6, 6, 8);
    source->type_flags = 0;
    source.set_entry(0, kBlack);
    source.set_entry(1, kWhite);
    source.set_entry(2, kRed);
    source->color_count = 3;
    for (uint32_t y = 0; y < 6; ++y) {
        for (uint32_t x = 0; x < 6; ++x) {
            source.set_index(x, y, static_cast<uint8_t>((x + y) % 3));
        }
    }
    image_set_area(source.get(), 2, 1, 5, 5);  // 4 x 5
    Picture destination(5, 5, 8);
    set_four_grays(destination);
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 5; ++x) {
            destination.set_index(x, y, 9);
        }
    }
    image_set_area(destination.get(), 1, 2, 4, 4);  // 4 x 3
    ASSERT_EQ(map_to_palette(source.get(), destination.get(), 2), IMG_OK);
    const uint8_t level_of[3] = {0, 3, 1};
    for (uint32_t y = 0; y < 5; ++y) {
        for (uint32_t x = 0; x < 5; ++x) {
            const bool inside = x >= 1 && y >= 2;
            const uint32_t sx = x - 1 + 2, sy = y - 2 + 1;
            const uint8_t expected = inside ? level_of[(sx + sy) % 3] : 9;
            EXPECT_EQ(destination.index(x, y), expected) << x << "," << y;
        }
    }
}

// Blue is the widest channel, so it is the sort key. A colour exactly halfway
// between two keys starts at the smaller one; at equal distance the walk keeps
// the entry it started from.
TEST(MapToPalette, SortedSearchTieGoesToTheSmallerKey) {
    Picture source(3, 1, 24);
    source.set_rgb(0, 0, Rgb{0, 0, 150});  // halfway between 100 and 200
    source.set_rgb(1, 0, Rgb{0, 0, 250});  // above the largest key
    source.set_rgb(2, 0, Rgb{0, 30, 40});  // 30^2 + 40^2 from (0, 60, 0), found walking up
    Picture destination(3, 1, 8);
    destination.set_entry(0, Rgb{0, 0, 200});
    destination.set_entry(1, Rgb{0, 0, 100});
    destination.set_entry(2, Rgb{0, 60, 0});
    destination->color_count = 3;
    ASSERT_EQ(map_to_palette(source.get(), destination.get(), 2), IMG_OK);
    EXPECT_EQ(destination.index(0, 0), 1);
    EXPECT_EQ(destination.index(1, 0), 0);
    EXPECT_EQ(destination.index(2, 0), 2);
}

TEST(MapToPalette, WorksAgainAfterLibraryShutdown) {
    Picture source(2, 2, 24);
    Picture destination(2, 2, 8);
    set_four_grays(destination);
    source.set_rgb(1, 1, kWhite);
    ASSERT_EQ(map_to_palette(source.get(), destination.get(), 0), IMG_OK);
    library_shutdown();
    ASSERT_EQ(map_to_palette(source.get(), destination.get(), 0), IMG_OK);
    EXPECT_EQ(destination.index(1, 1), 3);
    EXPECT_EQ(destination.index(0, 0), 0);
}

// ---------------------------------------------------------------------------
// Properties on random palettes and pictures.

struct RandomCase {
    std::vector<Rgb> palette;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rgb> pixels;  // rows from the top
};

RandomCase make_case(std::mt19937& rng, int32_t entries, bool clustered) {
    RandomCase c;
    for (int32_t i = 0; i < entries; ++i) {
        Rgb e = random_rgb(rng);
        if (clustered && i > 0 && rng() % 3 == 0) {
            e = c.palette[rng() % c.palette.size()];  // duplicates and near neighbours
            e.blue = static_cast<uint8_t>(e.blue ^ (rng() % 4));
        }
        c.palette.push_back(e);
    }
    c.width = 1 + static_cast<int32_t>(rng() % 40);
    c.height = 1 + static_cast<int32_t>(rng() % 12);
    for (int32_t i = 0; i < c.width * c.height; ++i) {
        c.pixels.push_back(random_rgb(rng));
    }
    return c;
}

// Runs map_to_palette on a case; returns the indices by pixel.
std::vector<uint8_t> run_case(const RandomCase& c, int32_t mode) {
    Picture source(c.width, c.height, 24);
    Picture destination(c.width, c.height, 8);
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            source.set_rgb(x, y, c.pixels[y * c.width + x]);
        }
    }
    for (size_t i = 0; i < c.palette.size(); ++i) {
        destination.set_entry(static_cast<int>(i), c.palette[i]);
    }
    destination->color_count = static_cast<int32_t>(c.palette.size());
    EXPECT_EQ(map_to_palette(source.get(), destination.get(), mode), IMG_OK);
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < c.height; ++y) {
        for (int32_t x = 0; x < c.width; ++x) {
            out.push_back(destination.index(x, y));
        }
    }
    return out;
}

// The colours the mapping searched for, given the indices it chose: the
// pixels themselves without diffusion, else the pixels plus the shares of the
// Floyd-Steinberg diffusion, (error * weight) >> 4 clamped to 0..255.
std::vector<Rgb> searched_colours(const RandomCase& c, const std::vector<uint8_t>& out,
                                  bool diffuse) {
    if (!diffuse) {
        return c.pixels;
    }
    const int32_t w = c.width;
    std::vector<std::array<int, 3>> now(w + 2), next(w + 2);
    auto load = [&](std::vector<std::array<int, 3>>& line, int32_t y) {
        for (int32_t x = 0; x < w; ++x) {
            const Rgb p = c.pixels[y * w + x];
            line[x + 1] = {p.red, p.green, p.blue};
        }
    };
    auto add = [](int& v, int share) { v = std::clamp(v + share, 0, 255); };
    std::vector<Rgb> searched;
    load(now, 0);
    for (int32_t y = 0; y < c.height; ++y) {
        load(next, std::min(y + 1, c.height - 1));
        for (int32_t x = 1; x <= w; ++x) {
            auto& p = now[x];
            searched.push_back(Rgb{static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]),
                                   static_cast<uint8_t>(p[2])});
            const Rgb e = c.palette[out[y * w + x - 1]];
            const int chosen[3] = {e.red, e.green, e.blue};
            for (int ch = 0; ch < 3; ++ch) {
                const int error = p[ch] - chosen[ch];
                add(now[x + 1][ch], (error * 7) >> 4);
                add(next[x - 1][ch], (error * 3) >> 4);
                add(next[x][ch], (error * 5) >> 4);
                add(next[x + 1][ch], (error * 1) >> 4);
            }
        }
        now = next;
    }
    return searched;
}

// The palette indices the colour tree may answer for a colour: the nearest
// among the leaves below the deepest tree node on the colour's path (its
// parent when that is a leaf). A leaf is a cell of the top four bits of each
// channel with the colour of its first entry and the index of its last.
std::vector<int> tree_answers(const std::vector<Rgb>& palette, Rgb colour) {
    struct Leaf {
        Rgb colour;
        int index;
    };
    std::vector<Leaf> leaves;
    for (size_t i = 0; i < palette.size(); ++i) {
        auto same = [&](const Leaf& l) {
            return (l.colour.red >> 4) == (palette[i].red >> 4) &&
                   (l.colour.green >> 4) == (palette[i].green >> 4) &&
                   (l.colour.blue >> 4) == (palette[i].blue >> 4);
        };
        auto it = std::find_if(leaves.begin(), leaves.end(), same);
        if (it == leaves.end()) {
            leaves.push_back(Leaf{palette[i], static_cast<int>(i)});
        } else {
            it->index = static_cast<int>(i);
        }
    }
    auto shares_bits = [&](const Leaf& l, int level) {
        const int shift = 8 - level;
        return (l.colour.red >> shift) == (colour.red >> shift) &&
               (l.colour.green >> shift) == (colour.green >> shift) &&
               (l.colour.blue >> shift) == (colour.blue >> shift);
    };
    int depth = 0;
    for (int level = 1; level <= 4; ++level) {
        if (std::any_of(leaves.begin(), leaves.end(),
                        [&](const Leaf& l) { return shares_bits(l, level); })) {
            depth = level;
        }
    }
    const int chosen = std::min(depth, 3);
    int best = 1 << 30;
    for (const Leaf& l : leaves) {
        if (shares_bits(l, chosen)) {
            best = std::min(best, distance2(l.colour, colour));
        }
    }
    std::vector<int> answers;
    for (const Leaf& l : leaves) {
        if (shares_bits(l, chosen) && distance2(l.colour, colour) == best) {
            answers.push_back(l.index);
        }
    }
    return answers;
}

// Checks every pixel: the first pixel of each cell got a correct answer for
// its searched colour, every later one the cached index of its cell.
void check_mapping(const RandomCase& c, int32_t mode) {
    const std::vector<uint8_t> out = run_case(c, mode);
    const std::vector<Rgb> searched = searched_colours(c, out, mode == 1 || mode == 3);
    std::map<uint32_t, uint8_t> cache;
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_LT(out[i], c.palette.size());
        const Rgb colour = searched[i];
        const auto cached = cache.find(cell_of(colour));
        if (cached != cache.end()) {
            ASSERT_EQ(out[i], cached->second) << "pixel " << i << " mode " << mode;
            continue;
        }
        cache[cell_of(colour)] = out[i];
        if (mode >= 2) {
            int best = 1 << 30;
            for (const Rgb& e : c.palette) {
                best = std::min(best, distance2(e, colour));
            }
            ASSERT_EQ(distance2(c.palette[out[i]], colour), best)
                << "pixel " << i << " mode " << mode;
        } else {
            const auto answers = tree_answers(c.palette, colour);
            ASSERT_NE(std::find(answers.begin(), answers.end(), out[i]), answers.end())
                << "pixel " << i << " mode " << mode;
        }
    }
}

TEST(MapToPaletteProperty, SortedSearchIsExactAndTreeSearchStaysInItsLeaves) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        const int32_t entries = round < 10 ? 1 + round : 1 + static_cast<int32_t>(rng() % 256);
        const RandomCase c = make_case(rng, entries, round % 2 == 1);
        for (int32_t mode = 0; mode < 4; ++mode) {
            SCOPED_TRACE(::testing::Message() << "round " << round << " entries " << entries);
            check_mapping(c, mode);
        }
    }
}

// A colour whose top-level octant is empty is compared with every leaf of the
// tree. This palette makes the depth-first gathering hold 28 nodes at once (7
// root children, then 7 + 8 + 8 below the last); the nearest leaf, (255, 255,
// 127), is the very last one pushed.
TEST(MapToPaletteProperty, EmptyOctantComparesEveryLeaf) {
    auto compose = [](std::initializer_list<int> path, uint8_t low) {
        Rgb c{low, low, low};
        int level = 0;
        for (int k : path) {
            const auto bit = static_cast<uint8_t>(0x80 >> level++);
            c.red = static_cast<uint8_t>(c.red | ((k & 4) ? bit : 0));
            c.green = static_cast<uint8_t>(c.green | ((k & 2) ? bit : 0));
            c.blue = static_cast<uint8_t>(c.blue | ((k & 1) ? bit : 0));
        }
        return c;
    };
    RandomCase c;
    for (int k = 0; k < 6; ++k) {
        c.palette.push_back(compose({k}, 0));
    }
    for (int k = 0; k < 7; ++k) {
        c.palette.push_back(compose({6, k}, 0));
    }
    for (int k = 0; k < 7; ++k) {
        c.palette.push_back(compose({6, 7, k}, 0));
    }
    for (int k = 0; k < 8; ++k) {
        c.palette.push_back(compose({6, 7, 7, k}, 0x0F));
    }
    ASSERT_EQ(c.palette[27], (Rgb{255, 255, 127}));
    std::mt19937 rng(5);
    c.width = 32;
    c.height = 8;
    c.pixels.push_back(kWhite);
    for (int i = 1; i < c.width * c.height; ++i) {
        Rgb p = random_rgb(rng);
        p.red |= 0x80;
        p.green |= 0x80;
        p.blue |= 0x80;
        c.pixels.push_back(p);
    }
    for (int32_t mode = 0; mode < 4; ++mode) {
        EXPECT_EQ(run_case(c, mode)[0], 27) << mode;
        check_mapping(c, mode);
    }
}

}  // namespace
