// PNG export of a 4000 x 3000 photograph as a user runs it: the whole process
// `pelora-cli convert PICTURE.bmp OUT.png` beside ImageMagick's `convert
// PICTURE.bmp OUT.png` and libpng with its default compression
// (png_default_peer, this folder), one after the other in each iteration, on
// the same file.
//
// The photograph is ImageMagick's plasma fractal (`convert -seed 1 -size
// 4000x3000 plasma:fractal`), made once per run; its 8-bit gray and
// 256-colour versions are made from it by pelora-cli's ColorToGray and
// RGBToPalette. Counters, per picture:
//   pelora_cpu_s, magick_cpu_s, libpng_cpu_s   processor time of each process
//                                              (user and system)
//   pelora_MB, magick_MB, libpng_MB            the file each wrote
//   cpu_over_magick, cpu_over_libpng           pelora's time over the peer's
//   size_over_magick, size_over_libpng         pelora's file over the peer's
// Targets for the photograph: pelora_cpu_s at most 2, size_over_magick at
// most 1.15. The reported time is pelora's processor time.
//
//   build/bench/png_writer_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The three pictures, written on first use and removed at exit.
class Pictures {
  public:
    Pictures()
        : folder_(fs::temp_directory_path() / ("pelora_png_bench_" + std::to_string(getpid()))) {
        fs::create_directories(folder_);
        ok_ = spawn_cpu({"convert", "-seed", "1", "-size", "4000x3000", "plasma:fractal",
                         path("photo.bmp")}) >= 0 &&
              spawn_cpu({PELORA_CLI, "convert", path("photo.bmp"), path("gray.bmp"),
                         "--color-to-gray"}) >= 0 &&
              spawn_cpu({PELORA_CLI, "convert", path("photo.bmp"), path("palette.bmp"),
                         "--rgb-to-palette"}) >= 0;
    }
    ~Pictures() { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    bool ok() const { return ok_; }

    // Runs a program to its end and returns the processor time it used, or
    // -1 when it could not run or did not exit with status 0.
    static double spawn_cpu(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        pid_t child = 0;
        int status = 0;
        rusage usage{};
        if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
            wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            return -1;
        }
        const timeval& user = usage.ru_utime;
        const timeval& system = usage.ru_stime;
        return double(user.tv_sec + system.tv_sec) + 1e-6 * double(user.tv_usec + system.tv_usec);
    }

  private:
    fs::path folder_;
    bool ok_ = false;
};

const Pictures& pictures() {
    static const Pictures instance;
    return instance;
}

const char* const kPictureNames[] = {"photo.bmp", "gray.bmp", "palette.bmp"};

struct Writer {
    const char* name;
    std::vector<std::string> (*command)(const std::string& in, const std::string& out);
};

const Writer kWriters[] = {
    {"pelora",
     [](const std::string& in, const std::string& out) {
         return std::vector<std::string>{PELORA_CLI, "convert", in, out};
     }},
    {"magick",
     [](const std::string& in, const std::string& out) {
         return std::vector<std::string>{"convert", in, out};
     }},
    {"libpng",
     [](const std::string& in, const std::string& out) {
         return std::vector<std::string>{PNG_DEFAULT_PEER, in, out};
     }},
};

void BM_PngExport(benchmark::State& state) {
    if (!pictures().ok()) {
        state.SkipWithError("the test pictures could not be made (ImageMagick missing?)");
        return;
    }
    const std::string in = pictures().path(kPictureNames[state.range(0)]);
    double cpu[3] = {};
    double megabytes[3] = {};
    for (auto _ : state) {
        for (int w = 0; w < 3; ++w) {
            const std::string out = pictures().path(std::string(kWriters[w].name) + ".png");
            const double seconds = Pictures::spawn_cpu(kWriters[w].command(in, out));
            if (seconds < 0) {
                state.SkipWithError((std::string(kWriters[w].name) + " failed").c_str());
                return;
            }
            cpu[w] += seconds;
            megabytes[w] = double(fs::file_size(out)) / 1e6;
            if (w == 0) {
                state.SetIterationTime(seconds);
            }
        }
    }
    const double n = double(state.iterations());
    for (int w = 0; w < 3; ++w) {
        state.counters[std::string(kWriters[w].name) + "_cpu_s"] = cpu[w] / n;
        state.counters[std::string(kWriters[w].name) + "_MB"] = megabytes[w];
    }
    state.counters["cpu_over_magick"] = cpu[0] / cpu[1];
    state.counters["cpu_over_libpng"] = cpu[0] / cpu[2];
    state.counters["size_over_magick"] = megabytes[0] / megabytes[1];
    state.counters["size_over_libpng"] = megabytes[0] / megabytes[2];
    state.SetLabel(kPictureNames[state.range(0)]);
}
BENCHMARK(BM_PngExport)->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
