// Reading phone-image documents built to be costly, beside libxml2 building
// its own tree of the same bytes (xmlReadMemory, what the reader did before),
// each at three sizes so that the time per byte shows how it grows.
//
//   Read/titles/N      the converter's read of N Title elements (16 bytes each)
//   Read/attributes/N  a root element with N attributes (refused by its rule)
//   Tree/...           libxml2's tree of the same document
//
// The libxml2 tree of the attribute documents grows with the square of their
// size, so it runs at the smaller sizes only.

#include <libxml/parser.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "phoneimage/phone_image.h"

namespace {

namespace fs = std::filesystem;

std::string titles(int count) {
    std::string text = "<TarvoIPPhoneImage>";
    for (int i = 0; i < count; ++i) {
        text += "<Title>x</Title>";
    }
    return text + "</TarvoIPPhoneImage>";
}

std::string attributes(int count) {
    std::string text = "<TarvoIPPhoneImage";
    for (int i = 0; i < count; ++i) {
        text += " a" + std::to_string(i) + "=\"1\"";
    }
    return text + "><Width>4</Width></TarvoIPPhoneImage>";
}

// The document written to a file once per size.
const std::string& document_file(const std::string& kind, int count) {
    static std::map<std::string, std::string> paths;
    const std::string key = kind + std::to_string(count);
    auto found = paths.find(key);
    if (found == paths.end()) {
        const fs::path path =
            fs::temp_directory_path() / ("phone-read-bench-" + std::to_string(getpid()) + key);
        std::ofstream(path) << (kind == "titles" ? titles(count) : attributes(count));
        found = paths.emplace(key, path.string()).first;
    }
    return found->second;
}

void set_bytes(benchmark::State& state, const std::string& path) {
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(path)));
}

void Read(benchmark::State& state, const std::string& kind) {
    const std::string& path = document_file(kind, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        phoneimage::PhoneImage image;
        try {
            phoneimage::phone_image_load(image, path);
        } catch (const char*) {
        } catch (const std::string&) {
        }
        benchmark::DoNotOptimize(image.width);
    }
    set_bytes(state, path);
}

void Tree(benchmark::State& state, const std::string& kind) {
    const std::string& path = document_file(kind, static_cast<int>(state.range(0)));
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    set_bytes(state, path);
}

BENCHMARK_CAPTURE(Read, titles, "titles")
    ->Arg(35000)
    ->Arg(350000)
    ->Arg(3500000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Tree, titles, "titles")
    ->Arg(35000)
    ->Arg(350000)
    ->Arg(3500000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, attributes, "attributes")
    ->Arg(5000)
    ->Arg(50000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Tree, attributes, "attributes")
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
