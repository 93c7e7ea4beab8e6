// The JPEG reader's helper threads: the ring of coefficient rows gives the
// same picture with any number of helpers, and big pictures, which load with
// helpers on a machine of several cores, match libjpeg-turbo. These tests also
// run under ThreadSanitizer (ctest label "threads").

#include <gtest/gtest.h>

#include <cstdio>  // before jpeglib.h
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "imaging/image.h"
#include "imaging/readers/jpeg.h"
#include "imaging/readers/jpeg_color.h"
#include "imaging/readers/jpeg_output.h"
#include "imaging/readers/jpeg_threads.h"
#include "support/test_support.h"

using namespace imaging;

namespace {

// The geometry of a frame as the reader sets it up: width x height, one
// component (gray) or three with luma h x v and chroma 1 x 1.
struct Geometry {
    jpeg::Decoder d;
    uint16_t quant[64];
};

void set_up(Geometry& g, uint32_t width, uint32_t height, uint32_t components, uint32_t h,
            uint32_t v) {
    for (uint16_t& q : g.quant) {
        q = 3;
    }
    jpeg::Decoder& d = g.d;
    d.frame.width = width;
    d.frame.height = height;
    d.frame.count = components;
    d.hmax = components == 1 ? 1 : h;
    d.vmax = components == 1 ? 1 : v;
    d.mcu_width = 8 * d.hmax;
    d.mcu_height = 8 * d.vmax;
    d.mcus_wide = (width + d.mcu_width - 1) / d.mcu_width;
    d.mcus_high = (height + d.mcu_height - 1) / d.mcu_height;
    for (uint32_t c = 0; c < components; ++c) {
        jpeg::Component& comp = d.frame.components[c];
        comp.h = c == 0 ? d.hmax : 1;
        comp.v = c == 0 ? d.vmax : 1;
        comp.blocks_wide = d.mcus_wide * comp.h;
        comp.blocks_high = d.mcus_high * comp.v;
        comp.quant = g.quant;
    }
}

// Outputs every MCU row of random coefficients (the same for every call)
// through a ring with the given helpers; the last row only partly decoded.
std::vector<uint8_t> output_picture(const Geometry& g, uint32_t helpers,
                                    jpeg::RowPipeline::Rows kind) {
    const jpeg::Decoder& d = g.d;
    ImageDesc image{};
    const int bits = d.frame.count == 1 ? 8 : 24;
    EXPECT_EQ(image_alloc(&image, d.frame.width, d.frame.height, bits), IMG_OK);
    jpeg::PictureOutput out;
    out.start(d, image);
    // For views: the caller's coefficients, one set per MCU row.
    std::vector<std::vector<int16_t>> views(d.mcus_high * 3);
    std::mt19937 random(99);
    {
        jpeg::RowPipeline pipeline;
        EXPECT_EQ(pipeline.start(out, helpers, kind), IMG_OK);
        for (uint32_t y = 0; y < d.mcus_high; ++y) {
            jpeg::CoefficientRow& row = pipeline.next_free();
            for (uint32_t c = 0; c < d.frame.count; ++c) {
                const size_t blocks = size_t{out.row_blocks(c)} * out.block_rows(c);
                if (kind == jpeg::RowPipeline::Rows::kViews) {
                    views[3 * y + c].assign(blocks * 64, 0);
                    row.blocks[c] = views[3 * y + c].data();
                    row.last[c] = nullptr;
                }
                for (size_t b = 0; b < blocks; ++b) {
                    // A given row comes back zeroed: only a few coefficients set.
                    EXPECT_EQ(row.blocks[c][b * 64 + 1], 0);
                    row.blocks[c][b * 64] = static_cast<int16_t>(int(random() % 512) - 256);
                    const bool dc_only = random() % 3 == 0;
                    if (!dc_only) {
                        row.blocks[c][b * 64 + 1 + random() % 63] =
                            static_cast<int16_t>(int(random() % 64) - 32);
                    }
                    if (row.last[c] != nullptr) {
                        row.last[c][b] = dc_only ? 0 : 63;
                    }
                }
            }
            const bool last_row = y + 1 == d.mcus_high;
            pipeline.hand_over(y, (last_row ? d.mcus_wide / 2 : d.mcus_wide) * d.mcu_width);
        }
        pipeline.finish();
    }
    std::vector<uint8_t> pixels(
        static_cast<const uint8_t*>(image.pixels),
        static_cast<const uint8_t*>(image.pixels) + size_t{image.row_bytes} * d.frame.height);
    image_free(&image);
    return pixels;
}

TEST(JpegThreads, AnyNumberOfHelpersGivesTheSamePicture) {
    struct Case {
        uint32_t width, height, components, h, v;
    };
    for (const Case& k : {Case{301, 97, 1, 1, 1}, Case{250, 90, 3, 2, 2}, Case{97, 40, 3, 2, 1}}) {
        SCOPED_TRACE(testing::Message() << k.width << " x " << k.height << " " << k.components);
        Geometry g;
        set_up(g, k.width, k.height, k.components, k.h, k.v);
        for (auto kind : {jpeg::RowPipeline::Rows::kOwned, jpeg::RowPipeline::Rows::kViews}) {
            const std::vector<uint8_t> alone = output_picture(g, 0, kind);
            for (uint32_t helpers : {1u, 3u, 7u}) {
                EXPECT_EQ(output_picture(g, helpers, kind), alone) << helpers;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Big pictures through the whole reader

std::vector<uint8_t> encode(uint32_t width, uint32_t height, int components, bool progressive,
                            unsigned restart_rows) {
    std::vector<uint8_t> samples(size_t{width} * height * components);
    std::mt19937 random(width + height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width * components; ++x) {
            samples[size_t{y} * width * components + x] =
                static_cast<uint8_t>(((x / 7 + y / 5) % 2 ? x + y : 255 - x) + random() % 30);
        }
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    cinfo.restart_in_rows = static_cast<int>(restart_rows);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < height) {
        JSAMPROW row = samples.data() + size_t{cinfo.next_scanline} * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// libjpeg-turbo's decoding as the descriptor's rows (blue, green, red through
// the reader's colour tables), top row first.
std::vector<uint8_t> reference(const std::vector<uint8_t>& bytes, uint32_t width, uint32_t height,
                               int components) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
    jpeg_start_decompress(&cinfo);
    std::vector<uint8_t> samples(size_t{width} * height * components);
    while (cinfo.output_scanline < height) {
        JSAMPROW row = samples.data() + size_t{cinfo.output_scanline} * width * components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (components == 1) {
        return samples;
    }
    std::vector<uint8_t> out(samples.size());
    const size_t n = size_t{width} * height;
    std::vector<uint8_t> y(n), cb(n), cr(n);
    for (size_t i = 0; i < n; ++i) {
        y[i] = samples[3 * i];
        cb[i] = samples[3 * i + 1];
        cr[i] = samples[3 * i + 2];
    }
    jpeg::ycc_to_bgr_row_plain(y.data(), cb.data(), cr.data(), out.data(),
                               static_cast<uint32_t>(n));
    return out;
}

std::vector<uint8_t> rows_of(const ImageDesc& image, uint32_t width, uint32_t height) {
    const uint32_t bytes = image_bits(image) / 8;
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = image_row(image, y);
        out.insert(out.end(), row, row + size_t{width} * bytes);
    }
    return out;
}

// Pictures above the threshold for helpers, sequential (with and without
// restarts) and progressive, gray and colour, loaded on several threads at
// once as the viewer's windows might.
TEST(JpegThreads, BigPicturesMatchTheReference) {
    constexpr uint32_t kWidth = 1024, kHeight = 640;
    static_assert(uint64_t{kWidth} * kHeight >= jpeg::kThreadedPixels);
    struct Case {
        int components;
        bool progressive;
        unsigned restart_rows;
    };
    const Case cases[] = {{3, false, 0}, {3, false, 2}, {1, false, 0}, {3, true, 0}, {1, true, 1}};
    test_support::TempDir dir;
    std::vector<std::string> paths;
    std::vector<std::vector<uint8_t>> wanted;
    for (const Case& k : cases) {
        const std::vector<uint8_t> bytes =
            encode(kWidth, kHeight, k.components, k.progressive, k.restart_rows);
        paths.push_back((dir / ("big" + std::to_string(paths.size()) + ".jpg")).string());
        test_support::write_file(paths.back(), bytes);
        wanted.push_back(reference(bytes, kWidth, kHeight, k.components));
    }
    std::vector<int> failures(2);
    std::vector<std::thread> loaders;
    for (int t = 0; t < 2; ++t) {
        loaders.emplace_back([&, t] {
            for (size_t i = 0; i < paths.size(); ++i) {
                ImageDesc image{};
                image_alloc(&image, kWidth, kHeight, cases[i].components == 1 ? 8 : 24);
                failures[t] += jpeg_load(paths[i].c_str(), &image) != IMG_OK ||
                               rows_of(image, kWidth, kHeight) != wanted[i];
                image_free(&image);
            }
        });
    }
    for (std::thread& loader : loaders) {
        loader.join();
    }
    EXPECT_EQ(failures, std::vector<int>(2));
}

// A big file cut inside its data: the MCU rows decoded before the cut are in
// place, below them nothing; the helpers are done when the load returns.
TEST(JpegThreads, BigPictureCutInsideItsData) {
    constexpr uint32_t kWidth = 1024, kHeight = 640;
    const std::vector<uint8_t> whole = encode(kWidth, kHeight, 3, false, 0);
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() / 2));
    test_support::TempDir dir;
    const std::string path = (dir / "cut.jpg").string();
    test_support::write_file(path, cut);
    ImageDesc image{};
    ASSERT_EQ(image_alloc(&image, kWidth, kHeight, 24), IMG_OK);
    EXPECT_EQ(jpeg_load(path.c_str(), &image), IMG_ERR_LZW);
    const std::vector<uint8_t> got = rows_of(image, kWidth, kHeight);
    const std::vector<uint8_t> want = reference(whole, kWidth, kHeight, 3);
    const size_t row = size_t{kWidth} * 3;
    size_t rows = 0;
    while (rows < kHeight &&
           std::equal(got.begin() + long(rows * row), got.begin() + long((rows + 1) * row),
                      want.begin() + long(rows * row))) {
        ++rows;
    }
    EXPECT_GT(rows, kHeight / 4);
    EXPECT_EQ(rows % 16, 0u);
    EXPECT_TRUE(std::all_of(got.begin() + long((rows + 16) * row), got.end(),
                            [](uint8_t b) { return b == 0; }));
    image_free(&image);
}

}  // namespace
