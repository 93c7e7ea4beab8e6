// Loading a 24-bit 4000 x 3000 BMP file (36 MB) beside the physical floor:
// reading the same file into memory and copying it once. Both run in the same
// process on the same file (in the page cache after the first pass); the
// counter load_over_floor is the ratio of the two times (target: at most 1.5).
//
//   build/bench/bmp_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bmp_picture_file.h"
#include "bench/read_and_copy.h"
#include "imaging/image.h"
#include "imaging/readers/bmp.h"

using namespace imaging;

namespace {

constexpr int32_t kWidth = BmpPictureFile::kWidth;
constexpr int32_t kHeight = BmpPictureFile::kHeight;

const BmpPictureFile& picture() {
    return bmp_picture();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration loads the file with bmp_load and then runs the floor; the
// reported time is the load's, the counters give both means and their ratio.
void BM_BmpLoad24(benchmark::State& state) {
    ImageDesc image{};
    if (image_alloc(&image, kWidth, kHeight, 24) != IMG_OK) {
        state.SkipWithError("cannot allocate the image");
        return;
    }
    std::vector<uint8_t> file_bytes(picture().size());
    std::vector<uint8_t> copy(picture().size());
    double load_seconds = 0;
    double floor_seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (bmp_load(picture().path(), &image) != IMG_OK) {
            state.SkipWithError("bmp_load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        benchmark::ClobberMemory();
        const double load = seconds_since(start);
        start = std::chrono::steady_clock::now();
        read_and_copy(picture().path(), file_bytes, copy);
        floor_seconds += seconds_since(start);
        load_seconds += load;
        state.SetIterationTime(load);
    }
    const double n = double(state.iterations());
    state.counters["load_ms"] = 1000 * load_seconds / n;
    state.counters["floor_ms"] = 1000 * floor_seconds / n;
    state.counters["load_over_floor"] = load_seconds / floor_seconds;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(picture().size()));
    image_free(&image);
}
BENCHMARK(BM_BmpLoad24)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
