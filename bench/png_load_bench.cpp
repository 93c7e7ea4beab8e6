// Loading a 4000 x 3000 PNG beside libpng and libspng decoding the same file,
// all three in the same process and in the same iterations, the file in the
// page cache. The files are written at start with libpng (zlib level 6,
// adaptive filters): truecolour, 8-bit gray, and truecolour Adam7-interlaced.
// The counters give each decoder's mean time and the ratios ours / libpng
// (target for truecolour: at most 1.0) and ours / libspng. libpng and libspng
// decode to RGB (gray files to 8-bit gray); ours to the 24 or 8-bit
// descriptor.
//
//   build/bench/png_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#include <unistd.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "imaging/readers/png/png.h"

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

enum class Kind { kRgb, kGray, kRgbInterlaced };

// A picture with smooth gradients, edges and some noise, so that the adaptive
// filter choice varies along the rows as it does for photographs.
uint8_t sample(uint32_t x, uint32_t y, uint32_t c) {
    uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (c * 83492791u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const uint32_t noise = h & 7;
    const uint32_t band = ((x / 200 + y / 150) & 1) * 40;
    const uint32_t base = c == 0 ? x * 255 / kWidth : c == 1 ? y * 255 / kHeight : (x + y) / 28;
    return uint8_t(base + band + noise);
}

// Writes the picture with libpng; returns false on failure.
bool write_png(const std::string& path, Kind kind) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const uint32_t channels = kind == Kind::kGray ? 1 : 3;
    std::vector<uint8_t> row(size_t{kWidth} * channels);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, 8,
                 kind == Kind::kGray ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 kind == Kind::kRgbInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                for (uint32_t c = 0; c < channels; ++c) {
                    row[x * channels + c] = sample(x, y, c);
                }
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

class PictureFile {
  public:
    explicit PictureFile(Kind kind) {
        static const char* const names[] = {"rgb", "gray", "interlaced"};
        path_ = (std::filesystem::temp_directory_path() /
                 ("pelora_png_bench_" + std::to_string(::getpid()) + "_" +
                  names[static_cast<int>(kind)] + ".png"))
                    .string();
        ok_ = write_png(path_, kind);
    }
    ~PictureFile() { std::remove(path_.c_str()); }

    const char* path() const { return path_.c_str(); }
    bool ok() const { return ok_; }

  private:
    std::string path_;
    bool ok_ = false;
};

const PictureFile& picture(Kind kind) {
    static const PictureFile rgb(Kind::kRgb);
    static const PictureFile gray(Kind::kGray);
    static const PictureFile interlaced(Kind::kRgbInterlaced);
    return kind == Kind::kRgb ? rgb : kind == Kind::kGray ? gray : interlaced;
}

// libpng's usual road to RGB (gray stays gray): rows into one buffer.
bool libpng_decode(const char* path, std::vector<uint8_t>& pixels) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(kHeight);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_palette_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    for (uint32_t y = 0; y < kHeight; ++y) {
        rows[y] = pixels.data() + y * row_bytes;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

bool spng_decode(const char* path, std::vector<uint8_t>& pixels, bool gray) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_file(ctx, file);
    const int format = gray ? SPNG_FMT_PNG : SPNG_FMT_RGB8;
    size_t size = 0;
    bool ok = spng_decoded_image_size(ctx, format, &size) == 0 && size <= pixels.size() &&
              spng_decode_image(ctx, pixels.data(), size, format, 0) == 0;
    spng_ctx_free(ctx);
    std::fclose(file);
    return ok;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration decodes the file with png_load, libpng and libspng; the
// reported time is png_load's.
void load_beside_peers(benchmark::State& state, Kind kind) {
    const PictureFile& file = picture(kind);
    const bool gray = kind == Kind::kGray;
    imaging::ImageDesc image{};
    if (!file.ok() ||
        imaging::image_alloc(&image, kWidth, kHeight, gray ? 8 : 24) != imaging::IMG_OK) {
        state.SkipWithError("cannot write the picture or allocate the image");
        return;
    }
    std::vector<uint8_t> pixels(size_t{kWidth} * kHeight * 3);
    double ours = 0, libpng = 0, spng = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        const bool loaded = imaging::png_load(file.path(), &image) == imaging::IMG_OK;
        benchmark::DoNotOptimize(image.pixels);
        benchmark::ClobberMemory();
        const double load = seconds_since(start);
        start = std::chrono::steady_clock::now();
        const bool peer = libpng_decode(file.path(), pixels);
        benchmark::ClobberMemory();
        libpng += seconds_since(start);
        start = std::chrono::steady_clock::now();
        const bool second_peer = spng_decode(file.path(), pixels, gray);
        benchmark::ClobberMemory();
        spng += seconds_since(start);
        if (!loaded || !peer || !second_peer) {
            state.SkipWithError("a decoder failed");
            break;
        }
        ours += load;
        state.SetIterationTime(load);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = 1000 * ours / n;
    state.counters["libpng_ms"] = 1000 * libpng / n;
    state.counters["spng_ms"] = 1000 * spng / n;
    state.counters["ours_over_libpng"] = ours / libpng;
    state.counters["ours_over_spng"] = ours / spng;
    imaging::image_free(&image);
}

void BM_PngLoadRgb(benchmark::State& state) {
    load_beside_peers(state, Kind::kRgb);
}
void BM_PngLoadGray(benchmark::State& state) {
    load_beside_peers(state, Kind::kGray);
}
void BM_PngLoadRgbInterlaced(benchmark::State& state) {
    load_beside_peers(state, Kind::kRgbInterlaced);
}
BENCHMARK(BM_PngLoadRgb)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLoadGray)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLoadRgbInterlaced)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
