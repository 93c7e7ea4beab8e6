// SSE2 paths of the byte kernels (see byte_rows.h).

#include <emmintrin.h>

#include "imaging/simd/byte_rows.h"
#include "imaging/simd/sse2_pixels.h"

namespace imaging::simd {

uint64_t bytes_above_sse2(const uint8_t* block, uint8_t threshold) {
    // max(v, threshold + 1) equals v exactly in the bytes above threshold.
    const __m128i floor = _mm_set1_epi8(static_cast<char>(threshold + 1));
    uint64_t above = 0;
    for (uint32_t i = 0; i < 64; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
        const __m128i is_above = _mm_cmpeq_epi8(_mm_max_epu8(v, floor), v);
        above |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(is_above))} << i;
    }
    // A threshold of 255 has no byte above it (threshold + 1 wrapped to 0).
    return threshold == 255 ? 0 : above;
}

uint32_t planes_to_bgr_sse2(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                            uint8_t* out, uint32_t n) {
    // 16 pixels a step write 52 bytes: within the row while 18 pixels (54
    // bytes) are left.
    uint32_t x = 0;
    for (; n - x >= 18; x += 16) {
        const auto load = [](const uint8_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        sse2::store_sixteen_pixels(out + 3 * size_t{x}, load(blue + x), load(green + x),
                                   load(red + x));
    }
    return x;
}

uint32_t swap_outer_bytes_sse2(const uint8_t* in, uint8_t* out, uint32_t n) {
    // Five pixels (15 bytes) a step, loaded and stored as 16: the first and
    // third byte of each pixel trade places by shifts of two bytes; the middle
    // bytes, and the 16th (the next pixel's first), are stored as they were,
    // so the next step reads what it would have read (out may be in).
    const __m128i first = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0);
    const __m128i kept = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, -1);
    const __m128i third = _mm_slli_si128(first, 2);
    const size_t bytes = 3 * size_t{n};
    size_t i = 0;
    for (; bytes - i >= 16; i += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i swapped = _mm_or_si128(
            _mm_and_si128(v, kept), _mm_or_si128(_mm_and_si128(_mm_srli_si128(v, 2), first),
                                                 _mm_and_si128(_mm_slli_si128(v, 2), third)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), swapped);
    }
    return static_cast<uint32_t>(i / 3);
}

}  // namespace imaging::simd
