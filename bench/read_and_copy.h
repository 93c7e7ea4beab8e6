// The physical floor of a reader's load: read the whole file into memory, then
// copy it once. Loaders are compared with it in the same benchmark run.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

// Reads up to file_bytes.size() bytes of path into file_bytes and copies them
// into copy (at least as large). Returns the bytes read.
inline size_t read_and_copy(const char* path, std::vector<uint8_t>& file_bytes,
                            std::vector<uint8_t>& copy) {
    const int fd = ::open(path, O_RDONLY);
    size_t done = 0;
    while (fd >= 0 && done < file_bytes.size()) {
        const ssize_t n = ::read(fd, file_bytes.data() + done, file_bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += size_t(n);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    std::memcpy(copy.data(), file_bytes.data(), done);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    return done;
}
