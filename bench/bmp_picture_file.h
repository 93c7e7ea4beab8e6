// The 24-bit 4000 x 3000 BMP picture (36 MB) that the BMP load and picture
// writer benchmarks share: rows of hashed bytes, written once per process into
// the temporary folder and removed at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bmp_bench {

// The file and information headers (54 bytes) of an uncompressed 24-bit
// bottom-up BMP whose rows need no padding (width * 3 a multiple of 4).
inline std::vector<uint8_t> header_24(int32_t width, int32_t height) {
    const uint32_t data_bytes = uint32_t(width) * 3 * uint32_t(height);
    std::vector<uint8_t> bytes(54);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, 54 + data_bytes);
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    bytes[26] = 1;
    bytes[28] = 24;
    put32(34, data_bytes);
    return bytes;
}

}  // namespace bmp_bench

class BmpPictureFile {
  public:
    static constexpr int32_t kWidth = 4000;
    static constexpr int32_t kHeight = 3000;

    BmpPictureFile() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("pelora_bmp_bench_" + std::to_string(::getpid()) + ".bmp"))
                    .string();
        std::vector<uint8_t> bytes = bmp_bench::header_24(kWidth, kHeight);
        bytes.resize(bytes.size() + size_t{kWidth} * 3 * kHeight);  // rows need no padding
        for (size_t i = 54; i < bytes.size(); ++i) {
            bytes[i] = uint8_t(i * 2654435761u >> 13);
        }
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        size_ = bytes.size();
    }
    ~BmpPictureFile() { std::remove(path_.c_str()); }
    BmpPictureFile(const BmpPictureFile&) = delete;
    BmpPictureFile& operator=(const BmpPictureFile&) = delete;

    const char* path() const { return path_.c_str(); }
    size_t size() const { return size_; }

  private:
    std::string path_;
    size_t size_ = 0;
};

// The picture of this process, written on first use.
inline const BmpPictureFile& bmp_picture() {
    static const BmpPictureFile file;
    return file;
}
