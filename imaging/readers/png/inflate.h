// A streaming decoder of zlib streams (RFC 1950 around RFC 1951 deflate), as
// the PNG reader's image data holds them.
//
// The compressed bytes are pulled from an InflateSource piece by piece; the
// output is handed out in any slices the caller asks for. Memory is fixed
// (about 400 KiB) whatever the stream's size, and time is linear in the
// input and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/status.h"

namespace imaging {

// Where the compressed bytes come from.
class InflateSource {
  public:
    // Copies up to size bytes of compressed data into destination; 0 when the
    // data has ended. A source that fails returns 0 and remembers why.
    virtual size_t fill(uint8_t* destination, size_t size) = 0;

  protected:
    ~InflateSource() = default;
};

enum class InflateResult {
    kOk,
    kStreamEnded,  // the stream ended (its check value verified) before the bytes asked for
    kDamaged,      // invalid data or check value, a preset dictionary, or the data ended early
};

class Inflater {
  public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Allocates the buffers and reads from the source's start. Returns 0 or
    // IMG_ERR_MEMORY.
    [[nodiscard]] ImgStatus start(InflateSource& source);

    // The next count bytes of output into destination (or dropped when
    // destination is null). Returns kOk once all were given; otherwise the
    // bytes given so far are in destination.
    InflateResult read(uint8_t* destination, size_t count);

    // After the last byte wanted: decodes on to the stream's end without
    // giving output. kOk when the stream ends with its check value verified,
    // or when the data ends first with no more output in it (*complete is
    // then false); kStreamEnded when the stream holds more output; kDamaged.
    InflateResult finish(bool* complete);

    // Whether compressed bytes taken from the source lie behind the stream's
    // end (valid after finish() gave kOk with a complete stream).
    bool input_left() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace imaging
