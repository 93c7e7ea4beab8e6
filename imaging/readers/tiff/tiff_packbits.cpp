#include "imaging/readers/tiff/tiff_packbits.h"

#include <algorithm>
#include <cstring>

namespace imaging::tiff {

bool packbits_row(ChunkReader& chunk, uint8_t* destination, size_t size) {
    size_t done = 0;
    while (done < size) {
        uint8_t count = 0;
        if (!chunk.byte(&count)) {
            return false;
        }
        if (count < 128) {
            const size_t n = std::min<size_t>(size_t{count} + 1, size - done);
            if (chunk.read(destination + done, n) < n) {
                return false;
            }
            done += n;
        } else if (count > 128) {
            uint8_t value = 0;
            if (!chunk.byte(&value)) {
                return false;
            }
            const size_t n = std::min<size_t>(257 - size_t{count}, size - done);
            std::memset(destination + done, value, n);
            done += n;
        }
    }
    return true;
}

}  // namespace imaging::tiff
