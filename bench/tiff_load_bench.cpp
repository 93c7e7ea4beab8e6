// Loading 4000 x 3000 TIFF files beside their peers, each pair on the same file
// in the same run (in the page cache after the first pass):
//
//   RgbLzwPredictor  RGB, LZW with Predictor 2, 16 rows per strip, beside
//                    libtiff's TIFFReadEncodedStrip of every strip into memory
//                    (target: at most 1.0)
//   BilevelT6        a dithered photo as one T.6 (Group 4) strip, beside the
//                    same libtiff reading (target: at most 1.0)
//   RgbRaw           uncompressed RGB, beside reading the file into memory and
//                    copying it once (target: at most 1.5)
//
// The pictures are written with libtiff when the bench starts. The counter
// load_over_peer is the ratio of the two mean times.
//
//   build/bench/tiff_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/read_and_copy.h"
#include "bench/tiff_bench_file.h"
#include "imaging/image.h"
#include "imaging/readers/tiff/tiff.h"

using namespace imaging;

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

// A photo-like picture: smooth gradients, a few soft shapes and some noise.
std::vector<uint8_t> photo() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245 + 12345;
            const double fx = x / double(kWidth), fy = y / double(kHeight);
            const double d = std::hypot(fx - 0.6, fy - 0.4);
            const double shade = 0.5 + 0.5 * std::sin(18 * d) * std::exp(-3 * d);
            const int n = int((noise >> 16) & 7) - 4;
            uint8_t* p = &rgb[(size_t{y} * kWidth + x) * 3];
            p[0] = uint8_t(std::clamp(int(255 * shade * (0.3 + 0.7 * fx)) + n, 0, 255));
            p[1] = uint8_t(std::clamp(int(255 * shade * (1 - 0.5 * fy)) + n, 0, 255));
            p[2] = uint8_t(std::clamp(int(200 * (1 - shade) + 40 * fy) + n, 0, 255));
        }
    }
    return rgb;
}

// The photo in gray, Floyd-Steinberg dithered to 1 bit per pixel (min-is-white
// rows: 1 bits are black).
std::vector<uint8_t> dithered(const std::vector<uint8_t>& rgb) {
    std::vector<int> gray(size_t{kWidth} * kHeight);
    for (size_t i = 0; i < gray.size(); ++i) {
        gray[i] = (rgb[3 * i] * 77 + rgb[3 * i + 1] * 151 + rgb[3 * i + 2] * 28) >> 8;
    }
    const uint32_t row_bytes = (kWidth + 7) / 8;
    std::vector<uint8_t> bits(size_t{row_bytes} * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            int& g = gray[size_t{y} * kWidth + x];
            const int out = g < 128 ? 0 : 255;
            const int error = g - out;
            if (out == 0) {
                bits[size_t{y} * row_bytes + x / 8] |= uint8_t(0x80 >> (x % 8));
            }
            auto spread = [&](uint32_t xx, uint32_t yy, int weight) {
                if (xx < kWidth && yy < kHeight) {
                    gray[size_t{yy} * kWidth + xx] += error * weight / 16;
                }
            };
            spread(x + 1, y, 7);
            spread(x - 1, y + 1, 3);
            spread(x, y + 1, 5);
            spread(x + 1, y + 1, 1);
        }
    }
    return bits;
}

using Kind = tiff_bench::Kind;

class PictureFile {
  public:
    PictureFile(Kind kind, const std::vector<uint8_t>& rgb, const std::vector<uint8_t>& bits) {
        path_ = (std::filesystem::temp_directory_path() /
                 ("pelora_tiff_bench_" + std::to_string(::getpid()) + "_" +
                  std::to_string(int(kind)) + ".tif"))
                    .string();
        const bool bilevel = kind == Kind::kBilevelT6;
        tiff_bench::write_file(path_, kind, bilevel ? bits : rgb, kWidth, kHeight);
        size_ = std::filesystem::file_size(path_);
        bits_ = bilevel ? 1 : 24;
    }
    ~PictureFile() { std::remove(path_.c_str()); }

    const char* path() const { return path_.c_str(); }
    size_t size() const { return size_; }
    int32_t bits() const { return bits_; }

  private:
    std::string path_;
    size_t size_ = 0;
    int32_t bits_ = 24;
};

const PictureFile& picture(Kind kind) {
    static const std::vector<uint8_t> rgb = photo();
    static const std::vector<uint8_t> bits = dithered(rgb);
    static const PictureFile files[] = {PictureFile(Kind::kRgbLzwPredictor, rgb, bits),
                                        PictureFile(Kind::kBilevelT6, rgb, bits),
                                        PictureFile(Kind::kRgbRaw, rgb, bits)};
    return files[int(kind)];
}

// libtiff: every strip decoded into one buffer.
bool libtiff_read(const char* path, std::vector<uint8_t>& out) {
    TIFF* tif = TIFFOpen(path, "r");
    if (tif == nullptr) {
        return false;
    }
    const tmsize_t strip_size = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    out.resize(size_t(strip_size) * strips);
    bool ok = true;
    for (uint32_t s = 0; s < strips && ok; ++s) {
        ok = TIFFReadEncodedStrip(tif, s, out.data() + size_t(s) * size_t(strip_size), strip_size) >
             0;
    }
    TIFFClose(tif);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    return ok;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration loads the file with tiff_load and then runs the peer; the
// reported time is the load's.
void run(benchmark::State& state, Kind kind) {
    const PictureFile& file = picture(kind);
    ImageDesc image{};
    if (image_alloc(&image, kWidth, kHeight, file.bits()) != IMG_OK) {
        state.SkipWithError("cannot allocate the image");
        return;
    }
    std::vector<uint8_t> buffer, copy;
    double load_seconds = 0;
    double peer_seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (tiff_load(file.path(), &image) != IMG_OK) {
            state.SkipWithError("tiff_load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        benchmark::ClobberMemory();
        const double load = seconds_since(start);
        start = std::chrono::steady_clock::now();
        if (kind == Kind::kRgbRaw) {
            buffer.resize(file.size());
            copy.resize(file.size());
            read_and_copy(file.path(), buffer, copy);
        } else if (!libtiff_read(file.path(), buffer)) {
            state.SkipWithError("libtiff failed");
            break;
        }
        peer_seconds += seconds_since(start);
        load_seconds += load;
        state.SetIterationTime(load);
    }
    const double n = double(state.iterations());
    state.counters["load_ms"] = 1000 * load_seconds / n;
    state.counters["peer_ms"] = 1000 * peer_seconds / n;
    state.counters["load_over_peer"] = load_seconds / peer_seconds;
    state.counters["file_MB"] = double(file.size()) / 1e6;
    image_free(&image);
}

void BM_RgbLzwPredictor(benchmark::State& state) {
    run(state, Kind::kRgbLzwPredictor);
}
void BM_BilevelT6(benchmark::State& state) {
    run(state, Kind::kBilevelT6);
}
void BM_RgbRaw(benchmark::State& state) {
    run(state, Kind::kRgbRaw);
}
BENCHMARK(BM_RgbLzwPredictor)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BilevelT6)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RgbRaw)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
