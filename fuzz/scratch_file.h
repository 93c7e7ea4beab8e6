// A scratch file for fuzz targets whose code under test reads from a path:
// created once per process, rewritten with each input, removed at exit.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

class ScratchFile {
  public:
    explicit ScratchFile(const char* name) {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder != nullptr ? folder : "/tmp") + "/" + name + ".XXXXXX";
        fd_ = mkstemp(path_.data());
        if (fd_ < 0) {
            std::abort();
        }
    }
    ~ScratchFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's contents with the input; returns its path.
    const char* write(const uint8_t* data, size_t size) {
        if (ftruncate(fd_, 0) != 0) {
            std::abort();
        }
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) {
                std::abort();
            }
            done += static_cast<size_t>(n);
        }
        return path_.c_str();
    }

  private:
    std::string path_;
    int fd_ = -1;
};
