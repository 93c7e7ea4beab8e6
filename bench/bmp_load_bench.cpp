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

#include "imaging/image.h"
#include "imaging/readers/bmp.h"
#include "read_and_copy.h"

using namespace imaging;

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

// The test picture, written once into the temporary folder.
class PictureFile {
  public:
    PictureFile() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("pelora_bmp_bench_" + std::to_string(::getpid()) + ".bmp"))
                    .string();
        const uint32_t row_bytes = kWidth * 3;  // a multiple of 4 already
        const uint32_t data_bytes = row_bytes * kHeight;
        std::vector<uint8_t> bytes(54 + size_t{data_bytes});
        auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
        bytes[0] = 'B';
        bytes[1] = 'M';
        put32(2, uint32_t(bytes.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, kWidth);
        put32(22, kHeight);
        bytes[26] = 1;
        bytes[28] = 24;
        put32(34, data_bytes);
        for (size_t i = 54; i < bytes.size(); ++i) {
            bytes[i] = uint8_t(i * 2654435761u >> 13);
        }
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        size_ = bytes.size();
    }
    ~PictureFile() { std::remove(path_.c_str()); }

    const char* path() const { return path_.c_str(); }
    size_t size() const { return size_; }

  private:
    std::string path_;
    size_t size_ = 0;
};

const PictureFile& picture() {
    static const PictureFile file;
    return file;
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
