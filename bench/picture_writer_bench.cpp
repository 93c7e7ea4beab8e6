// pelora-cli's conversion of a 24-bit 4000 x 3000 BMP (36 MB) to PPM beside
// stb_image decoding the same file and writing the same PPM. Both run in the
// same process on the same file, timed by process CPU time (target: pelora's
// time at most stb's). The peak memory of the two, measured
// with /usr/bin/time -v, compares pelora-cli with stb_to_ppm (this folder).
//
//   build/bench/picture_writer_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <stb_image.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bmp_picture_file.h"
#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"
#include "viewer/core/picture_writer.h"

using namespace imaging;
using namespace viewer;

namespace {

std::string temp_path(const char* suffix) {
    return (std::filesystem::temp_directory_path() /
            ("pelora_writer_bench_" + std::to_string(::getpid()) + suffix))
        .string();
}

const ReaderEntry& bmp_reader() {
    for (const ReaderEntry& reader : raster_readers()) {
        if (std::string(reader.extension) == ".bmp") {
            return reader;
        }
    }
    std::abort();
}

void PeloraBmpToPpm(benchmark::State& state) {
    const std::string out = temp_path(".ppm");
    for (auto _ : state) {
        ImageDesc image{};
        const PictureOpen opened = picture_open(bmp_reader(), bmp_picture().path(), &image);
        if (opened.status != IMG_OK || !export_picture(image, out, ExportFormat::Ppm).empty()) {
            state.SkipWithError("conversion failed");
        }
        image_free(&image);
    }
    std::remove(out.c_str());
}

void StbBmpToPpm(benchmark::State& state) {
    const std::string out = temp_path(".stb.ppm");
    for (auto _ : state) {
        int width = 0;
        int height = 0;
        int channels = 0;
        unsigned char* pixels = stbi_load(bmp_picture().path(), &width, &height, &channels, 3);
        std::FILE* file = std::fopen(out.c_str(), "wb");
        if (pixels == nullptr || file == nullptr) {
            state.SkipWithError("stb conversion failed");
        } else {
            std::fprintf(file, "P6\n%d %d\n255\n", width, height);
            std::fwrite(pixels, 3, size_t(width) * size_t(height), file);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
        stbi_image_free(pixels);
    }
    std::remove(out.c_str());
}

}  // namespace

BENCHMARK(PeloraBmpToPpm)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(StbBmpToPpm)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
