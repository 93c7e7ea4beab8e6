// Loading 4000 x 3000 true-colour PCX and TGA files beside their peers, in one
// run on the same files (in the page cache after the first pass):
//
//   BM_TgaLoad24Rle    tga_load of a 24-bit run-length TGA beside stb_image's
//                      stbi_load of the same file; counter load_over_stb
//                      (target: at most 1)
//   BM_PcxLoad24       pcx_load of a 24-bit (three plane) PCX beside reading
//                      the file and copying it once; counter load_over_floor
//                      (target: at most 1.5)
//   BM_TgaConvertProcess  the whole process `pelora-cli convert FILE OUT.ppm`
//                      beside `stb_to_ppm FILE OUT.ppm` (stb_image decoding
//                      and the same PPM written); counters cli_over_stb (wall
//                      time, target: at most 1) and cli_cpu_over_stb_cpu
//
// The picture is photograph-like: smooth gradients with mild noise, so that
// both run-length codings meet short runs and literal stretches. The files
// are written at start-up: the TGA by stb_image_write (run-length, bottom-up),
// the PCX by hand.
//
//   build/bench/pcx_tga_load_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/pcx_picture.h"
#include "bench/read_and_copy.h"
#include "imaging/image.h"
#include "imaging/readers/pcx.h"
#include "imaging/readers/tga.h"

extern char** environ;

using namespace imaging;

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() /
            ("pelora_bench_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

// Red, green, blue, top row first.
std::vector<uint8_t> make_picture() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int jitter = (noise >> 16) % 3 == 0 ? int(noise >> 28) - 8 : 0;
            uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            p[0] = uint8_t(std::clamp(x * 255 / kWidth + jitter, 0, 255));
            p[1] = uint8_t(std::clamp(y * 255 / kHeight + jitter, 0, 255));
            p[2] = uint8_t(std::clamp(((x + y) / 64 % 2) * 160 + 40 + jitter, 0, 255));
        }
    }
    return rgb;
}

// The two test files, written once.
struct Files {
    std::string tga = temp_path("rle24.tga");
    std::string pcx = temp_path("rgb24.pcx");
    std::string ppm = temp_path("out.ppm");
    size_t pcx_size = 0;
    Files() {
        const std::vector<uint8_t> rgb = make_picture();
        stbi_write_tga_with_rle = 1;
        stbi_write_tga(tga.c_str(), kWidth, kHeight, 3, rgb.data());
        const std::vector<uint8_t> bytes = pcx_bench::file_bytes(rgb, kWidth, kHeight);
        std::ofstream(pcx, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        pcx_size = bytes.size();
    }
    ~Files() {
        for (const std::string& path : {tga, pcx, ppm}) {
            std::remove(path.c_str());
        }
    }
};

const Files& files() {
    static const Files f;
    return f;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The processor time this thread has used (user and system), in seconds.
double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Times `ours` and `peer` alternately; the reported time is ours, the counter
// `ratio_name` ours over the peer's (wall time). The counters ours_cpu_ms,
// peer_cpu_ms and cpu_ratio give this thread's processor time beside them,
// which a loaded machine disturbs less.
template <typename Ours, typename Peer>
void compare(benchmark::State& state, const char* ratio_name, Ours ours, Peer peer) {
    files();  // written before the first timing
    double our_seconds = 0;
    double peer_seconds = 0;
    double our_cpu = 0;
    double peer_cpu = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu_start = thread_cpu_seconds();
        if (!ours()) {
            state.SkipWithError("our side failed");
            return;
        }
        const double mine = seconds_since(start);
        our_cpu += thread_cpu_seconds() - cpu_start;
        start = std::chrono::steady_clock::now();
        cpu_start = thread_cpu_seconds();
        if (!peer()) {
            state.SkipWithError("the peer failed");
            return;
        }
        peer_seconds += seconds_since(start);
        peer_cpu += thread_cpu_seconds() - cpu_start;
        our_seconds += mine;
        state.SetIterationTime(mine);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = 1000 * our_seconds / n;
    state.counters["peer_ms"] = 1000 * peer_seconds / n;
    state.counters[ratio_name] = our_seconds / peer_seconds;
    state.counters["ours_cpu_ms"] = 1000 * our_cpu / n;
    state.counters["peer_cpu_ms"] = 1000 * peer_cpu / n;
    state.counters["cpu_ratio"] = our_cpu / peer_cpu;
}

void BM_TgaLoad24Rle(benchmark::State& state) {
    ImageDesc image{};
    image_alloc(&image, kWidth, kHeight, 24);
    compare(
        state, "load_over_stb",
        [&] {
            const bool ok = tga_load(files().tga.c_str(), &image) == IMG_OK;
            benchmark::DoNotOptimize(image.pixels);
            return ok;
        },
        [&] {
            int w = 0, h = 0, n = 0;
            stbi_uc* pixels = stbi_load(files().tga.c_str(), &w, &h, &n, 3);
            benchmark::DoNotOptimize(pixels);
            stbi_image_free(pixels);
            return pixels != nullptr;
        });
    image_free(&image);
}
BENCHMARK(BM_TgaLoad24Rle)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PcxLoad24(benchmark::State& state) {
    ImageDesc image{};
    image_alloc(&image, kWidth, kHeight, 24);
    std::vector<uint8_t> file_bytes(files().pcx_size);
    std::vector<uint8_t> copy(files().pcx_size);
    compare(
        state, "load_over_floor",
        [&] {
            const bool ok = pcx_load(files().pcx.c_str(), &image) == IMG_OK;
            benchmark::DoNotOptimize(image.pixels);
            return ok;
        },
        [&] {
            // The floor: read the whole file into memory, then copy it once.
            const size_t done = read_and_copy(files().pcx.c_str(), file_bytes, copy);
            return done == file_bytes.size();
        });
    image_free(&image);
}
BENCHMARK(BM_PcxLoad24)->UseManualTime()->Unit(benchmark::kMillisecond);

// Runs a program to its end; true when it exits with status 0. Adds the
// processor time it used (user and system) to *cpu_seconds.
bool run(const std::vector<std::string>& args, double* cpu_seconds) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return false;
    }
    *cpu_seconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Both processes write the PPM and flush it to the disk, so their wall times
// include the disk's; the processor times beside them do not.
void BM_TgaConvertProcess(benchmark::State& state) {
    double cli_cpu = 0;
    double stb_cpu = 0;
    compare(
        state, "cli_over_stb",
        [&] {
            return run({PELORA_CLI, "convert", files().tga, files().ppm}, &cli_cpu);
        },
        [&] {
            return run({STB_TO_PPM, files().tga, files().ppm}, &stb_cpu);
        });
    state.counters["cli_cpu_over_stb_cpu"] = cli_cpu / stb_cpu;
}
BENCHMARK(BM_TgaConvertProcess)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
