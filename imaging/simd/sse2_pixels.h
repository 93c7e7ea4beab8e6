// SSE2 helpers shared by the SSE2 paths that write 24-bit pixels (blue, green,
// red bytes). Included only by *_sse2.cpp files, which are compiled for SSE2:
// a file compiled for AVX2 must not include it, or the linker could keep its
// AVX2 copy of these inline functions for the SSE2 callers too.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace imaging::simd::sse2 {

// Four blue, green, red, 0 pixels (one 32-bit lane each) stored as 12 packed
// bytes at out, by a 16-byte store whose last 4 bytes the next store (or the
// caller's tail) overwrites.
inline void store_four_pixels(uint8_t* out, __m128i bgr0) {
    // In each 64-bit half, move the second pixel's three bytes next to the
    // first's: six bytes a half; then the high half's six next to the low's.
    const __m128i low = _mm_and_si128(bgr0, _mm_set1_epi64x(0xFFFFFF));
    const __m128i high = _mm_and_si128(_mm_srli_epi64(bgr0, 8), _mm_set1_epi64x(0xFFFFFF000000));
    const __m128i six = _mm_or_si128(low, high);
    const __m128i packed =
        _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
}

// Sixteen pixels from their blue, green and red bytes: 48 bytes at out, written
// as 52 (the last 4 are left for what follows).
inline void store_sixteen_pixels(uint8_t* out, __m128i blue, __m128i green, __m128i red) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bg_low = _mm_unpacklo_epi8(blue, green);
    const __m128i bg_high = _mm_unpackhi_epi8(blue, green);
    const __m128i r0_low = _mm_unpacklo_epi8(red, zero);
    const __m128i r0_high = _mm_unpackhi_epi8(red, zero);
    store_four_pixels(out, _mm_unpacklo_epi16(bg_low, r0_low));
    store_four_pixels(out + 12, _mm_unpackhi_epi16(bg_low, r0_low));
    store_four_pixels(out + 24, _mm_unpacklo_epi16(bg_high, r0_high));
    store_four_pixels(out + 36, _mm_unpackhi_epi16(bg_high, r0_high));
}

}  // namespace imaging::simd::sse2
