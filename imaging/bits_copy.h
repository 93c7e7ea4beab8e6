// Copying a run of 1-bit pixels into a row at any bit position.
#pragma once

#include <cstdint>

namespace imaging {

// Copies bit_count bits, most significant bit of each byte first, from source
// (starting at the most significant bit of its first byte) into destination,
// starting at bit (bit_offset mod 8) of destination's first byte, counted from
// the most significant bit. The caller points destination at the byte that
// holds the first target bit. Bits of the first destination byte before the run
// and bits of the last destination byte after it keep their values; the bytes in
// between are overwritten. Reads (bit_count + 7) / 8 source bytes at most.
void bits_copy(uint8_t* destination, const uint8_t* source, uint32_t bit_offset,
               uint32_t bit_count);

}  // namespace imaging
