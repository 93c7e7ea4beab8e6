// A stdio stream that collects what is written to it in memory.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

class MemoryFile {
  public:
    MemoryFile() : file_(open_memstream(&buffer_, &size_)) {
        if (file_ == nullptr) {
            throw std::runtime_error("open_memstream failed");
        }
    }
    ~MemoryFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        std::free(buffer_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::FILE* get() const { return file_; }

    // Everything written so far.
    std::vector<uint8_t> bytes() {
        std::fflush(file_);
        return std::vector<uint8_t>(reinterpret_cast<uint8_t*>(buffer_),
                                    reinterpret_cast<uint8_t*>(buffer_) + size_);
    }

  private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* file_;
};
