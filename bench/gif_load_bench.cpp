// Loading an 8-bit, 256-colour 4000 x 3000 GIF file beside giflib's DGifSlurp
// on the same file in the same process (target: gif_load at most 0.8 x
// DGifSlurp). The file is written with giflib's encoder at start-up (see
// gif_bench_picture.h) and read from the page cache after the first pass; the
// counter load_over_giflib is the ratio of the two mean times.
//
//   build/bench/gif_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/gif_bench_picture.h"
#include "imaging/image.h"
#include "imaging/readers/gif.h"

using namespace imaging;

namespace {

class PictureFile {
  public:
    PictureFile()
        : path_((std::filesystem::temp_directory_path() /
                 ("pelora_gif_bench_" + std::to_string(::getpid()) + ".gif"))
                    .string()),
          ok_(gif_bench::write_picture(path_.c_str())) {}
    ~PictureFile() { std::remove(path_.c_str()); }

    const char* path() const { return path_.c_str(); }
    bool ok() const { return ok_; }

  private:
    std::string path_;
    bool ok_;
};

const PictureFile& picture() {
    static const PictureFile file;
    return file;
}

bool giflib_slurp(const char* path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path, &error);
    if (gif == nullptr) {
        return false;
    }
    const bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1;
    benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
    benchmark::ClobberMemory();
    DGifCloseFile(gif, &error);
    return ok;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration loads the file with gif_load (into an image allocated once,
// as the viewer's document does before it loads) and then with DGifSlurp; the
// reported time is gif_load's.
void BM_GifLoad8(benchmark::State& state) {
    ImageDesc image{};
    if (!picture().ok() ||
        image_alloc(&image, gif_bench::kWidth, gif_bench::kHeight, 8) != IMG_OK) {
        state.SkipWithError("cannot write the picture or allocate the image");
        return;
    }
    double load_seconds = 0;
    double giflib_seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (gif_load(picture().path(), &image) != IMG_OK) {
            state.SkipWithError("gif_load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        benchmark::ClobberMemory();
        const double load = seconds_since(start);
        start = std::chrono::steady_clock::now();
        if (!giflib_slurp(picture().path())) {
            state.SkipWithError("DGifSlurp failed");
            break;
        }
        giflib_seconds += seconds_since(start);
        load_seconds += load;
        state.SetIterationTime(load);
    }
    const double n = double(state.iterations());
    state.counters["load_ms"] = 1000 * load_seconds / n;
    state.counters["giflib_ms"] = 1000 * giflib_seconds / n;
    state.counters["load_over_giflib"] = load_seconds / giflib_seconds;
    image_free(&image);
}
BENCHMARK(BM_GifLoad8)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
