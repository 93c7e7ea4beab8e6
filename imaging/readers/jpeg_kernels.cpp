// The choice of the JPEG decoder's inner loops (see jpeg_kernels.h).

#include "imaging/readers/jpeg_kernels.h"

#include "imaging/readers/jpeg_color.h"
#include "imaging/readers/jpeg_idct.h"
#include "imaging/simd/jpeg_simd.h"

namespace imaging::jpeg {

namespace {

constexpr Kernels kPlain = {idct_islow_plain, ycc_to_bgr_row_plain};

#if PELORA_SIMD_X86

// The SIMD path converts the row's bulk, the plain version its tail.
void ycc_row_sse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                  uint32_t n, bool half_chroma) {
    const uint32_t x = simd::jpeg_ycc_to_bgr_sse2(y, cb, cr, out, n, half_chroma);
    const uint32_t c = half_chroma ? x / 2 : x;
    ycc_to_bgr_row_plain(y + x, cb + c, cr + c, out + 3 * size_t{x}, n - x, half_chroma);
}

constexpr Kernels kSse2 = {simd::jpeg_idct_islow_sse2, ycc_row_sse2};

#endif

}  // namespace

const Kernels& kernels(simd::SimdLevel level) {
#if PELORA_SIMD_X86
    if (level != simd::SimdLevel::kPlain && simd::level_available(level)) {
        return kSse2;
    }
#endif
    (void)level;
    return kPlain;
}

}  // namespace imaging::jpeg
