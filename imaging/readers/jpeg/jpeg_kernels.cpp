// The choice of the JPEG decoder's inner loops (see jpeg_kernels.h).

#include "imaging/readers/jpeg/jpeg_kernels.h"

#include "imaging/readers/jpeg/jpeg_color.h"
#include "imaging/readers/jpeg/jpeg_idct.h"
#include "imaging/simd/jpeg_simd.h"

namespace imaging::jpeg {

namespace {

using IdctFunction = void (*)(const int16_t*, const uint16_t*, uint8_t*, size_t);

// Two blocks side by side, one after the other.
template <IdctFunction kIdct>
void idct_pair_of(const int16_t* blocks, const uint16_t* quant, uint8_t* out, size_t stride) {
    kIdct(blocks, quant, out, stride);
    kIdct(blocks + 64, quant, out + 8, stride);
}

using ColourRowFunction = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*,
                                   uint32_t, bool);

// Two rows sharing their chroma, one after the other.
template <ColourRowFunction kRow>
void ycc_row_pair_of(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr,
                     uint8_t* out0, uint8_t* out1, uint32_t n, bool half_chroma) {
    kRow(y0, cb, cr, out0, n, half_chroma);
    kRow(y1, cb, cr, out1, n, half_chroma);
}

constexpr Kernels kPlain = {idct_islow_plain, idct_pair_of<idct_islow_plain>, ycc_to_bgr_row_plain,
                            ycc_row_pair_of<ycc_to_bgr_row_plain>};

#if PELORA_SIMD_X86

// The SIMD paths convert the row's bulk, the plain version its tail.
void ycc_row_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, uint32_t n,
                  bool half_chroma) {
    const uint32_t x = simd::jpeg_ycc_to_bgr_sse2(y, cb, cr, out, n, half_chroma);
    const uint32_t c = half_chroma ? x / 2 : x;
    ycc_to_bgr_row_plain(y + x, cb + c, cr + c, out + 3 * size_t{x}, n - x, half_chroma);
}

void ycc_row_avx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, uint32_t n,
                  bool half_chroma) {
    const uint32_t x = simd::jpeg_ycc_to_bgr_avx2(y, cb, cr, out, n, half_chroma);
    const uint32_t c = half_chroma ? x / 2 : x;
    ycc_row_sse2(y + x, cb + c, cr + c, out + 3 * size_t{x}, n - x, half_chroma);
}

void ycc_row_pair_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb, const uint8_t* cr,
                       uint8_t* out0, uint8_t* out1, uint32_t n, bool half_chroma) {
    const uint32_t x = simd::jpeg_ycc_to_bgr_pair_avx2(y0, y1, cb, cr, out0, out1, n, half_chroma);
    const uint32_t c = half_chroma ? x / 2 : x;
    ycc_row_pair_of<ycc_row_sse2>(y0 + x, y1 + x, cb + c, cr + c, out0 + 3 * size_t{x},
                                  out1 + 3 * size_t{x}, n - x, half_chroma);
}

constexpr Kernels kSse2 = {simd::jpeg_idct_islow_sse2, idct_pair_of<simd::jpeg_idct_islow_sse2>,
                           ycc_row_sse2, ycc_row_pair_of<ycc_row_sse2>};
constexpr Kernels kAvx2 = {simd::jpeg_idct_islow_sse2, simd::jpeg_idct_islow_pair_avx2,
                           ycc_row_avx2, ycc_row_pair_avx2};

#endif

}  // namespace

const Kernels& kernels(simd::SimdLevel level) {
#if PELORA_SIMD_X86
    if (simd::level_available(level)) {
        switch (level) {
            case simd::SimdLevel::kPlain:
                break;
            case simd::SimdLevel::kSse2:
                return kSse2;
            case simd::SimdLevel::kAvx2:
                return kAvx2;
        }
    }
#endif
    (void)level;
    return kPlain;
}

}  // namespace imaging::jpeg
