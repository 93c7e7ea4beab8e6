// The JPEG benchmarks' test pictures and their peer: a 4000 x 3000 photo-like
// picture (smooth shading, a hard-edged disc, texture and sensor-like noise),
// encoded with libjpeg-turbo at quality 90 as baseline 4:2:0, baseline 4:4:4
// and progressive 4:2:0; and libjpeg-turbo's decoding of a file set to the
// reader's arithmetic (the integer inverse DCT, replication of subsampled
// chroma), to RGB with its SIMD paths.
#pragma once

#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which uses FILE and size_t
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace jpeg_bench {

inline constexpr uint32_t kWidth = 4000;
inline constexpr uint32_t kHeight = 3000;

// The three encodings, by index: 0 baseline 4:2:0, 1 baseline 4:4:4,
// 2 progressive 4:2:0.
struct Kind {
    const char* name;
    int h, v;
    bool progressive;
};
inline constexpr Kind kKinds[3] = {
    {"baseline420", 2, 2, false}, {"baseline444", 1, 1, false}, {"progressive420", 2, 2, true}};

// The photo as RGB, top row first.
inline std::vector<uint8_t> photo() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double fx = x / double(kWidth), fy = y / double(kHeight);
            double r = 120 + 90 * std::sin(3.1 * fx + 1.3 * fy);
            double g = 110 + 80 * std::cos(2.3 * fy - 1.7 * fx);
            double b = 100 + 70 * std::sin(5.0 * fx * fy + 0.5);
            const double dx = fx - 0.6, dy = fy - 0.45;
            if (dx * dx + dy * dy < 0.04) {  // a disc with a hard edge
                r = r * 0.4 + 140;
                g *= 0.6;
            }
            if (fy > 0.55) {  // texture, like foliage or fabric
                const double t =
                    22 * std::sin(x * 0.31) * std::cos(y * 0.27) + 12 * std::sin(x * 1.7 + y * 0.9);
                r += t;
                g += t * 1.3;
                b += t * 0.6;
            }
            seed = seed * 1664525 + 1013904223;
            const double noise = double((seed >> 24) % 13) - 6;
            const double tint = double((seed >> 12) % 5) - 2;
            const double v[3] = {r + noise + tint, g + noise, b + noise - tint};
            for (int c = 0; c < 3; ++c) {
                rgb[(size_t{y} * kWidth + x) * 3 + c] =
                    static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v[c]))));
            }
        }
    }
    return rgb;
}

// The photo encoded as `kind`.
inline std::vector<uint8_t> encode(const std::vector<uint8_t>& rgb, const Kind& kind) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.comp_info[0].h_samp_factor = kind.h;
    cinfo.comp_info[0].v_samp_factor = kind.v;
    if (kind.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + size_t{cinfo.next_scanline} * kWidth * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// Writes the three files as stem + kind name + ".jpg"; false on a write error.
inline bool write_pictures(const std::string& stem, std::string paths[3], size_t sizes[3]) {
    const std::vector<uint8_t> rgb = photo();
    for (int i = 0; i < 3; ++i) {
        paths[i] = stem + kKinds[i].name + ".jpg";
        const std::vector<uint8_t> bytes = encode(rgb, kKinds[i]);
        sizes[i] = bytes.size();
        std::FILE* file = std::fopen(paths[i].c_str(), "wb");
        const bool ok =
            file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (file == nullptr || std::fclose(file) != 0 || !ok) {
            return false;
        }
    }
    return true;
}

namespace detail {

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

inline void trap_error(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

}  // namespace detail

// Decodes the open file into RGB rows, top row first; false on any error.
// Plain C style: nothing with a destructor lives across the jump.
inline bool peer_decode(std::FILE* file, std::vector<uint8_t>* rgb, uint32_t* width,
                        uint32_t* height) {
    jpeg_decompress_struct cinfo;
    detail::ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = detail::trap_error;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *width = cinfo.output_width;
    *height = cinfo.output_height;
    const size_t row_bytes = size_t{cinfo.output_width} * 3;
    rgb->resize(row_bytes * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb->data() + size_t{cinfo.output_scanline} * row_bytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace jpeg_bench
