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

class BmpPictureFile {
  public:
    static constexpr int32_t kWidth = 4000;
    static constexpr int32_t kHeight = 3000;

    BmpPictureFile() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("pelora_bmp_bench_" + std::to_string(::getpid()) + ".bmp"))
                    .string();
        const uint32_t row_bytes = kWidth * 3;  // a multiple of 4 already
        const uint32_t data_bytes = row_bytes * kHeight;
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
