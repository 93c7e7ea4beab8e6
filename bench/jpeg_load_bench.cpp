// Loading 4000 x 3000 JPEG photos (quality 90) beside libjpeg-turbo and
// stb_image on the same file in the same run, all three producing RGB. The
// pictures (jpeg_bench.h) are encoded at start-up: baseline 4:2:0,
// baseline 4:4:4 and progressive 4:2:0. Each iteration runs
// the three decoders once; the counters give their mean CPU times and the ratios
// over_turbo (target: at most 1.0) and over_stb. Processor time is the whole
// process's, helper threads included; wall_ms is the reader's own wall time.
//
//   build/bench/jpeg_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include "bench/jpeg_bench.h"
#include "imaging/image.h"
#include "imaging/readers/jpeg/jpeg.h"

using namespace imaging;

namespace {

using jpeg_bench::kHeight;
using jpeg_bench::kWidth;

// The three test files, written once into the temporary folder.
class PictureFiles {
  public:
    PictureFiles() {
        const std::string stem = (std::filesystem::temp_directory_path() /
                                  ("pelora_jpeg_bench_" + std::to_string(::getpid()) + "_"))
                                     .string();
        if (!jpeg_bench::write_pictures(stem, paths_, sizes_)) {
            std::fprintf(stderr, "cannot write the test pictures\n");
            std::exit(1);
        }
    }
    ~PictureFiles() {
        for (const std::string& path : paths_) {
            std::remove(path.c_str());
        }
    }
    const char* path(int i) const { return paths_[i].c_str(); }
    size_t size(int i) const { return sizes_[i]; }

  private:
    std::string paths_[3];
    size_t sizes_[3] = {};
};

const PictureFiles& files() {
    static const PictureFiles f;
    return f;
}

// libjpeg-turbo's decoding of the file, as the peer program does it.
bool turbo_load(const char* path, std::vector<uint8_t>& rgb) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    uint32_t width = 0, height = 0;
    const bool ok = jpeg_bench::peer_decode(file, &rgb, &width, &height);
    std::fclose(file);
    return ok;
}

// The process's processor time (the reader's helper threads included): on a
// shared machine, wall time mostly measures the other processes.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double wall_seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void BM_JpegLoad(benchmark::State& state) {
    const int which = int(state.range(0));
    const char* path = files().path(which);
    ImageDesc image{};
    if (image_alloc(&image, kWidth, kHeight, 24) != IMG_OK) {
        state.SkipWithError("cannot allocate the image");
        return;
    }
    std::vector<uint8_t> rgb;
    double ours = 0, turbo = 0, stb = 0, wall = 0;
    for (auto _ : state) {
        double start = cpu_seconds();
        const double wall_start = wall_seconds();
        if (jpeg_load(path, &image) != IMG_OK) {
            state.SkipWithError("jpeg_load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        const double load = cpu_seconds() - start;
        wall += wall_seconds() - wall_start;
        start = cpu_seconds();
        turbo_load(path, rgb);
        benchmark::DoNotOptimize(rgb.data());
        turbo += cpu_seconds() - start;
        start = cpu_seconds();
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(path, &w, &h, &n, 3);
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
        stb += cpu_seconds() - start;
        ours += load;
        state.SetIterationTime(load);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = 1000 * ours / n;
    state.counters["wall_ms"] = 1000 * wall / n;
    state.counters["turbo_ms"] = 1000 * turbo / n;
    state.counters["stb_ms"] = 1000 * stb / n;
    state.counters["over_turbo"] = ours / turbo;
    state.counters["over_stb"] = ours / stb;
    state.counters["file_kB"] = double(files().size(which)) / 1000;
    image_free(&image);
}
// 0: baseline 4:2:0, 1: baseline 4:4:4, 2: progressive 4:2:0.
BENCHMARK(BM_JpegLoad)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgNames({"kind"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
