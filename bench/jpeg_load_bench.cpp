// Loading 4000 x 3000 JPEG photos (quality 90) beside libjpeg-turbo and
// stb_image on the same file in the same run, all three producing RGB. The
// pictures are encoded at start-up with libjpeg-turbo from a synthetic
// photo-like picture (smooth shading, edges, texture and sensor-like noise):
// baseline 4:2:0, baseline 4:4:4 and progressive 4:2:0. Each iteration runs
// the three decoders once; the counters give their mean CPU times and the ratios
// over_turbo (target: at most 1.5 for baseline, 2 for progressive) and
// over_stb.
//
//   build/bench/jpeg_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include "imaging/image.h"
#include "imaging/readers/jpeg/jpeg.h"

using namespace imaging;

namespace {

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

// A photo-like RGB picture: large smooth shapes with soft edges, a textured
// region and noise of a few levels.
std::vector<uint8_t> photo() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double fx = x / double(kWidth), fy = y / double(kHeight);
            double r = 120 + 90 * std::sin(3.1 * fx + 1.3 * fy);
            double g = 110 + 80 * std::cos(2.3 * fy - 1.7 * fx);
            double b = 100 + 70 * std::sin(5.0 * fx * fy + 0.5);
            const double dx = fx - 0.6, dy = fy - 0.45;
            if (dx * dx + dy * dy < 0.04) {  // a disc with a hard edge
                r = r * 0.4 + 140;
                g *= 0.6;
            }
            if (fy > 0.55) {  // texture, like foliage or fabric
                const double t =
                    22 * std::sin(x * 0.31) * std::cos(y * 0.27) + 12 * std::sin(x * 1.7 + y * 0.9);
                r += t;
                g += t * 1.3;
                b += t * 0.6;
            }
            seed = seed * 1664525 + 1013904223;
            const double noise = double((seed >> 24) % 13) - 6;
            const double tint = double((seed >> 12) % 5) - 2;
            const double v[3] = {r + noise + tint, g + noise, b + noise - tint};
            for (int c = 0; c < 3; ++c) {
                rgb[(size_t{y} * kWidth + x) * 3 + c] =
                    static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v[c]))));
            }
        }
    }
    return rgb;
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& rgb, int h, int v, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = v;
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + size_t{cinfo.next_scanline} * kWidth * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// The three test files, written once into the temporary folder.
class PictureFiles {
  public:
    PictureFiles() {
        const std::vector<uint8_t> rgb = photo();
        const std::string stem = (std::filesystem::temp_directory_path() /
                                  ("pelora_jpeg_bench_" + std::to_string(::getpid())))
                                     .string();
        const struct {
            int h, v;
            bool progressive;
        } kinds[3] = {{2, 2, false}, {1, 1, false}, {2, 2, true}};
        for (int i = 0; i < 3; ++i) {
            paths_[i] = stem + "_" + std::to_string(i) + ".jpg";
            const std::vector<uint8_t> bytes =
                encode(rgb, kinds[i].h, kinds[i].v, kinds[i].progressive);
            std::ofstream(paths_[i], std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            sizes_[i] = bytes.size();
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

// libjpeg-turbo with its defaults (SIMD, fancy upsampling) to RGB.
bool turbo_load(const char* path, std::vector<uint8_t>& rgb) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    rgb.resize(size_t{cinfo.output_width} * cinfo.output_height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb.data() + size_t{cinfo.output_scanline} * cinfo.output_width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}

// The thread's CPU time: on a shared machine, wall time mostly measures the
// other processes.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
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
    double ours = 0, turbo = 0, stb = 0;
    for (auto _ : state) {
        double start = cpu_seconds();
        if (jpeg_load(path, &image) != IMG_OK) {
            state.SkipWithError("jpeg_load failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        const double load = cpu_seconds() - start;
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
