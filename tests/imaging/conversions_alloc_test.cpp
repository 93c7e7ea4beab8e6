// The conversions' working memory: a fixed number of allocations per call, of
// fixed tables plus at most a few row-sized buffers, whatever the picture
// size. Counts every operator new made inside one call (this program replaces
// the global allocation functions).

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

#include "imaging/convert/color_to_gray.h"
#include "imaging/convert/palette_map.h"
#include "imaging/convert/resize.h"
#include "imaging/convert/rgb_to_palette.h"
#include "tests/imaging/picture.h"

using namespace imaging;

namespace {

struct Usage {
    size_t calls = 0;
    size_t live = 0;
    size_t peak = 0;
};

bool g_counting = false;
Usage g_usage;

// Blocks carry their size in front, so that deletes can be counted.
constexpr size_t kHeader = alignof(std::max_align_t);

[[gnu::noinline]] void* counted_alloc(size_t n) {
    auto* block = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (block == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<size_t*>(block) = n;
    if (g_counting) {
        ++g_usage.calls;
        g_usage.live += n;
        g_usage.peak = std::max(g_usage.peak, g_usage.live);
    }
    return block + kHeader;
}

[[gnu::noinline]] void counted_free(void* p) {
    if (p == nullptr) {
        return;
    }
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    if (g_counting) {
        g_usage.live -= *reinterpret_cast<size_t*>(block);
    }
    std::free(block);
}

}  // namespace

void* operator new(size_t n) {
    void* p = counted_alloc(n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](size_t n) {
    return operator new(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return counted_alloc(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return counted_alloc(n);
}
void operator delete(void* p) noexcept {
    counted_free(p);
}
void operator delete[](void* p) noexcept {
    counted_free(p);
}
void operator delete(void* p, size_t) noexcept {
    counted_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    counted_free(p);
}

namespace {

using picture::Picture;

Usage measure(const std::function<ImgStatus()>& call) {
    g_usage = Usage{};
    g_counting = true;
    const ImgStatus status = call();
    g_counting = false;
    EXPECT_EQ(status, IMG_OK);
    return g_usage;
}

void fill(Picture& image, uint32_t seed) {
    const size_t n = image.bytes().size();
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        image->pixels[i] = static_cast<uint8_t>(seed >> 16);
    }
}

using Conversion = std::function<Usage(int32_t width, int32_t height)>;

// Runs one conversion on a small and on a large picture (8 times the width and
// height): the number of allocations must not change, and the peak stays
// within the fixed tables (the largest: a 64 KiB histogram and a cell list of
// at most 32768 cells) plus a few row-sized buffers, far below the size of the
// large picture. The first run also creates the mapping lock, which lives on.
void expect_fixed_memory(const char* name, const Conversion& run) {
    SCOPED_TRACE(name);
    run(64, 48);
    const Usage small = run(64, 48);
    const Usage large = run(512, 384);
    EXPECT_EQ(small.live, 0u) << "memory kept after the call";
    EXPECT_EQ(large.live, 0u) << "memory kept after the call";
    EXPECT_EQ(small.calls, large.calls);
    constexpr size_t kFixedTables = 160 * 1024;
    EXPECT_LE(small.peak, kFixedTables + 16 * 64);
    EXPECT_LE(large.peak, kFixedTables + 16 * 512);
}

// A conversion from a filled source of the given depth into a fresh
// destination of the given depth (of the source's size, or 40 x 20).
Conversion conversion(int32_t source_bits, int32_t destination_bits, bool same_size,
                      std::function<ImgStatus(ImageDesc*, ImageDesc*)> call,
                      int32_t destination_colours = 0) {
    return [=](int32_t width, int32_t height) {
        Picture source(width, height, source_bits);
        fill(source, 1);
        if (source_bits == 8) {
            source->type_flags = 0;  // a colour-palette picture
        }
        Picture destination(same_size ? width : 40, same_size ? height : 20, destination_bits);
        if (destination_colours != 0) {
            destination->color_count = destination_colours;
        }
        return measure([&] { return call(source.get(), destination.get()); });
    };
}

TEST(ConversionMemory, FixedAllocationsPerCall) {
    struct Case {
        const char* name;
        Conversion run;
    };
    const Case cases[] = {
        {"color_to_gray 24", conversion(24, 8, true, color_to_gray)},
        {"color_to_gray 8", conversion(8, 8, true, color_to_gray)},
        {"map_to_palette 0",
         conversion(24, 8, true,
                    [](ImageDesc* s, ImageDesc* d) { return map_to_palette(s, d, 0); })},
        {"map_to_palette 1",
         conversion(24, 8, true,
                    [](ImageDesc* s, ImageDesc* d) { return map_to_palette(s, d, 1); })},
        {"map_to_palette 2",
         conversion(8, 8, true,
                    [](ImageDesc* s, ImageDesc* d) { return map_to_palette(s, d, 2); })},
        {"map_to_palette 3",
         conversion(24, 8, true,
                    [](ImageDesc* s, ImageDesc* d) { return map_to_palette(s, d, 3); })},
        {"palette_reduce", conversion(8, 8, true, palette_reduce, 4)},
        {"rgb_to_palette",
         conversion(24, 8, true,
                    [](ImageDesc* s, ImageDesc* d) { return rgb_to_palette(256, s, d, 2); })},
        {"resize box 24",
         conversion(24, 24, false,
                    [](ImageDesc* s, ImageDesc* d) { return image_resize(s, d, 1); })},
        {"resize box palette",
         conversion(8, 8, false, [](ImageDesc* s, ImageDesc* d) { return image_resize(s, d, 1); })},
        {"resize pattern 1",
         conversion(1, 1, false, [](ImageDesc* s, ImageDesc* d) { return image_resize(s, d, 1); })},
        {"resize pattern 24",
         conversion(24, 24, false,
                    [](ImageDesc* s, ImageDesc* d) { return image_resize(s, d, 0); })},
        {"copy pixels 1", conversion(1, 1, true, image_copy_pixels)},
        {"expand to rgb", conversion(8, 24, true, image_expand_to_rgb)},
    };
    for (const Case& c : cases) {
        expect_fixed_memory(c.name, c.run);
    }
}

TEST(ConversionMemory, BilinearEnlargingAllocatesNothing) {
    Picture warm_source(2, 2, 24);
    Picture warm_destination(3, 3, 24);
    image_resize(warm_source.get(), warm_destination.get(), 1);
    for (int32_t size : {10, 60}) {
        Picture source(size, size, 24);
        fill(source, 2);
        Picture destination(3 * size, 2 * size, 24);
        const Usage usage =
            measure([&] { return image_resize(source.get(), destination.get(), 1); });
        EXPECT_EQ(usage.calls, 0u);
    }
}

}  // namespace
