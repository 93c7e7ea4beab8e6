// PackBits, the byte-oriented run-length coding of TIFF (compression 32773).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/readers/reader_io.h"

namespace imaging::tiff {

// Decodes PackBits codes from the chunk's byte stream until `size` bytes are
// written to destination. Each code is a count byte b followed by data: below
// 128, b + 1 literal bytes; above 128, one byte repeated 257 - b times; 128 is
// no operation. A literal or a run that would carry past the row is cut at
// the row's end (the literal's bytes beyond it stay unread). Returns false
// when the data ends first.
bool packbits_row(ChunkReader& chunk, uint8_t* destination, size_t size);

}  // namespace imaging::tiff
