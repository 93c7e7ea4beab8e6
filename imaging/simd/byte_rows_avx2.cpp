// AVX2 paths of the byte kernels (see byte_rows.h). Compiled for AVX2 and
// called only where the processor has it; like jpeg_avx2.cpp, it includes no
// header with inline functions that other files may use.

#include <immintrin.h>

#include "imaging/simd/byte_rows.h"

namespace imaging::simd {

uint32_t swap_outer_bytes_avx2(const uint8_t* in, uint8_t* out, uint32_t n) {
    // Five pixels (15 bytes) a step, loaded and stored as 16, by one byte
    // shuffle; the 16th byte (the next pixel's first) is stored as it was, so
    // the next step reads what it would have read (out may be in).
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const size_t bytes = 3 * size_t{n};
    size_t i = 0;
    for (; bytes - i >= 16; i += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_shuffle_epi8(v, order));
    }
    return static_cast<uint32_t>(i / 3);
}

}  // namespace imaging::simd
