// Copying a run of 1-bit pixels into a row at any bit position.
//
// Bits are numbered from the most significant bit of each byte (the leftmost
// pixel). The run starts at bit `shift` = bit_offset mod 8 of the first
// destination byte; leading bits of that byte and trailing bits of the last
// byte written keep their values.

#include "imaging/bits_copy.h"

namespace imaging {

namespace {

// Bits of the first destination byte kept in front of a run starting at bit
// position 0..7, and bits of the last byte kept behind a run ending at 0..7.
constexpr uint8_t kKeepLeading[8] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
constexpr uint8_t kKeepTrailing[8] = {0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01, 0x00};

}  // namespace

void bits_copy(uint8_t* destination, const uint8_t* source, uint32_t bit_offset,
               uint32_t bit_count) {
    if (bit_count == 0) {
        return;
    }
    const uint32_t shift = bit_offset & 7;
    const uint32_t source_bytes = (bit_count + 7) / 8;
    const uint32_t last_position = (shift + bit_count - 1) & 7;
    const uint32_t last_byte = (shift + bit_count - 1) / 8;  // index of the last byte touched

    const uint8_t first_kept = kKeepLeading[shift];
    const uint8_t last_kept = kKeepTrailing[last_position];
    const uint8_t old_first = destination[0];
    const uint8_t old_last = destination[last_byte];

    if (shift == 0) {
        for (uint32_t i = 0; i < source_bytes; ++i) {
            destination[i] = source[i];
        }
    } else {
        // Each source byte straddles two destination bytes.
        uint8_t carry = 0;
        for (uint32_t i = 0; i < source_bytes; ++i) {
            const uint8_t byte = source[i];
            destination[i] = static_cast<uint8_t>(carry | (byte >> shift));
            carry = static_cast<uint8_t>(byte << (8 - shift));
        }
        if (last_byte == source_bytes) {
            destination[last_byte] = carry;
        }
    }

    // Restore the bits outside the run.
    destination[0] =
        static_cast<uint8_t>((destination[0] & ~first_kept) | (old_first & first_kept));
    destination[last_byte] =
        static_cast<uint8_t>((destination[last_byte] & ~last_kept) | (old_last & last_kept));
}

}  // namespace imaging
