// The front door every raster reader shares: one driver runs a reader's
// information call and its load around the reader's own operations, so the
// argument checks, the module lock, the open and the order of the stages are
// written once.
//
// A reader describes itself as a struct of static members:
//
//   using Info = ...;          the information record its info call fills
//   struct Header { ... };     what one call parses and keeps between its
//                              stages; value-initialised for every call
//   static constexpr uint32_t kTargets;           target depths the load
//                                                 accepts (an image_check set)
//   static constexpr ReaderLocking kLocking;
//   static ModuleLock& lock();                    unless kLocking is kNone
//
//   static ImgStatus parse_header(ReaderFile&, Header&);
//   static const Info& info_of(const Header&);
//       the record the information call hands out once the header is parsed
//   static ImgStatus pixel_pass(ReaderFile&, Header&, ImageDesc&);
//   static int32_t palette_pass(ReaderFile&, const Header&, ImageDesc&);
//       reads the colour table into the image; returns the entries it holds,
//       or a PaletteRead when the file may end inside its colour table
//
// and, where the format needs them:
//
//   static ImgStatus check_info(const Header&);
//       checks the information call makes beyond the header parse
//   static ImgStatus check(Header&, const ImageDesc&);
//       the header against the target image, before any pixel is read
//   static void begin();                 first step once the lock is held
//   static void finish(const Header&);   last step of every call that opened
//                                        its file (a detail code is kept)
//   static constexpr bool kPaletteAfterAnyPixelPass = true;
//       the palette is read whatever the pixel pass gave, not only after
//       IMG_OK and IMG_ERR_LZW (the rows of a cut file)
//
// The information call: a null record gives IMG_ERR_RANGE; then lock and
// open (IMG_ERR_OPEN), header, check_info. The record is written only when
// the call succeeds.
// The load: a null image gives IMG_ERR_BAD_BUFFER, an image outside kTargets
// the status of image_check; then lock and open (IMG_ERR_OPEN), header,
// check, pixel pass, and the palette pass with palette_finish. The first
// failing stage's status is returned; a failing pixel pass still returns its
// own status after the palette pass. A colour table the file cuts off turns a
// successful load into IMG_ERR_LZW: the picture keeps what could be read.
#pragma once

#include <cstdint>
#include <mutex>

#include "imaging/image.h"
#include "imaging/module_lock.h"
#include "imaging/readers/reader_io.h"

namespace imaging {

// How a reader guards its process-wide state.
enum class ReaderLocking {
    kLockThenOpen,  // takes its module lock, then opens the file
    kOpenThenLock,  // opens the file first: a slow open does not hold the lock
    kNone,          // keeps no shared state and takes no lock
};

// What a palette pass read: the entries the image holds, and whether the file
// ended inside its colour table.
struct PaletteRead {
    int32_t count = 0;
    bool cut = false;
};

namespace reader_driver {

inline PaletteRead palette_read(int32_t count) {
    return PaletteRead{count, false};
}
inline PaletteRead palette_read(PaletteRead read) {
    return read;
}

// One call's file and, for readers with shared state, their lock. The lock is
// declared first, so the file is closed before it is released.
template <typename Reader>
class Call {
  public:
    // Takes the lock and opens the file in the reader's order, running the
    // reader's begin step once the lock is held. False when the file cannot
    // be opened.
    [[nodiscard]] bool open(const char* path) {
        if constexpr (Reader::kLocking == ReaderLocking::kOpenThenLock) {
            if (!file_.open(path)) {
                return false;
            }
            lock_ = Reader::lock().acquire();
            begin();
            return true;
        } else {
            if constexpr (Reader::kLocking == ReaderLocking::kLockThenOpen) {
                lock_ = Reader::lock().acquire();
            }
            begin();
            return file_.open(path);
        }
    }

    ReaderFile& file() { return file_; }

  private:
    static void begin() {
        if constexpr (requires { Reader::begin(); }) {
            Reader::begin();
        }
    }

    std::unique_lock<std::mutex> lock_;
    ReaderFile file_;
};

template <typename Reader>
void finish(const typename Reader::Header& header) {
    if constexpr (requires { Reader::finish(header); }) {
        Reader::finish(header);
    }
}

template <typename Reader>
ImgStatus check_info(const typename Reader::Header& header) {
    if constexpr (requires { Reader::check_info(header); }) {
        return Reader::check_info(header);
    } else {
        return IMG_OK;
    }
}

template <typename Reader>
ImgStatus check(typename Reader::Header& header, const ImageDesc& image) {
    if constexpr (requires { Reader::check(header, image); }) {
        return Reader::check(header, image);
    } else {
        return IMG_OK;
    }
}

// Whether the palette pass follows a pixel pass that ended with `status`.
template <typename Reader>
bool palette_follows(ImgStatus status) {
    if constexpr (requires { Reader::kPaletteAfterAnyPixelPass; }) {
        if (Reader::kPaletteAfterAnyPixelPass) {
            return true;
        }
    }
    return status == IMG_OK || status == IMG_ERR_LZW;
}

// The load's stages once the file is open.
template <typename Reader>
ImgStatus load_stages(ReaderFile& file, typename Reader::Header& header, ImageDesc& image) {
    ImgStatus status = Reader::parse_header(file, header);
    if (status == IMG_OK) {
        status = check<Reader>(header, image);
    }
    if (status != IMG_OK) {
        return status;
    }
    status = Reader::pixel_pass(file, header, image);
    if (palette_follows<Reader>(status)) {
        const PaletteRead palette = palette_read(Reader::palette_pass(file, header, image));
        palette_finish(&image, palette.count);
        if (palette.cut && status == IMG_OK) {
            status = IMG_ERR_LZW;
        }
    }
    return status;
}

}  // namespace reader_driver

// The information call of a reader.
template <typename Reader>
ImgStatus read_info(const char* path, typename Reader::Info* info) {
    if (info == nullptr) {
        return IMG_ERR_RANGE;
    }
    reader_driver::Call<Reader> call;
    if (!call.open(path)) {
        return IMG_ERR_OPEN;
    }
    typename Reader::Header header{};
    ImgStatus status = Reader::parse_header(call.file(), header);
    if (status == IMG_OK) {
        status = reader_driver::check_info<Reader>(header);
    }
    if (status == IMG_OK) {
        *info = Reader::info_of(header);
    }
    reader_driver::finish<Reader>(header);
    return status;
}

// The load call of a reader.
template <typename Reader>
ImgStatus read_load(const char* path, ImageDesc* image) {
    if (image == nullptr) {
        return IMG_ERR_BAD_BUFFER;
    }
    ImgStatus status = image_check(image, Reader::kTargets);
    if (status != IMG_OK) {
        return status;
    }
    reader_driver::Call<Reader> call;
    if (!call.open(path)) {
        return IMG_ERR_OPEN;
    }
    typename Reader::Header header{};
    status = reader_driver::load_stages<Reader>(call.file(), header, *image);
    reader_driver::finish<Reader>(header);
    return status;
}

}  // namespace imaging
