// The plain byte kernels and the choice of path (see byte_rows.h).

#include "imaging/simd/byte_rows.h"

namespace imaging::simd {

namespace {

uint64_t bytes_above_plain(const uint8_t* block, uint8_t threshold) {
    uint64_t above = 0;
    for (uint32_t i = 0; i < 64; ++i) {
        above |= uint64_t{block[i] > threshold} << i;
    }
    return above;
}

void planes_to_bgr_plain(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                         uint8_t* out, uint32_t n) {
    for (uint32_t x = 0; x < n; ++x) {
        out[3 * size_t{x}] = blue[x];
        out[3 * size_t{x} + 1] = green[x];
        out[3 * size_t{x} + 2] = red[x];
    }
}

void swap_outer_bytes_plain(const uint8_t* in, uint8_t* out, uint32_t n) {
    for (size_t i = 0; i < 3 * size_t{n}; i += 3) {
        const uint8_t first = in[i];
        out[i + 1] = in[i + 1];
        out[i] = in[i + 2];
        out[i + 2] = first;
    }
}

#if PELORA_SIMD_X86

void planes_to_bgr_sse2_row(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                            uint8_t* out, uint32_t n) {
    const uint32_t done = planes_to_bgr_sse2(red, green, blue, out, n);
    planes_to_bgr_plain(red + done, green + done, blue + done, out + 3 * size_t{done}, n - done);
}

void swap_outer_bytes_sse2_row(const uint8_t* in, uint8_t* out, uint32_t n) {
    const uint32_t done = swap_outer_bytes_sse2(in, out, n);
    swap_outer_bytes_plain(in + 3 * size_t{done}, out + 3 * size_t{done}, n - done);
}

void swap_outer_bytes_avx2_row(const uint8_t* in, uint8_t* out, uint32_t n) {
    const uint32_t done = swap_outer_bytes_avx2(in, out, n);
    swap_outer_bytes_plain(in + 3 * size_t{done}, out + 3 * size_t{done}, n - done);
}

constexpr ByteRowKernels kSse2 = {bytes_above_sse2, planes_to_bgr_sse2_row,
                                  swap_outer_bytes_sse2_row};
// The run finder and interleaving gain little from AVX2: their SSE2 paths
// serve it too.
constexpr ByteRowKernels kAvx2 = {bytes_above_sse2, planes_to_bgr_sse2_row,
                                  swap_outer_bytes_avx2_row};

#endif

constexpr ByteRowKernels kPlain = {bytes_above_plain, planes_to_bgr_plain, swap_outer_bytes_plain};

}  // namespace

const ByteRowKernels& byte_row_kernels(SimdLevel level) {
#if PELORA_SIMD_X86
    if (level_available(level)) {
        switch (level) {
            case SimdLevel::kPlain:
                break;
            case SimdLevel::kSse2:
                return kSse2;
            case SimdLevel::kAvx2:
                return kAvx2;
        }
    }
#endif
    (void)level;
    return kPlain;
}

}  // namespace imaging::simd
