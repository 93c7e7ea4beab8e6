#include "imaging/readers/jpeg/jpeg.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// libjpeg-turbo: the reference decoder and the encoder of test streams.
#include <jpeglib.h>

#include "imaging/image.h"
#include "imaging/readers/jpeg/jpeg_color.h"
#include "imaging/readers/jpeg/jpeg_huffman.h"
#include "imaging/readers/jpeg/jpeg_idct.h"
#include "imaging/readers/jpeg/jpeg_kernels.h"
#include "imaging/readers/jpeg/jpeg_output.h"
#include "imaging/readers/jpeg/jpeg_threads.h"
#include "imaging/readers/picture_open.h"
#include "imaging/readers/reader_table.h"
#include "tests/support/test_support.h"

using namespace imaging;

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// libjpeg-turbo, set to the reader's arithmetic: the integer inverse DCT, no
// smoothing, replication for subsampled components, YCbCr out (converted below
// with the reader's own tables).

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void trap_error(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

void no_message(j_common_ptr) {}

struct Decoded {
    bool ok = false;
    bool warned = false;  // corrupt data that libjpeg-turbo papered over
    uint32_t width = 0, height = 0, components = 0;
    std::vector<uint8_t> samples;  // gray, or Y Cb Cr per pixel, top row first
};

// Plain C-style: no object with a destructor lives across the jump.
void reference_into(const std::vector<uint8_t>& bytes, Decoded* out) {
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trap_error;
    trap.manager.output_message = no_message;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out->ok = false;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
    jpeg_start_decompress(&cinfo);
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    out->components = static_cast<uint32_t>(cinfo.output_components);
    out->samples.resize(size_t{out->width} * out->height * out->components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            out->samples.data() + size_t{cinfo.output_scanline} * out->width * out->components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    out->warned = trap.manager.num_warnings != 0;
    jpeg_destroy_decompress(&cinfo);
    out->ok = true;
}

Decoded reference(const std::vector<uint8_t>& bytes) {
    Decoded d;
    reference_into(bytes, &d);
    return d;
}

// The reference as the descriptor's bytes: gray, or blue, green, red through
// the reader's colour tables (checked against the formulas below).
std::vector<uint8_t> reference_pixels(const Decoded& d) {
    if (d.components == 1) {
        return d.samples;
    }
    std::vector<uint8_t> out(d.samples.size());
    const size_t n = d.samples.size() / 3;
    std::vector<uint8_t> y(n), cb(n), cr(n);
    for (size_t i = 0; i < n; ++i) {
        y[i] = d.samples[3 * i];
        cb[i] = d.samples[3 * i + 1];
        cr[i] = d.samples[3 * i + 2];
    }
    jpeg::ycc_to_bgr_row_plain(y.data(), cb.data(), cr.data(), out.data(),
                               static_cast<uint32_t>(n));
    return out;
}

// Encodes a picture with libjpeg-turbo. samples: gray or RGB, top row first.
struct Encoding {
    uint32_t width = 16, height = 16, components = 3;
    int h[3] = {1, 1, 1}, v[3] = {1, 1, 1};
    int quality = 90;
    bool progressive = false;
    bool separate_scans = false;  // sequential, one scan per component
    unsigned restart_interval = 0;
    const jpeg_scan_info* scans = nullptr;  // a scan script of its own
    int scan_count = 0;
};

std::vector<uint8_t> encode(const Encoding& e, const std::vector<uint8_t>& samples) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = e.width;
    cinfo.image_height = e.height;
    cinfo.input_components = static_cast<int>(e.components);
    cinfo.in_color_space = e.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, e.quality, TRUE);
    for (uint32_t c = 0; c < e.components; ++c) {
        cinfo.comp_info[c].h_samp_factor = e.h[c];
        cinfo.comp_info[c].v_samp_factor = e.v[c];
    }
    jpeg_scan_info scans[3];
    if (e.scans != nullptr) {
        cinfo.scan_info = e.scans;
        cinfo.num_scans = e.scan_count;
    } else if (e.progressive) {
        jpeg_simple_progression(&cinfo);
    } else if (e.separate_scans) {
        for (int c = 0; c < 3; ++c) {
            scans[c] = jpeg_scan_info{1, {c, 0, 0, 0}, 0, 63, 0, 0};
        }
        cinfo.scan_info = scans;
        cinfo.num_scans = 3;
    }
    cinfo.restart_interval = e.restart_interval;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(samples.data()) +
                       size_t{cinfo.next_scanline} * e.width * e.components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// A picture with edges, gradients and noise, so every coefficient is used.
std::vector<uint8_t> test_picture(uint32_t width, uint32_t height, uint32_t components) {
    std::vector<uint8_t> out(size_t{width} * height * components);
    std::mt19937 random(width * 31 + height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < components; ++c) {
                const uint32_t base = ((x * (c + 3) + y * 5) ^ (x * y / 7)) & 0xFF;
                const uint32_t noise = random() % 40;
                out[(size_t{y} * width + x) * components + c] =
                    static_cast<uint8_t>(((x / 5 + y / 3) % 2 ? base : 255 - base) / 2 + noise);
            }
        }
    }
    return out;
}

const ReaderEntry& jpeg_reader() {
    for (const ReaderEntry& entry : raster_readers()) {
        if (std::string(entry.extension) == ".jpg") {
            return entry;
        }
    }
    std::abort();
}

// Rows of the loaded picture (width x height of the file) as top-down bytes.
std::vector<uint8_t> picture_pixels(const ImageDesc& image, uint32_t width, uint32_t height) {
    const uint32_t bytes = image_bits(image) / 8;
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = image_row(image, y);
        out.insert(out.end(), row, row + size_t{width} * bytes);
    }
    return out;
}

// The first differing byte's index, or -1.
long first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) {
        return 0;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

class Jpeg : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / ("file" + std::to_string(++files) + ".jpg");
        test_support::write_file(path, bytes);
        return path.string();
    }

    // Opens the bytes as the viewer does.
    PictureOpen open(const std::vector<uint8_t>& bytes) {
        image_free(&image);
        return picture_open(jpeg_reader(), write(bytes).c_str(), &image);
    }

    // Opens the bytes and compares them with libjpeg-turbo's decoding.
    void expect_reference(const std::vector<uint8_t>& bytes) {
        const PictureOpen opened = open(bytes);
        ASSERT_EQ(opened.status, IMG_OK) << jpeg_last_detail();
        const Decoded want = reference(bytes);
        ASSERT_TRUE(want.ok);
        EXPECT_EQ(first_difference(picture_pixels(image, want.width, want.height),
                                   reference_pixels(want)),
                  -1);
    }

    test_support::TempDir dir;
    int files = 0;
    ImageDesc image{};
};

// ---------------------------------------------------------------------------
// The arithmetic

TEST(JpegCore, ColourTablesFollowTheirFormulas) {
    const jpeg::ColorTables& t = jpeg::color_tables();
    EXPECT_EQ(t.cr_r[0], -178);  // (91881 * -128 + 32768) / 65536, toward zero
    EXPECT_EQ(t.cr_r[255], 178);
    EXPECT_EQ(t.cb_b[0], -226);
    EXPECT_EQ(t.cr_g[128], 32768);
    EXPECT_EQ(t.cb_g[0], 22554 * 128);
    uint8_t bgr[3];
    const uint8_t mid = 128, zero = 0, full = 255;
    jpeg::ycc_to_bgr_row_plain(&mid, &mid, &mid, bgr, 1);
    EXPECT_EQ(bgr[0] | bgr[1] << 8 | bgr[2] << 16, 0x808080);
    jpeg::ycc_to_bgr_row_plain(&zero, &mid, &full, bgr, 1);
    EXPECT_EQ(bgr[2], 178);
}

// The SIMD levels this build and processor run (the plain version aside).
std::vector<simd::SimdLevel> simd_levels() {
    std::vector<simd::SimdLevel> levels;
    for (simd::SimdLevel level : {simd::SimdLevel::kSse2, simd::SimdLevel::kAvx2}) {
        if (simd::level_available(level)) {
            levels.push_back(level);
        }
    }
    return levels;
}

// Each SIMD inverse DCT gives the plain version's bytes, also for coefficients
// and tables far outside what encoders make.
TEST(JpegCore, FastInverseDctMatchesThePlainOne) {
    const jpeg::Kernels& plain = jpeg::kernels(simd::SimdLevel::kPlain);
    for (simd::SimdLevel level : simd_levels()) {
        SCOPED_TRACE(simd::level_name(level));
        const jpeg::Kernels& fast = jpeg::kernels(level);
        std::mt19937 random(7);
        alignas(16) int16_t pair[128] = {};
        for (int n = 0; n < 20000; ++n) {
            alignas(16) int16_t block[64] = {};
            alignas(16) uint16_t quant[64];
            const int range = n % 4 == 0 ? 65536 : n % 4 == 1 ? 2048 : 64;
            const int filled = 1 + n % 64;
            for (int k = 0; k < 64; ++k) {
                quant[k] = static_cast<uint16_t>(n % 3 == 0 ? random() : 1 + random() % 100);
                if (k < filled) {
                    block[jpeg::kZigzag[k]] =
                        static_cast<int16_t>(int(random() % range) - range / 2);
                }
            }
            uint8_t got[64], want[64];
            fast.idct(block, quant, got, 8);
            plain.idct(block, quant, want, 8);
            ASSERT_EQ(std::memcmp(got, want, 64), 0) << n;
            // Two blocks side by side: this one and the last one of the
            // previous round, in rows of 24 bytes whose last 8 stay as they are.
            std::memcpy(pair + 64, pair, sizeof block);
            std::memcpy(pair, block, sizeof block);
            uint8_t got_pair[8 * 24], want_pair[8 * 24];
            std::memset(got_pair, 0xEE, sizeof got_pair);
            std::memset(want_pair, 0xEE, sizeof want_pair);
            fast.idct_pair(pair, quant, got_pair, 24);
            plain.idct_pair(pair, quant, want_pair, 24);
            ASSERT_EQ(std::memcmp(got_pair, want_pair, sizeof got_pair), 0) << n;
            plain.idct(pair + 64, quant, want, 8);
            ASSERT_EQ(std::memcmp(want_pair + 8 + 24 * 7, want + 56, 8), 0) << n;
        }
    }
}

// A DC-only block gives 64 equal samples, as the full transform does; no
// coefficients at all give 128.
TEST(JpegCore, DcOnlyBlocksMatchTheFullTransform) {
    std::mt19937 random(5);
    for (int n = 0; n < 5000; ++n) {
        alignas(16) int16_t block[64] = {};
        alignas(16) uint16_t quant[64];
        for (uint16_t& q : quant) {
            q = static_cast<uint16_t>(n % 2 == 0 ? random() : 1 + random() % 100);
        }
        block[0] = static_cast<int16_t>(random());
        uint8_t dc[64], full[64];
        jpeg::idct_dc_only(block[0], quant[0], dc, 8);
        jpeg::idct_islow_plain(block, quant, full, 8);
        ASSERT_EQ(std::memcmp(dc, full, 64), 0) << n;
    }
    alignas(16) int16_t zero[64] = {};
    alignas(16) uint16_t ones[64];
    std::fill(ones, ones + 64, 1);
    uint8_t out[64];
    jpeg::idct_islow_plain(zero, ones, out, 8);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[63], 128);
}

// Each SIMD colour conversion gives the plain version's bytes for every
// sample value, with full and half-width chroma, at every row length.
TEST(JpegCore, FastColourConversionMatchesThePlainOne) {
    for (simd::SimdLevel level : simd_levels()) {
        SCOPED_TRACE(simd::level_name(level));
        const jpeg::Kernels& fast = jpeg::kernels(level);
        std::mt19937 random(11);
        std::vector<uint8_t> y(300), cb(300), cr(300);
        for (int round = 0; round < 300; ++round) {
            for (size_t i = 0; i < y.size(); ++i) {
                // Every (Cb, Cr) pair occurs over the rounds; Y at the extremes too.
                y[i] = static_cast<uint8_t>(i % 3 == 0 ? (round & 1) * 255 : random());
                cb[i] = static_cast<uint8_t>(round < 256 ? round : random());
                cr[i] = static_cast<uint8_t>(i);
            }
            for (bool half : {false, true}) {
                const uint32_t n = static_cast<uint32_t>(1 + random() % 290);
                std::vector<uint8_t> got(3 * n + 16, 0xEE), want(3 * n + 16, 0xEE);
                fast.ycc_row(y.data(), cb.data(), cr.data(), got.data(), n, half);
                jpeg::ycc_to_bgr_row_plain(y.data(), cb.data(), cr.data(), want.data(), n, half);
                ASSERT_EQ(got, want) << round << " " << half << " " << n;
                // Two rows sharing the chroma: the second luma row is the
                // first one reversed.
                const std::vector<uint8_t> y1(y.rbegin(), y.rend());
                std::vector<uint8_t> got1(got.size(), 0xEE), want1(got.size(), 0xEE);
                std::fill(got.begin(), got.end(), 0xEE);
                fast.ycc_row_pair(y.data(), y1.data(), cb.data(), cr.data(), got.data(),
                                  got1.data(), n, half);
                jpeg::ycc_to_bgr_row_plain(y1.data(), cb.data(), cr.data(), want1.data(), n, half);
                ASSERT_EQ(got, want) << round << " " << half << " " << n;
                ASSERT_EQ(got1, want1) << round << " " << half << " " << n;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Streams made by libjpeg-turbo's encoder, against its decoder

TEST_F(Jpeg, EverySamplingAndProcessMatchesTheReference) {
    struct Sampling {
        const char* name;
        int h[3], v[3];
    };
    const Sampling samplings[] = {
        {"4:4:4", {1, 1, 1}, {1, 1, 1}},          {"4:2:2", {2, 1, 1}, {1, 1, 1}},
        {"4:2:0", {2, 1, 1}, {2, 1, 1}},          {"4:4:0", {1, 1, 1}, {2, 1, 1}},
        {"4:1:1", {4, 1, 1}, {1, 1, 1}},          {"3x1", {3, 1, 1}, {1, 1, 1}},
        {"2x2 chroma 2x1", {2, 2, 1}, {2, 1, 1}}, {"gray 2x2", {2, 1, 1}, {2, 1, 1}},
    };
    for (const Sampling& s : samplings) {
        // Baseline with a restart every MCU, progressive, one scan per
        // component with restarts, progressive with restarts.
        for (int mode = 0; mode < 4; ++mode) {
            SCOPED_TRACE(testing::Message() << s.name << " mode " << mode);
            Encoding e;
            e.components = std::strncmp(s.name, "gray", 4) == 0 ? 1 : 3;
            e.width = 37 + 8 * mode;
            e.height = 29 + 5 * mode;
            std::copy(s.h, s.h + 3, e.h);
            std::copy(s.v, s.v + 3, e.v);
            e.progressive = mode == 1 || mode == 3;
            e.separate_scans = mode == 2 && e.components == 3;
            e.restart_interval = mode == 0 ? 1 : mode == 2 ? 2 : mode == 3 ? 3 : 0;
            expect_reference(encode(e, test_picture(e.width, e.height, e.components)));
        }
    }
}

std::vector<uint8_t> jpeg_of(const Encoding& e) {
    return encode(e, test_picture(e.width, e.height, e.components));
}

// Offset of the n-th marker with this code (0xFF code), or 0.
size_t find_marker(const std::vector<uint8_t>& bytes, uint8_t code, int n = 0) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == code && n-- == 0) {
            return i;
        }
    }
    return 0;
}

TEST_F(Jpeg, InfoReportsTheFrame) {
    Encoding e;
    e.width = 300;
    e.height = 7;
    e.progressive = true;
    std::vector<uint8_t> bytes = jpeg_of(e);
    JpegInfo info{};
    ASSERT_EQ(jpeg_info(write(bytes).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.process, 2);
    EXPECT_EQ(info.width, 300u);
    EXPECT_EQ(info.height, 7u);
    EXPECT_EQ(info.components, 3u);
    EXPECT_EQ(info.precision, 8u);
    EXPECT_EQ(info.component_ids[2], 3u);
    EXPECT_EQ(info.bits_per_pixel, 24u);
    e.components = 1;
    e.progressive = false;
    ASSERT_EQ(jpeg_info(write(jpeg_of(e)).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.process, 0);
    EXPECT_EQ(info.bits_per_pixel, 8u);
    EXPECT_EQ(jpeg_info((dir / "missing.jpg").c_str(), &info), IMG_ERR_OPEN);
}

// The information call's rules: SOI first, the first APP0 a JFIF header (a
// file without APP0 passes), a scan before EOI; a frame header after the first
// scan leaves process -1, which the load refuses.
TEST_F(Jpeg, InformationCallRules) {
    const std::vector<uint8_t> good = jpeg_of(Encoding{});
    ASSERT_EQ(find_marker(good, 0xE0), 2u);
    const size_t app0_end = 4 + size_t(good[4] << 8 | good[5]);
    JpegInfo info{};
    std::vector<uint8_t> no_app0 = good;
    no_app0.erase(no_app0.begin() + 2, no_app0.begin() + long(app0_end));
    EXPECT_EQ(jpeg_info(write(no_app0).c_str(), &info), IMG_OK);
    std::vector<uint8_t> jfxx = good;
    jfxx[9] = 'X';  // "JFIX": only "JFI" is compared
    EXPECT_EQ(jpeg_info(write(jfxx).c_str(), &info), IMG_OK);
    jfxx[8] = 'X';  // "JFXX"
    EXPECT_EQ(jpeg_info(write(jfxx).c_str(), &info), IMG_ERR_JPEG);
    std::vector<uint8_t> no_soi = good;
    no_soi[1] = 0xD9;
    EXPECT_EQ(jpeg_info(write(no_soi).c_str(), &info), IMG_ERR_JPEG);
    std::vector<uint8_t> early_eoi(good.begin(), good.begin() + long(app0_end));
    early_eoi.insert(early_eoi.end(), {0xFF, 0xD9});
    EXPECT_EQ(jpeg_info(write(early_eoi).c_str(), &info), IMG_ERR_JPEG);

    // The frame header moved behind the scan header.
    std::vector<uint8_t> late = good;
    const size_t sof = find_marker(late, 0xC0);
    const size_t sof_end = sof + 2 + size_t(late[sof + 2] << 8 | late[sof + 3]);
    std::vector<uint8_t> frame(late.begin() + long(sof), late.begin() + long(sof_end));
    late.erase(late.begin() + long(sof), late.begin() + long(sof_end));
    const size_t sos = find_marker(late, 0xDA);
    const size_t sos_end = sos + 2 + size_t(late[sos + 2] << 8 | late[sos + 3]);
    late.insert(late.begin() + long(sos_end), frame.begin(), frame.end());
    ASSERT_EQ(jpeg_info(write(late).c_str(), &info), IMG_OK);
    EXPECT_EQ(info.process, -1);
    ASSERT_EQ(image_alloc(&image, 16, 16, 24), IMG_OK);
    EXPECT_EQ(jpeg_load(write(late).c_str(), &image), IMG_ERR_JPEG);
    EXPECT_EQ(jpeg_last_detail(), JPEG_DETAIL_PROCESS);
}

TEST_F(Jpeg, GrayLoadsWithAGrayPaletteAndOnlyIntoEightBits) {
    Encoding e;
    e.components = 1;
    const std::vector<uint8_t> bytes = jpeg_of(e);
    expect_reference(bytes);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    EXPECT_EQ(image.color_count, 256);
    image_free(&image);
    ASSERT_EQ(image_alloc(&image, 16, 16, 24), IMG_OK);
    EXPECT_EQ(jpeg_load(write(bytes).c_str(), &image), IMG_ERR_BPP);
    image_free(&image);
    ASSERT_EQ(image_alloc(&image, 16, 16, 8), IMG_OK);
    EXPECT_EQ(jpeg_load(write(jpeg_of(Encoding{})).c_str(), &image), IMG_ERR_BPP);
}

// Only the area of interest changes; it shows the picture's top-left corner.
TEST_F(Jpeg, FillsOnlyTheAreaOfInterest) {
    Encoding e;
    e.width = 45;
    e.height = 30;
    e.h[0] = e.v[0] = 2;
    const std::vector<uint8_t> bytes = jpeg_of(e);
    const Decoded want = reference(bytes);
    const std::vector<uint8_t> pixels = reference_pixels(want);
    ASSERT_EQ(image_alloc(&image, 50, 40, 24), IMG_OK);
    std::memset(image.pixels, 0xA5, size_t{image.row_bytes} * 40);
    image_set_area(&image, 7, 5, 26, 38);
    ASSERT_EQ(jpeg_load(write(bytes).c_str(), &image), IMG_OK);
    int wrong = 0;
    for (uint32_t y = 0; y < 40; ++y) {
        for (uint32_t x = 0; x < 50; ++x) {
            const bool inside = x >= 7 && x <= 26 && y >= 5 && y <= 34;
            for (uint32_t c = 0; c < 3; ++c) {
                const uint8_t got = image_row(image, y)[3 * x + c];
                const uint8_t expected =
                    inside ? pixels[3 * ((y - 5) * 45 + (x - 7)) + c] : uint8_t{0xA5};
                wrong += got != expected;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// DHT and DQT slots above 3, Huffman tables of more than 256 codes and
// sampling factors that do not divide the largest one are refused.
TEST_F(Jpeg, RefusesBadTablesAndSampling) {
    const std::vector<uint8_t> good = jpeg_of(Encoding{});
    JpegInfo info{};
    struct Patch {
        uint8_t marker;
        size_t offset;  // from the marker
        uint8_t value;
        int32_t detail;
        size_t offset2 = 0;  // a second byte to change, when not 0
        uint8_t value2 = 0;
    };
    for (const Patch& p : {Patch{0xC4, 4, 0x14, JPEG_DETAIL_COMPONENT},  // DHT slot 4
                           Patch{0xDB, 4, 0x05, JPEG_DETAIL_COMPONENT},  // DQT slot 5
                           Patch{0xC4, 20, 0xFF, JPEG_DETAIL_HUFFMAN},   // 16-bit codes: 255 more
                           // Two 1-bit codes (the total kept): no room for the rest.
                           Patch{0xC4, 5, 2, JPEG_DETAIL_HUFFMAN, 7, 3}}) {
        SCOPED_TRACE(testing::Message() << std::hex << int(p.marker) << " " << p.offset);
        std::vector<uint8_t> bad = good;
        bad[find_marker(bad, p.marker) + p.offset] = p.value;
        if (p.offset2 != 0) {
            bad[find_marker(bad, p.marker) + p.offset2] = p.value2;
        }
        EXPECT_EQ(jpeg_info(write(bad).c_str(), &info), IMG_ERR_JPEG);
        EXPECT_EQ(jpeg_last_detail(), p.detail);
    }
    // A chroma component with sampling factors 0 x 0.
    std::vector<uint8_t> zero = good;
    zero[find_marker(zero, 0xC0) + 14] = 0x00;
    ASSERT_EQ(image_alloc(&image, 16, 16, 24), IMG_OK);
    EXPECT_EQ(jpeg_load(write(zero).c_str(), &image), IMG_ERR_JPEG);
    EXPECT_EQ(jpeg_last_detail(), JPEG_DETAIL_COMPONENT);
    image_free(&image);
    // Luma 3 x 1 with chroma 2 x 1.
    std::vector<uint8_t> bad = good;
    const size_t sof = find_marker(bad, 0xC0);
    bad[sof + 11] = 0x31;
    bad[sof + 14] = 0x21;
    ASSERT_EQ(jpeg_info(write(bad).c_str(), &info), IMG_OK);
    ASSERT_EQ(image_alloc(&image, 16, 16, 24), IMG_OK);
    EXPECT_EQ(jpeg_load(write(bad).c_str(), &image), IMG_ERR_JPEG);
    EXPECT_EQ(jpeg_last_detail(), JPEG_DETAIL_COMPONENT);
}

// A scan whose Huffman tables were never defined fails in the data.
TEST_F(Jpeg, UndefinedHuffmanTableFailsTheScan) {
    std::vector<uint8_t> bytes = jpeg_of(Encoding{});
    for (size_t dht; (dht = find_marker(bytes, 0xC4)) != 0;) {
        bytes.erase(bytes.begin() + long(dht),
                    bytes.begin() + long(dht + 2 + size_t(bytes[dht + 2] << 8 | bytes[dht + 3])));
    }
    EXPECT_EQ(open(bytes).status, IMG_ERR_LZW);
    EXPECT_EQ(jpeg_last_detail(), JPEG_DETAIL_HUFFMAN);
}

// The reader's lock serialises loads from several threads and is created
// again after its cleanup.
TEST_F(Jpeg, LoadsFromSeveralThreadsAndAfterCleanup) {
    Encoding e;
    e.width = 64;
    e.height = 48;
    const std::vector<uint8_t> bytes = jpeg_of(e);
    const std::string path = write(bytes);
    const std::vector<uint8_t> want = reference_pixels(reference(bytes));
    jpeg_cleanup();
    std::vector<std::thread> threads;
    std::vector<int> failures(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 10; ++n) {
                ImageDesc mine{};
                image_alloc(&mine, 64, 48, 24);
                failures[t] += jpeg_load(path.c_str(), &mine) != IMG_OK ||
                               picture_pixels(mine, 64, 48) != want;
                image_free(&mine);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4));
}

// A quantization entry 0 acts as 1.
TEST_F(Jpeg, QuantizationEntryZeroActsAsOne) {
    Encoding e;
    e.quality = 100;  // every entry 1
    std::vector<uint8_t> bytes = jpeg_of(e);
    const size_t dqt = find_marker(bytes, 0xDB);
    ASSERT_EQ(bytes[dqt + 5], 1);
    ImageDesc ones{};
    ASSERT_EQ(picture_open(jpeg_reader(), write(bytes).c_str(), &ones).status, IMG_OK);
    bytes[dqt + 5] = 0;
    ASSERT_EQ(open(bytes).status, IMG_OK);
    EXPECT_EQ(std::memcmp(ones.pixels, image.pixels, size_t{image.row_bytes} * 16), 0);
    image_free(&ones);
}

// Files cut at each structural boundary and inside the data (big enough for
// the helper threads where the machine has several cores): a cut before the
// first scan is refused; a cut inside the entropy-coded data gives
// IMG_ERR_LZW with the MCU rows decoded before it and zeros below. A
// progressive file cut between scans, or before its EOI, gives IMG_ERR_LZW
// with the picture the scans read make (more scans may have been meant); a
// sequential one that lacks only its EOI has every MCU and loads.
TEST_F(Jpeg, TruncatedFiles) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive);
        Encoding e;
        e.width = 1024;  // more than one input buffer of data, and helper threads
        e.height = 640;
        e.quality = 98;
        e.h[0] = e.v[0] = 2;
        e.progressive = progressive;
        const std::vector<uint8_t> whole = jpeg_of(e);
        ASSERT_GT(whole.size(), 3 * 65536u);
        const size_t sos = find_marker(whole, 0xDA);
        const size_t second_sos = find_marker(whole, 0xDA, 1);
        struct Cut {
            size_t size;
            ImgStatus status;
            bool whole_scans;  // the cut lies between scans
        };
        const std::vector<Cut> cuts = {
            {sos - 1, IMG_ERR_JPEG, false},
            {sos + 14, IMG_ERR_LZW, false},  // the scan header only
            {progressive ? second_sos : whole.size() / 2, IMG_ERR_LZW, progressive},
            {whole.size() - 300, IMG_ERR_LZW, false},
            {whole.size() - 2, progressive ? IMG_ERR_LZW : IMG_OK, true},  // no EOI
        };
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(cut.size);
            const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + long(cut.size));
            const PictureOpen opened = open(bytes);
            ASSERT_EQ(opened.status, cut.status) << jpeg_last_detail();
            if (cut.status == IMG_ERR_JPEG) {
                continue;
            }
            EXPECT_EQ(jpeg_last_detail(), cut.status == IMG_OK ? 0 : JPEG_DETAIL_DATA_ENDED);
            const Decoded want = reference(bytes);
            ASSERT_TRUE(want.ok);
            const std::vector<uint8_t> got = picture_pixels(image, e.width, e.height);
            const std::vector<uint8_t> expected = reference_pixels(want);
            if (cut.whole_scans) {
                EXPECT_EQ(first_difference(got, expected), -1);
                continue;
            }
            if (progressive) {
                continue;
            }
            // Sequential: whole MCU rows (16 picture rows) match, then zeros.
            const size_t row = size_t{e.width} * 3;
            size_t rows = 0;
            while (rows < e.height &&
                   std::equal(got.begin() + long(rows * row), got.begin() + long((rows + 1) * row),
                              expected.begin() + long(rows * row))) {
                ++rows;
            }
            EXPECT_EQ(rows % 16, 0u);
            EXPECT_EQ(rows > 0, cut.size > whole.size() / 4);
            EXPECT_TRUE(std::all_of(got.begin() + long((rows + 16) * row), got.end(),
                                    [](uint8_t b) { return b == 0; }));
        }
    }
}

// Tolerance: a frame header or quantization table between the scans of a
// progressive file is skipped; the frame and tables of the first scan hold.
TEST_F(Jpeg, FrameAndTablesBetweenScansAreSkipped) {
    Encoding e;
    e.progressive = true;
    const std::vector<uint8_t> clean = jpeg_of(e);
    std::vector<uint8_t> bytes = clean;
    const uint8_t extra[] = {0xFF, 0xC2, 0, 11, 8, 0, 99, 0, 99, 1, 1, 0x11, 0,  // 99 x 99 gray
                             0xFF, 0xDB, 0, 67, 0};
    const size_t second = find_marker(bytes, 0xDA, 1);
    bytes.insert(bytes.begin() + long(second), extra, extra + sizeof extra);
    bytes.insert(bytes.begin() + long(second + sizeof extra), 64, 7);  // the DQT's entries
    ASSERT_EQ(open(bytes).status, IMG_OK) << jpeg_last_detail();
    const Decoded want = reference(clean);
    EXPECT_EQ(first_difference(picture_pixels(image, 16, 16), reference_pixels(want)), -1);
}

// Thousands of tiny refinement scans: the series stops at the scan limit with
// the picture decoded so far in place.
TEST_F(Jpeg, ScanBombIsBounded) {
    Encoding e;
    e.components = 1;
    e.width = e.height = 8;
    e.progressive = true;
    std::vector<uint8_t> bytes = jpeg_of(e);
    const std::vector<uint8_t> clean = bytes;
    bytes.resize(bytes.size() - 2);  // EOI
    const uint8_t refine[] = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0, 0x10, 0x00};
    for (int i = 0; i < 5000; ++i) {
        bytes.insert(bytes.end(), refine, refine + sizeof refine);
    }
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    ASSERT_EQ(open(bytes).status, IMG_ERR_LZW);
    EXPECT_EQ(jpeg_last_detail(), JPEG_DETAIL_PROGRESSION);
    const Decoded want = reference(clean);
    EXPECT_EQ(first_difference(picture_pixels(image, 8, 8), reference_pixels(want)), -1);
}

// Crafted files, also fuzz seeds. Scans of nothing but end-of-band runs cost
// the file a few bytes each: first scans are stepped over run by run, and
// refinement scans, which look at every block, are bounded by the file's size
// (the picture so far stays, IMG_ERR_LZW). A progressive file cut after its
// first scan gives IMG_ERR_LZW with that scan's picture. A gray component's
// sampling factors must lie in 1..4 even though they do not matter.
TEST_F(Jpeg, CraftedFilesGiveTheirStatus) {
    const struct {
        const char* name;
        ImgStatus status;
        int32_t detail;
    } files[] = {
        // 500 first AC scans of 8000 x 8000 gray, 31 runs of 32767 blocks each.
        {"eob_run_scans_8000x8000.jpg", IMG_OK, 0},
        // 500 AC refinement scans of 8000 x 2000 gray, end-of-band runs only.
        {"eob_refine_scans_8000x2000.jpg", IMG_ERR_LZW, JPEG_DETAIL_PROGRESSION},
        {"progressive_cut_after_first_scan.jpg", IMG_ERR_LZW, JPEG_DETAIL_DATA_ENDED},
        {"gray_sampling_factors_0.jpg", IMG_ERR_JPEG, JPEG_DETAIL_COMPONENT},
    };
    const fs::path seeds = test_support::source_dir() / "fuzz/seeds/jpg_load_fuzz";
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        image_free(&image);
        const std::string path = (seeds / file.name).string();
        ASSERT_EQ(picture_open(jpeg_reader(), path.c_str(), &image).status, file.status);
        EXPECT_EQ(jpeg_last_detail(), file.detail);
        if (file.detail == JPEG_DETAIL_DATA_ENDED) {
            // The cut file: what libjpeg-turbo makes of the same bytes.
            const Decoded want = reference(test_support::read_file(path));
            ASSERT_TRUE(want.ok);
            EXPECT_EQ(first_difference(picture_pixels(image, want.width, want.height),
                                       reference_pixels(want)),
                      -1);
        } else if (file.status != IMG_ERR_JPEG) {
            // The crafted scans leave every coefficient 0: samples of 128.
            EXPECT_EQ(image_row(image, image_height(image) - 1)[0], 128);
            EXPECT_EQ(image_row(image, 0)[image_width(image) - 1], 128);
        }
    }
}

// The refinement budget leaves real files whole: flat pictures, whose scans
// hold the least data per block, load in full in libjpeg-turbo's ten-scan
// progression and in one of ten single-bit refinements of every coefficient.
TEST_F(Jpeg, FlatProgressivePicturesLoadWhole) {
    // DC and AC first at Al 10, then ten refinements of each, component by
    // component.
    std::vector<jpeg_scan_info> script;
    for (int c = 0; c < 3; ++c) {
        script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, 0, 0, 0, 10});
        script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, 1, 63, 0, 10});
        for (int al = 9; al >= 0; --al) {
            script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, 0, 0, al + 1, al});
            script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, 1, 63, al + 1, al});
        }
    }
    for (uint32_t components : {1u, 3u}) {
        for (bool refinements : {false, true}) {
            SCOPED_TRACE(testing::Message() << components << " " << refinements);
            Encoding e;
            e.width = 2048;
            e.height = 1024;
            e.components = components;
            e.progressive = true;
            if (refinements) {
                e.scans = script.data();
                e.scan_count = static_cast<int>(script.size() / 3 * components);
            }
            const std::vector<uint8_t> flat(size_t{e.width} * e.height * components, 90);
            expect_reference(encode(e, flat));
        }
    }
}

// ---------------------------------------------------------------------------
// The helper threads of big pictures (also run under ThreadSanitizer)

// A frame's geometry as the reader sets it up: one component (gray) or three
// with luma h x v and chroma 1 x 1.
void set_up_frame(jpeg::Decoder& d, const uint16_t* quant, uint32_t width, uint32_t height,
                  uint32_t components, uint32_t h, uint32_t v) {
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
        comp.quant = quant;
    }
}

// Outputs every MCU row of random coefficients (the same ones each call)
// through a ring with the given helpers, the last row only partly decoded.
std::vector<uint8_t> output_through_ring(const jpeg::Decoder& d, uint32_t helpers,
                                         jpeg::RowPipeline::Rows kind,
                                         const jpeg::Kernels& kernels = jpeg::kernels()) {
    ImageDesc image{};
    EXPECT_EQ(image_alloc(&image, d.frame.width, d.frame.height, d.frame.count == 1 ? 8 : 24),
              IMG_OK);
    jpeg::PictureOutput out;
    out.start(d, image, kernels);
    std::vector<std::vector<int16_t>> views(size_t{d.mcus_high} * 3);  // the caller's rows
    std::mt19937 random(99);
    {
        jpeg::RowPipeline ring;
        EXPECT_EQ(ring.start(out, helpers, kind), IMG_OK);
        for (uint32_t y = 0; y < d.mcus_high; ++y) {
            jpeg::CoefficientRow& row = ring.next_free();
            for (uint32_t c = 0; c < d.frame.count; ++c) {
                const size_t blocks = size_t{out.row_blocks(c)} * out.block_rows(c);
                if (kind == jpeg::RowPipeline::Rows::kViews) {
                    views[3 * y + c].assign(blocks * 64, 0);
                    row.blocks[c] = views[3 * y + c].data();
                    row.last[c] = nullptr;
                }
                for (size_t b = 0; b < blocks; ++b) {
                    int16_t* block = row.blocks[c] + b * 64;
                    EXPECT_EQ(block[1], 0);  // a row comes back with its coefficients 0
                    block[0] = static_cast<int16_t>(int(random() % 512) - 256);
                    const bool dc_only = random() % 3 == 0;
                    if (!dc_only) {
                        block[1 + random() % 63] = static_cast<int16_t>(int(random() % 64) - 32);
                    }
                    if (row.last[c] != nullptr) {
                        row.last[c][b] = dc_only ? 0 : 63;
                    }
                }
            }
            const uint32_t mcus = y + 1 == d.mcus_high ? d.mcus_wide / 2 : d.mcus_wide;
            ring.hand_over(y, mcus * d.mcu_width);
        }
        ring.finish();
    }
    const std::vector<uint8_t> pixels(image.pixels,
                                      image.pixels + size_t{image.row_bytes} * d.frame.height);
    image_free(&image);
    return pixels;
}

// The output stage gives the same picture with each level's kernels: pairs of
// blocks, blocks of DC only beside full ones, rows of 4:2:0 two at a time, and
// the rows' ends.
TEST(JpegThreads, EveryKernelLevelGivesThePlainPicture) {
    uint16_t quant[64];
    std::fill(quant, quant + 64, 5);
    for (uint32_t width : {250u, 257u}) {
        jpeg::Decoder d;
        set_up_frame(d, quant, width, 70, 3, 2, 2);
        const std::vector<uint8_t> plain = output_through_ring(
            d, 0, jpeg::RowPipeline::Rows::kOwned, jpeg::kernels(simd::SimdLevel::kPlain));
        for (simd::SimdLevel level : simd_levels()) {
            EXPECT_EQ(
                output_through_ring(d, 0, jpeg::RowPipeline::Rows::kOwned, jpeg::kernels(level)),
                plain)
                << simd::level_name(level) << " " << width;
        }
    }
}

TEST(JpegThreads, AnyNumberOfHelpersGivesTheSamePicture) {
    struct Case {
        uint32_t width, height, components, h, v;
    };
    uint16_t quant[64];
    std::fill(quant, quant + 64, 3);
    for (const Case& k : {Case{301, 97, 1, 1, 1}, Case{250, 90, 3, 2, 2}, Case{97, 40, 3, 2, 1}}) {
        SCOPED_TRACE(testing::Message() << k.width << " x " << k.height << " " << k.components);
        jpeg::Decoder d;
        set_up_frame(d, quant, k.width, k.height, k.components, k.h, k.v);
        for (auto kind : {jpeg::RowPipeline::Rows::kOwned, jpeg::RowPipeline::Rows::kViews}) {
            const std::vector<uint8_t> alone = output_through_ring(d, 0, kind);
            for (uint32_t helpers : {1u, 3u, 7u}) {
                EXPECT_EQ(output_through_ring(d, helpers, kind), alone) << helpers;
            }
        }
    }
}

// Pictures above the size for helpers, sequential (with and without restarts)
// and progressive, gray and colour, loaded on two threads at once as the
// viewer's windows might.
TEST_F(Jpeg, BigPicturesMatchTheReference) {
    std::vector<std::string> paths;
    std::vector<std::vector<uint8_t>> wanted;
    std::vector<uint32_t> bits;
    for (int kind = 0; kind < 5; ++kind) {
        Encoding e;
        e.width = 1024;
        e.height = 640;
        static_assert(uint64_t{1024} * 640 >= jpeg::kThreadedPixels);
        e.components = kind == 2 || kind == 4 ? 1 : 3;
        e.h[0] = e.v[0] = 2;
        e.progressive = kind >= 3;
        e.restart_interval = kind == 1 || kind == 4 ? 7 : 0;
        const std::vector<uint8_t> bytes = jpeg_of(e);
        paths.push_back(write(bytes));
        wanted.push_back(reference_pixels(reference(bytes)));
        bits.push_back(e.components == 1 ? 8 : 24);
    }
    std::vector<int> failures(2);
    std::vector<std::thread> loaders;
    for (int t = 0; t < 2; ++t) {
        loaders.emplace_back([&, t] {
            for (size_t i = 0; i < paths.size(); ++i) {
                ImageDesc mine{};
                image_alloc(&mine, 1024, 640, static_cast<int32_t>(bits[i]));
                failures[t] += jpeg_load(paths[i].c_str(), &mine) != IMG_OK ||
                               picture_pixels(mine, 1024, 640) != wanted[i];
                image_free(&mine);
            }
        });
    }
    for (std::thread& loader : loaders) {
        loader.join();
    }
    EXPECT_EQ(failures, std::vector<int>(2));
}

// ---------------------------------------------------------------------------
// The public suites: every file gives a status; those the reader supports match
// libjpeg-turbo.

// Every file whose outcome is not a plain success, with its detail and the
// reason. Files loaded with IMG_OK are compared with libjpeg-turbo unless it
// cannot decode them.
constexpr const char* kOutcomes = R"(
pillow/pil_sample_cmyk.jpg                          IMG_ERR_JPEG    -109  four components (CMYK)
jpeg-decoder/reftest/mozilla/jpg-cmyk-1.jpg         IMG_ERR_JPEG    -109
jpeg-decoder/reftest/mozilla/jpg-cmyk-2.jpg         IMG_ERR_JPEG    -109
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel1.jpg IMG_ERR_JPEG -110  lossless (SOF3)
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel2.jpg IMG_ERR_JPEG -110
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel3.jpg IMG_ERR_JPEG -110
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel4.jpg IMG_ERR_JPEG -110
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel5.jpg IMG_ERR_JPEG -110
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel6.jpg IMG_ERR_JPEG -110
jpeg-decoder/reftest/lossless/1/jpeg_lossless_sel7.jpg IMG_ERR_JPEG -110
jpeg-decoder/crashtest/invalid-prediction-shift.jpg IMG_ERR_JPEG    -110
libjpeg-turbo/testimgari.jpg                        IMG_ERR_JPEG    -110  arithmetic coding (SOF9)
libjpeg-turbo/monkey12.jpg                          IMG_ERR_JPEG    -100  12-bit samples
jpeg-decoder/reftest/mjpeg.jpg                      IMG_ERR_JPEG    0     first APP0 is AVI1, not JFIF
image-rs/oss-fuzz-36829.jpeg                        IMG_ERR_JPEG    0
jpeg-decoder/reftest/mozilla/jpg-size-6x6.jpg       IMG_ERR_JPEG    0     a PNG file: no SOI
jpeg-decoder/crashtest/missing-sos.jpg              IMG_ERR_JPEG    0     EOI before a scan
jpeg-decoder/crashtest/missing-frame-image-1410.jpg IMG_ERR_JPEG    0
jpeg-decoder/crashtest/missing-sof.jpg              IMG_ERR_JPEG    -101  the file ends before a scan
jpeg-decoder/crashtest/invalid-dimensions.jpg       IMG_ERR_JPEG    -101
jpeg-decoder/crashtest/derive-huffman-codes-overflow.jpg IMG_ERR_JPEG -105 codes beyond their lengths
jpeg-decoder/crashtest/max_size.jpg                 IMG_ERR_MEMORY  0     65535 x 65535: the allocation refuses
jpeg-decoder/reftest/partial_progressive.jpg        IMG_ERR_LZW     -101  the data ends inside a scan
pillow/truncated_jpeg.jpg                           IMG_ERR_LZW     -101  the data ends between scans
jpeg-decoder/crashtest/dc-predictor-overflow.jpg    IMG_ERR_LZW     -101
jpeg-decoder/crashtest/subtract-with-overflow.jpg   IMG_ERR_LZW     -105  a code longer than 16 bits
jpeg-decoder/reftest/rgb.jpg                        IMG_OK          0     RGB components, taken as YCbCr
jpeg-decoder/crashtest/null_height.jpg              IMG_OK          0     width 0: nothing to decode
)";

struct Outcome {
    std::string status;
    int32_t detail = 0;
};

std::map<std::string, Outcome> outcome_table() {
    std::map<std::string, Outcome> out;
    std::istringstream lines(kOutcomes);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        Outcome o;
        if (fields >> name >> o.status >> o.detail) {
            out[name] = o;
        }
    }
    return out;
}

TEST_F(Jpeg, CorpusFilesGiveTheirStatusAndMatchTheReference) {
    const fs::path corpus = test_support::corpus_dir("jpeg");
    if (corpus.empty()) {
        GTEST_SKIP() << "JPEG corpus not present";
    }
    const auto outcomes = outcome_table();
    int files = 0, matched = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".jpg" && ext != ".jpeg")) {
            continue;
        }
        const std::string name = fs::relative(entry.path(), corpus).string();
        SCOPED_TRACE(name);
        ++files;
        image_free(&image);
        const PictureOpen opened = picture_open(jpeg_reader(), entry.path().c_str(), &image);
        const auto it = outcomes.find(name);
        const Outcome want = it == outcomes.end() ? Outcome{"IMG_OK", 0} : it->second;
        EXPECT_EQ(status_name(opened.status), want.status);
        EXPECT_EQ(jpeg_last_detail(), want.detail);
        const Decoded ref = reference(test_support::read_file(entry.path()));
        if (opened.status != IMG_OK || !ref.ok) {
            continue;
        }
        // Also the files libjpeg-turbo warns about (extra bytes, a missing
        // scan, a file cut between scans) give the same pixels.
        EXPECT_EQ(
            first_difference(picture_pixels(image, ref.width, ref.height), reference_pixels(ref)),
            -1);
        ++matched;
    }
    EXPECT_EQ(files, 80);
    EXPECT_EQ(matched, 52);
}

}  // namespace
