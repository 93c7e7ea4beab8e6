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

#include "imaging/image.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"
#include "picture_writer.h"

using namespace imaging;

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

std::string temp_path(const char* suffix) {
    return (std::filesystem::temp_directory_path() /
            ("pelora_writer_bench_" + std::to_string(::getpid()) + suffix))
        .string();
}

// The test picture, written once into the temporary folder.
class PictureFile {
  public:
    PictureFile() : path_(temp_path(".bmp")) {
        const uint32_t data_bytes = kWidth * 3 * kHeight;  // rows need no padding
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
    }
    ~PictureFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

const PictureFile& picture() {
    static const PictureFile file;
    return file;
}

const ReaderEntry& bmp_reader() {
    for (const ReaderEntry& reader : raster_readers()) {
        if (reader.format == PictureFormat::Bmp) {
            return reader;
        }
    }
    std::abort();
}

void PeloraBmpToPpm(benchmark::State& state) {
    const std::string out = temp_path(".ppm");
    for (auto _ : state) {
        ImageDesc image{};
        const PictureOpen opened = picture_open(bmp_reader(), picture().path().c_str(), &image);
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
        unsigned char* pixels = stbi_load(picture().path().c_str(), &width, &height, &channels, 3);
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
