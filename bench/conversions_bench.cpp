// The conversions on a 4000 x 3000 24-bit photo-like picture, each beside a
// peer doing the same job in the same run:
//   color_to_gray                 vs libvips colourspace to B_W
//   rgb_to_palette(256, mode 2)   vs libimagequant, speed 10, no dithering
//   image_resize to 133 x 65 box  vs libvips shrink by 30 x 46 (the same boxes)
//                                 and by 4000/133 x 3000/65 (box, then reduce)
// The peers get their preferred input (RGB or RGBA rows) prepared outside the
// timing; libvips' operation cache is off. Peer threads: libvips' default pool,
// libimagequant as built (the "threads" label says which).
//
// Times are wall-clock (libvips works on several threads), the median of 5
// repetitions.
//
// The Memory/... entries run each conversion once and report, as
// extra_peak_kib, how far the process's peak resident memory rose above the
// source and destination (both already resident): the conversion's own tables.

#include <benchmark/benchmark.h>
#include <libimagequant.h>
#include <vips/vips.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "imaging/convert/color_to_gray.h"
#include "imaging/convert/palette_map.h"
#include "imaging/convert/resize.h"
#include "imaging/convert/rgb_to_palette.h"
#include "imaging/image.h"

using namespace imaging;

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;
constexpr int32_t kSmallWidth = 133;
constexpr int32_t kSmallHeight = 65;

// The picture in the three layouts the libraries want.
struct Photo {
    ImageDesc image{};          // ours: bottom-up BGR rows
    std::vector<uint8_t> rgb;   // top-down RGB, for libvips
    std::vector<uint8_t> rgba;  // top-down RGBA, for libimagequant
};

// Smooth gradients, fine noise and hard-edged shapes, like a photograph with
// sky, texture and objects: thousands of distinct 15-bit cells.
Photo& photo() {
    static Photo p = [] {
        Photo made;
        if (image_alloc(&made.image, kWidth, kHeight, 24) != IMG_OK) {
            std::abort();
        }
        made.rgb.resize(size_t{kWidth} * kHeight * 3);
        made.rgba.resize(size_t{kWidth} * kHeight * 4);
        std::vector<double> wave_x(kWidth), wave_y(kHeight);
        for (int32_t x = 0; x < kWidth; ++x) {
            wave_x[x] = std::sin(x / 310.0);
        }
        for (int32_t y = 0; y < kHeight; ++y) {
            wave_y[y] = std::cos(y / 205.0);
        }
        uint32_t noise = 2463534242u;
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = image_row(made.image, static_cast<uint32_t>(y));
            for (int32_t x = 0; x < kWidth; ++x) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                const int jitter = static_cast<int>(noise % 25) - 12;
                double r = 120 + 80 * wave_x[x] * wave_y[y] + 40.0 * y / kHeight;
                double g = 110 + 70 * wave_y[y] - 30 * wave_x[x] + 50.0 * x / kWidth;
                double b = 150 - 60 * wave_x[x] + 60.0 * (kHeight - y) / kHeight;
                // Objects with hard edges: a disc and a few bars.
                const double dx = x - 2600.0, dy = y - 1300.0;
                if (dx * dx + dy * dy < 700.0 * 700.0) {
                    r = 200 + 30 * wave_y[y];
                    g = 60 + 20 * wave_x[x];
                    b = 40;
                }
                if ((x / 250) % 5 == 1 && y > 2000) {
                    r *= 0.35;
                    g *= 0.35;
                    b *= 0.45;
                }
                auto clamp = [jitter](double v) {
                    const int i = static_cast<int>(v) + jitter;
                    return static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
                };
                const uint8_t cr = clamp(r), cg = clamp(g), cb = clamp(b);
                row[3 * x] = cb;
                row[3 * x + 1] = cg;
                row[3 * x + 2] = cr;
                const size_t i = size_t{static_cast<uint32_t>(y)} * kWidth + x;
                made.rgb[3 * i] = cr;
                made.rgb[3 * i + 1] = cg;
                made.rgb[3 * i + 2] = cb;
                made.rgba[4 * i] = cr;
                made.rgba[4 * i + 1] = cg;
                made.rgba[4 * i + 2] = cb;
                made.rgba[4 * i + 3] = 255;
            }
        }
        return made;
    }();
    return p;
}

// A destination allocated once and touched, so that timing and memory figures
// do not include first-touch page faults.
struct Destination {
    ImageDesc image{};
    Destination(int32_t width, int32_t height, int32_t bits) {
        if (image_alloc(&image, width, height, bits) != IMG_OK) {
            std::abort();
        }
        std::memset(image.pixels, 1, size_t{image.row_bytes} * static_cast<size_t>(height));
    }
    ~Destination() { image_free(&image); }
};

ImageDesc source_view() {
    ImageDesc view{};
    image_copy_desc(&photo().image, &view);
    return view;
}

VipsImage* vips_photo() {
    return vips_image_new_from_memory(photo().rgb.data(), photo().rgb.size(), kWidth, kHeight, 3,
                                      VIPS_FORMAT_UCHAR);
}

// Runs a libvips pipeline to the end into memory.
void vips_run(const std::function<int(VipsImage*, VipsImage**)>& op, benchmark::State& state) {
    VipsImage* in = vips_photo();
    VipsImage* out = nullptr;
    if (op(in, &out) != 0) {
        state.SkipWithError(vips_error_buffer());
        g_object_unref(in);
        return;
    }
    size_t size = 0;
    void* memory = vips_image_write_to_memory(out, &size);
    benchmark::DoNotOptimize(memory);
    state.counters["out_w"] = vips_image_get_width(out);
    state.counters["out_h"] = vips_image_get_height(out);
    g_free(memory);
    g_object_unref(out);
    g_object_unref(in);
}

// --- gray ------------------------------------------------------------------

void BM_ColorToGray(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination gray(kWidth, kHeight, 8);
    for (auto _ : state) {
        if (color_to_gray(&source, &gray.image) != IMG_OK) {
            state.SkipWithError("color_to_gray failed");
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ColorToGray)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_VipsColourspaceBW(benchmark::State& state) {
    for (auto _ : state) {
        vips_run(
            [](VipsImage* in, VipsImage** out) {
                return vips_colourspace(in, out, VIPS_INTERPRETATION_B_W, nullptr);
            },
            state);
    }
    state.SetLabel("threads " + std::to_string(vips_concurrency_get()));
}
BENCHMARK(BM_VipsColourspaceBW)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// --- 256-colour palette ----------------------------------------------------

void BM_RgbToPalette(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination indexed(kWidth, kHeight, 8);
    for (auto _ : state) {
        if (rgb_to_palette(256, &source, &indexed.image, 2) != IMG_OK) {
            state.SkipWithError("rgb_to_palette failed");
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RgbToPalette)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_LibimagequantSpeed10(benchmark::State& state) {
    std::vector<uint8_t> out(size_t{kWidth} * kHeight);
    for (auto _ : state) {
        liq_attr* attr = liq_attr_create();
        liq_set_speed(attr, 10);
        liq_set_max_colors(attr, 256);
        liq_image* image = liq_image_create_rgba(attr, photo().rgba.data(), kWidth, kHeight, 0);
        liq_result* result = nullptr;
        if (liq_image_quantize(image, attr, &result) != LIQ_OK) {
            state.SkipWithError("liq_image_quantize failed");
        } else {
            liq_set_dithering_level(result, 0);
            liq_write_remapped_image(result, image, out.data(), out.size());
            liq_result_destroy(result);
        }
        liq_image_destroy(image);
        liq_attr_destroy(attr);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LibimagequantSpeed10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// --- shrink to 133 x 65 -----------------------------------------------------

void BM_ResizeBox(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination small(kSmallWidth, kSmallHeight, 24);
    for (auto _ : state) {
        if (image_resize(&source, &small.image, 1) != IMG_OK) {
            state.SkipWithError("image_resize failed");
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ResizeBox)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_VipsShrinkSameBoxes(benchmark::State& state) {
    // 30 x 46 boxes: the box sizes image_resize uses for this size.
    for (auto _ : state) {
        vips_run([](VipsImage* in,
                    VipsImage** out) { return vips_shrink(in, out, 30.0, 46.0, nullptr); },
                 state);
    }
    state.SetLabel("threads " + std::to_string(vips_concurrency_get()));
}
BENCHMARK(BM_VipsShrinkSameBoxes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_VipsShrinkExactFactors(benchmark::State& state) {
    for (auto _ : state) {
        vips_run(
            [](VipsImage* in, VipsImage** out) {
                return vips_shrink(in, out, double{kWidth} / kSmallWidth,
                                   double{kHeight} / kSmallHeight, nullptr);
            },
            state);
    }
    state.SetLabel("threads " + std::to_string(vips_concurrency_get()));
}
BENCHMARK(BM_VipsShrinkExactFactors)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// --- peak memory ------------------------------------------------------------

long status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0) {
            return std::stol(line.substr(n + 1));
        }
    }
    return -1;
}

// Peak resident memory added by one call, source and destination being
// resident already; -1 when the kernel does not let the peak be reset.
void measure_peak(benchmark::State& state, const std::function<ImgStatus()>& call) {
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5";  // peak := current
        const long before = status_kib("VmRSS:");
        if (call() != IMG_OK) {
            state.SkipWithError("conversion failed");
        }
        const long peak = status_kib("VmHWM:");
        state.counters["extra_peak_kib"] = before < 0 || peak < 0 ? -1 : peak - before;
    }
    state.counters["source_kib"] =
        static_cast<double>(size_t{photo().image.row_bytes} * kHeight / 1024);
}

void BM_Memory_ColorToGray(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination gray(kWidth, kHeight, 8);
    measure_peak(state, [&] { return color_to_gray(&source, &gray.image); });
}
BENCHMARK(BM_Memory_ColorToGray)->Iterations(1);

void BM_Memory_RgbToPalette(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination indexed(kWidth, kHeight, 8);
    measure_peak(state, [&] { return rgb_to_palette(256, &source, &indexed.image, 2); });
}
BENCHMARK(BM_Memory_RgbToPalette)->Iterations(1);

void BM_Memory_MapToPaletteDiffused(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination four(kWidth, kHeight, 8);
    four.image.color_count = 4;
    measure_peak(state, [&] { return map_to_palette(&source, &four.image, 3); });
}
BENCHMARK(BM_Memory_MapToPaletteDiffused)->Iterations(1);

void BM_Memory_ResizeBox(benchmark::State& state) {
    ImageDesc source = source_view();
    Destination small(kSmallWidth, kSmallHeight, 24);
    measure_peak(state, [&] { return image_resize(&source, &small.image, 1); });
}
BENCHMARK(BM_Memory_ResizeBox)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "cannot start libvips\n");
        return 1;
    }
    vips_cache_set_max(0);  // every iteration computes its result
    photo();                // build the picture before any timing
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    image_free(&photo().image);
    vips_shutdown();
    return 0;
}
