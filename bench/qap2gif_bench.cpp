// Qap2Gif's conversion beside giflib's encoder, on the same pixels, in one run.
//
//   Qap2GifConvert/N  read an N x N phone-image document from a file, check it
//                     and write the GIF file: what the program does
//   Qap2GifEncode/N   only build and write the GIF file from the read record
//   GiflibEncode/N    giflib (EGifOpen ... EGifPutLine) writing the same pixels
//                     with the same four-entry colour table to the same kind of file
//
// Convert runs at three sizes so that its time per pixel shows it is linear.
// Each case also reports peak_MiB: how far the resident memory of a forked
// child rises while it runs the case once.

#include <gif_lib.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "phoneimage/phone_image.h"
#include "qap2gif/gif_writer.h"

namespace {

namespace fs = std::filesystem;
using phoneimage::phone_image_load;
using phoneimage::PhoneImage;

fs::path scratch_dir() {
    static const fs::path dir = [] {
        fs::path path = fs::temp_directory_path() / ("qap2gif-bench-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

// A picture as a photo looks after reduction to four grays: a smooth shading
// with ordered dithering.
std::vector<uint8_t> picture(int size) {
    static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<uint8_t> pixels(static_cast<size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int shade = ((x * 7 + y * 3) / 5 + ((x * y) >> 9)) % 1024;  // 0..1023
            const int level = std::min(3, (shade * 4 + kBayer[y & 3][x & 3] * 16) / 1024);
            pixels[static_cast<size_t>(y) * size + x] = static_cast<uint8_t>(level);
        }
    }
    return pixels;
}

// The document file for an N x N picture, written once.
const std::string& document_path(int size) {
    static std::map<int, std::string> paths;
    auto found = paths.find(size);
    if (found != paths.end()) {
        return found->second;
    }
    const std::vector<uint8_t> pixels = picture(size);
    std::string text =
        "<?xml version=\"1.0\"?>\n<TarvoIPPhoneImage>\n<Title>Bench</Title>\n<Width>" +
        std::to_string(size) + "</Width>\n<Height>" + std::to_string(size) +
        "</Height>\n<Depth>2</Depth>\n<Data>\n";
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < pixels.size(); i += 4) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 4 && i + j < pixels.size(); ++j) {
            byte |= static_cast<uint8_t>(pixels[i + j] << (2 * j));
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
        if (i % 128 == 124) {
            text += '\n';
        }
    }
    text += "\n</Data>\n</TarvoIPPhoneImage>\n";
    const std::string path = (scratch_dir() / ("doc" + std::to_string(size) + ".qap")).string();
    std::ofstream(path, std::ios::binary) << text;
    return paths[size] = path;
}

const PhoneImage& loaded_record(int size) {
    static std::map<int, PhoneImage> records;
    auto found = records.find(size);
    if (found == records.end()) {
        PhoneImage image;
        phone_image_load(image, document_path(size));
        found = records.emplace(size, std::move(image)).first;
    }
    return found->second;
}

std::string output_path() {
    return (scratch_dir() / "out.gif").string();
}

void convert(const std::string& input) {
    PhoneImage image;
    phone_image_load(image, input);
    qap2gif::check_phone_image_for_gif(image);
    qap2gif::GifFileWriter writer(image);
    std::FILE* file = std::fopen(output_path().c_str(), "wb");
    writer.write(file);
    std::fclose(file);
}

void encode(const PhoneImage& image) {
    qap2gif::GifFileWriter writer(image);
    std::FILE* file = std::fopen(output_path().c_str(), "wb");
    writer.write(file);
    std::fclose(file);
}

int write_to_file(GifFileType* gif, const GifByteType* bytes, int count) {
    return static_cast<int>(
        std::fwrite(bytes, 1, static_cast<size_t>(count), static_cast<std::FILE*>(gif->UserData)));
}

void giflib_encode(const PhoneImage& image) {
    std::FILE* file = std::fopen(output_path().c_str(), "wb");
    int error = 0;
    GifFileType* gif = EGifOpen(file, write_to_file, &error);
    const GifColorType colors[4] = {{255, 255, 255}, {170, 170, 170}, {85, 85, 85}, {0, 0, 0}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifPutScreenDesc(gif, image.width, image.height, 2, 0, map);
    EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr);
    std::vector<GifPixelType> row(static_cast<size_t>(image.width));
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* source = image.pixel_values.data() + static_cast<size_t>(y) * image.width;
        std::copy(source, source + image.width, row.begin());
        EGifPutLine(gif, row.data(), image.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    std::fclose(file);
}

long resident_kib() {
    long pages = 0;
    long resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs job once in a forked child; returns how far its resident memory rose
// above what it started with, in MiB.
double peak_mib(const std::function<void()>& job) {
    malloc_trim(0);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        const long start = resident_kib();
        job();
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        const long rise = usage.ru_maxrss - start;
        const ssize_t written = write(pipe_fds[1], &rise, sizeof rise);
        _exit(written == sizeof rise ? 0 : 1);
    }
    close(pipe_fds[1]);
    long rise = -1;
    if (read(pipe_fds[0], &rise, sizeof rise) != sizeof rise) {
        rise = -1;
    }
    close(pipe_fds[0]);
    waitpid(child, nullptr, 0);
    return static_cast<double>(rise) / 1024.0;
}

void report(benchmark::State& state, int size, const std::function<void()>& job) {
    state.counters["peak_MiB"] = peak_mib(job);
    state.counters["pixels/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * size * size, benchmark::Counter::kIsRate);
    state.SetComplexityN(static_cast<int64_t>(size) * size);
}

void Qap2GifConvert(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const std::string& path = document_path(size);
    for (auto _ : state) {
        convert(path);
    }
    report(state, size, [&] { convert(path); });
}

void Qap2GifEncode(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const PhoneImage& image = loaded_record(size);
    for (auto _ : state) {
        encode(image);
    }
    report(state, size, [&] { encode(image); });
}

void GiflibEncode(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const PhoneImage& image = loaded_record(size);
    for (auto _ : state) {
        giflib_encode(image);
    }
    report(state, size, [&] { giflib_encode(image); });
}

BENCHMARK(Qap2GifConvert)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(Qap2GifEncode)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(GiflibEncode)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(scratch_dir(), ignored);
    return 0;
}
