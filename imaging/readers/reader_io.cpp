#include "imaging/readers/reader_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

namespace imaging {

ReaderFile::~ReaderFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ReaderFile::open(const char* path) {
    if (path == nullptr || fd_ >= 0) {
        return false;
    }
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

size_t ReaderFile::read(uint8_t* destination, size_t size) {
    if (fd_ < 0) {
        return 0;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, destination + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t ReaderFile::read_at(uint64_t offset, uint8_t* destination, size_t size) {
    size_t done = 0;
    while (fd_ >= 0 && done < size && offset + done <= static_cast<uint64_t>(INT64_MAX)) {
        const ssize_t n =
            ::pread(fd_, destination + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool ReaderFile::seek(uint64_t offset) {
    if (fd_ < 0 || offset > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

ImgStatus ChunkReader::start(ByteSource& source, size_t need, size_t min_size) {
    source_ = &source;
    need_ = std::max<size_t>(need, 1);
    size_ = std::max(2 * need_, min_size);
    buffer_.reset(new (std::nothrow) uint8_t[size_]);
    if (!buffer_) {
        return IMG_ERR_MEMORY;
    }
    data_ = buffer_.get();
    restart();
    return IMG_OK;
}

void ChunkReader::restart() {
    pos_ = 0;
    valid_ = 0;
    threshold_ = 0;
    at_end_ = false;
}

void ChunkReader::refill() {
    const size_t keep = valid_ - pos_;
    std::memmove(data_, data_ + pos_, keep);
    const size_t wanted = size_ - keep;
    const size_t got = source_->read(data_ + keep, wanted);
    at_end_ = got < wanted;
    valid_ = keep + got;
    pos_ = 0;
    threshold_ = valid_ > need_ ? valid_ - need_ : 0;
}

bool ChunkReader::fill() {
    if (at_end_) {
        return false;
    }
    refill();
    return pos_ < valid_;
}

bool ChunkReader::next_step() {
    if (pos_ >= threshold_ && !at_end_) {
        refill();
    }
    return pos_ < valid_;
}

void ChunkReader::advance(size_t count) {
    assert(count <= valid_ - pos_);
    pos_ += count;
}

size_t ChunkReader::read(uint8_t* destination, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (pos_ == valid_ && !fill()) {
            break;
        }
        const size_t n = std::min(count - done, valid_ - pos_);
        std::memcpy(destination + done, data_ + pos_, n);
        pos_ += n;
        done += n;
    }
    return done;
}

bool ChunkReader::skip(size_t count) {
    while (count > 0) {
        if (pos_ == valid_ && !fill()) {
            return false;
        }
        const size_t n = std::min(count, valid_ - pos_);
        pos_ += n;
        count -= n;
    }
    return true;
}

RowPlacement place_rows(const ImageDesc& image, uint32_t file_rows, uint32_t file_columns,
                        RowFill fill) {
    RowPlacement place{};
    place.rows = std::min(image.area_bottom - image.area_top + 1, file_rows);
    place.columns = std::min(image.area_right - image.area_left + 1, file_columns);
    place.bytes_left =
        static_cast<uint32_t>(uint64_t{image.area_left} * uint32_t(image_bits(image)) / 8);
    switch (fill) {
        case RowFill::kFromTop:
            place.first_row = image.area_top;
            place.upward = false;
            break;
        case RowFill::kFromBottom:
            place.first_row = image.area_bottom;
            place.upward = true;
            break;
        case RowFill::kDownToBottom:
            place.first_row = image.area_bottom + 1 - place.rows;
            place.upward = false;
            break;
    }
    return place;
}

}  // namespace imaging
