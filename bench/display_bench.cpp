// Screen display: the cost of dithering a window's worth of a picture.
//
// Peers in the same run: the dither of a 1024 x 768 picture against a plain
// copy of the same bytes, and the display of a large picture through a
// 1024 x 768 window against the display of a picture of just the window's size
// (equal times mean that only the visible part is dithered).
#include "imaging/display.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace imaging;

namespace {

// A surface that draws nothing.
class NullSurface : public DisplaySurface {
  public:
    NullSurface(int32_t depth, ClientSize client) : depth_(depth), client_(client) {}
    int32_t bits_per_pixel() override { return depth_; }
    ClientSize client_size() override { return client_; }
    void draw_rows(const SurfaceRows& rows) override { benchmark::DoNotOptimize(rows.bits); }
    DisplayPalette create_palette(const PaletteColor*, uint16_t) override { return &token_; }
    DisplayPalette select_palette(DisplayPalette) override { return nullptr; }
    void delete_palette(DisplayPalette) override {}

  private:
    int32_t depth_;
    ClientSize client_;
    int token_ = 0;
};

// A 24-bit picture of smooth gradients (every channel value occurs).
ImageDesc make_photo(int32_t width, int32_t height) {
    ImageDesc image{};
    if (image_alloc(&image, width, height, 24) != IMG_OK) {
        return image;
    }
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image_row(image, y);
        for (int32_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x + y);
            row[3 * x + 1] = static_cast<uint8_t>(x * 3);
            row[3 * x + 2] = static_cast<uint8_t>(y * 5);
        }
    }
    return image;
}

constexpr int32_t kWindowWidth = 1024;
constexpr int32_t kWindowHeight = 768;

void BM_DitherOrdered(benchmark::State& state) {
    ImageDesc source = make_photo(kWindowWidth, kWindowHeight);
    ImageDesc destination{};
    image_alloc(&destination, kWindowWidth, kWindowHeight, 8);
    const auto kind = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(dither_ordered(&source, &destination, kind));
    }
    state.SetItemsProcessed(state.iterations() * kWindowWidth * kWindowHeight);
    image_free(&destination);
    image_free(&source);
}
BENCHMARK(BM_DitherOrdered)->Arg(kDitherPalette256)->Arg(kDitherPalette16);

// Peer: copying the same 24-bit rows once.
void BM_CopyRows(benchmark::State& state) {
    ImageDesc source = make_photo(kWindowWidth, kWindowHeight);
    std::vector<uint8_t> copy(source.header->biSizeImage);
    for (auto _ : state) {
        std::memcpy(copy.data(), source.pixels, copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWindowWidth * kWindowHeight);
    image_free(&source);
}
BENCHMARK(BM_CopyRows);

// image_display on a 256-colour display, scrolled into the middle of a picture
// of the given size, through a 1024 x 768 window.
void BM_DisplayOn256Colours(benchmark::State& state) {
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    ImageDesc image = make_photo(width, height);
    NullSurface surface(8, {kWindowWidth, kWindowHeight});
    for (auto _ : state) {
        DisplayPalette palette = nullptr;
        benchmark::DoNotOptimize(image_display(surface, &palette, (width - kWindowWidth) / 2,
                                               (height - kWindowHeight) / 2, &image, 0, 0,
                                               kDisplayDither));
    }
    image_free(&image);
}
BENCHMARK(BM_DisplayOn256Colours)
    ->Args({kWindowWidth, kWindowHeight})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
