#include "imaging/image.h"
#include "imaging/module_lock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace imaging;

namespace {

bool is_all_zero(const ImageDesc& image) {
    ImageDesc zero{};
    return std::memcmp(&image, &zero, sizeof image) == 0;
}

class AllocatedImage : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }
    ImageDesc image{};
};

using ImageAlloc = AllocatedImage;

TEST_F(ImageAlloc, FourBitsBecomesEightBitGrayRamp) {
    ASSERT_EQ(image_alloc(&image, 10, 3, 4), IMG_OK);
    EXPECT_EQ(image.header->biBitCount, 8);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.header->biClrUsed, 256u);
    EXPECT_EQ(image.header->biClrImportant, 256u);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(image.palette[i].blue, i);
        EXPECT_EQ(image.palette[i].green, i);
        EXPECT_EQ(image.palette[i].red, i);
        EXPECT_EQ(image.palette[i].reserved, 0);
    }
    EXPECT_EQ(image.row_bytes, 12u);
    EXPECT_EQ(palette_is_gray(&image), 1);
}

TEST_F(ImageAlloc, RowBytesArePaddedToFour) {
    struct Case {
        int32_t width, bits;
        uint32_t row_bytes;
    };
    for (Case c : {Case{1, 1, 4}, Case{1, 24, 4}, Case{5, 24, 16}, Case{33, 1, 8}, Case{3, 8, 4},
                   Case{3, 16, 8}}) {
        ASSERT_EQ(image_alloc(&image, c.width, 2, c.bits), IMG_OK);
        EXPECT_EQ(image.row_bytes, c.row_bytes) << c.width << " x " << c.bits;
        EXPECT_EQ(image.header->biSizeImage, c.row_bytes * 2);
        image_free(&image);
    }
}

TEST_F(ImageAlloc, HeaderAndLayoutAreContiguous) {
    ASSERT_EQ(image_alloc(&image, 7, 5, 8), IMG_OK);
    const auto* block = reinterpret_cast<const uint8_t*>(image.header);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(image.palette), block + 40);
    EXPECT_EQ(image.pixels, block + 40 + 4 * 256);
    EXPECT_EQ(image.header->biSize, 40u);
    EXPECT_EQ(image.header->biWidth, 7);
    EXPECT_EQ(image.header->biHeight, 5);
    EXPECT_EQ(image.header->biPlanes, 1);
    EXPECT_EQ(image.header->biCompression, 0u);
    EXPECT_EQ(image.area_left, 0u);
    EXPECT_EQ(image.area_top, 0u);
    EXPECT_EQ(image.area_right, 6u);
    EXPECT_EQ(image.area_bottom, 4u);
    EXPECT_EQ(image.section_bitmap, nullptr);
    // Rows are bottom-up: the top row is the last one in memory.
    EXPECT_EQ(image_row(image, 0), image.pixels + 4 * image.row_bytes);
    EXPECT_EQ(image_row(image, 4), image.pixels);
}

TEST_F(ImageAlloc, ColorDepthsAndFlags) {
    ASSERT_EQ(image_alloc(&image, 4, 4, 24), IMG_OK);
    EXPECT_EQ(image.color_count, 0);
    EXPECT_EQ(image.type_flags, 0u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(image.palette),
              reinterpret_cast<uint8_t*>(image.header) + 40);
    EXPECT_EQ(image.pixels, reinterpret_cast<uint8_t*>(image.palette));
    image_free(&image);

    ASSERT_EQ(image_alloc(&image, 4, 4, 16), IMG_OK);
    EXPECT_EQ(image.color_count, 0);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
    image_free(&image);

    ASSERT_EQ(image_alloc(&image, 4, 4, 1), IMG_OK);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(image.palette[0].red, 0);
    EXPECT_EQ(image.palette[1].red, 255);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
}

TEST_F(ImageAlloc, RefusedRequestsLeaveAnEmptyDescriptor) {
    for (int32_t bits : {2, 32, 0, -8}) {
        std::memset(&image, 0xAB, sizeof image);
        EXPECT_EQ(image_alloc(&image, 4, 4, bits), IMG_ERR_BPP) << bits;
        EXPECT_TRUE(is_all_zero(image));
    }
    EXPECT_EQ(image_alloc(&image, 0, 4, 8), IMG_ERR_RANGE);
    EXPECT_TRUE(is_all_zero(image));
    EXPECT_EQ(image_alloc(&image, 4, 0, 24), IMG_ERR_RANGE);
    EXPECT_TRUE(is_all_zero(image));
}

TEST_F(ImageAlloc, SizesThatWouldOverflowAreRefusedAsMemory) {
    // A row wider than 2^31 bytes, a negative size, and a block beyond 2 GiB.
    EXPECT_EQ(image_alloc(&image, INT32_MAX, 1, 24), IMG_ERR_MEMORY);
    EXPECT_TRUE(is_all_zero(image));
    EXPECT_EQ(image_alloc(&image, -5, 10, 8), IMG_ERR_MEMORY);
    EXPECT_EQ(image_alloc(&image, 10, -5, 8), IMG_ERR_MEMORY);
    EXPECT_EQ(image_alloc(&image, 65536, 65536, 24), IMG_ERR_MEMORY);
    EXPECT_EQ(image_alloc(&image, 46341, 46341, 8), IMG_ERR_MEMORY);
    EXPECT_TRUE(is_all_zero(image));
}

TEST(ImageFree, EmptyAndSecondFreeReturnOne) {
    ImageDesc image{};
    EXPECT_EQ(image_free(&image), 1);
    EXPECT_TRUE(is_all_zero(image));
    ASSERT_EQ(image_alloc(&image, 3, 3, 8), IMG_OK);
    EXPECT_EQ(image_free(&image), IMG_OK);
    EXPECT_TRUE(is_all_zero(image));
    EXPECT_EQ(image_free(&image), 1);
}

TEST(ImageCopyDesc, SharesStorageAndKeepsPhoneAttributes) {
    ImageDesc source{};
    ASSERT_EQ(image_alloc(&source, 3, 3, 8), IMG_OK);
    source.location_x = 7;
    source.depth = 2;
    std::memcpy(source.title, "logo", 4);
    ImageDesc copy{};
    image_copy_desc(&source, &copy);
    EXPECT_EQ(copy.header, source.header);
    EXPECT_EQ(copy.pixels, source.pixels);
    EXPECT_EQ(copy.location_x, 7);
    EXPECT_EQ(copy.depth, 2);
    EXPECT_EQ(std::string(copy.title, 4), "logo");
    EXPECT_EQ(image_free(&copy), IMG_OK);  // exactly one holder frees
}

using ImageCheck = AllocatedImage;

TEST_F(ImageCheck, ReordersReversedCorners) {
    ASSERT_EQ(image_alloc(&image, 10, 10, 8), IMG_OK);
    image_set_area(&image, 8, 9, 2, 1);
    EXPECT_EQ(image_check_8_24(&image), IMG_OK);
    EXPECT_EQ(image.area_left, 2u);
    EXPECT_EQ(image.area_right, 8u);
    EXPECT_EQ(image.area_top, 1u);
    EXPECT_EQ(image.area_bottom, 9u);
}

TEST_F(ImageCheck, StatusesInTheirOrder) {
    EXPECT_EQ(image_check_8_24(&image), IMG_ERR_BAD_BUFFER);  // empty descriptor
    ASSERT_EQ(image_alloc(&image, 10, 10, 1), IMG_OK);
    EXPECT_EQ(image_check_8_24(&image), IMG_ERR_BPP);
    EXPECT_EQ(image_check_1_8_24(&image), IMG_OK);

    image.header->biCompression = 1;  // compression wins over the depth test
    EXPECT_EQ(image_check_8_24(&image), IMG_ERR_COMPRESSED);
    image.header->biCompression = 0;

    image.area_right = 10;
    EXPECT_EQ(image_check_1_8_24(&image), IMG_ERR_RANGE);
    image.area_right = 9;
    image.area_bottom = 10;
    EXPECT_EQ(image_check_1_8_24(&image), IMG_ERR_RANGE);
    image.area_bottom = 9;

    image.row_bytes = 1;  // (1 * 10) / 8 = 1 fits; one more column does not
    EXPECT_EQ(image_check_1_8_24(&image), IMG_OK);
    image.header->biWidth = 16;
    image.row_bytes = 1;
    EXPECT_EQ(image_check_1_8_24(&image), IMG_ERR_RANGE);
    image.row_bytes = 4;
    image.header->biWidth = 10;

    BitmapInfoHeader* header = image.header;
    image.header = nullptr;
    EXPECT_EQ(image_check_1_8_24(&image), IMG_ERR_RANGE);
    image.header = header;

    ASSERT_EQ(image_free(&image), IMG_OK);
    ASSERT_EQ(image_alloc(&image, 4, 4, 16), IMG_OK);
    EXPECT_EQ(image_check_1_8_24(&image), IMG_ERR_BPP);
    EXPECT_EQ(image_check_1_8_16_24(&image), IMG_OK);
}

TEST_F(ImageCheck, ColumnLimitDependsOnDepth) {
    ASSERT_EQ(image_alloc(&image, 32769, 1, 8), IMG_OK);
    image.area_right = 32768;
    EXPECT_EQ(image_check_8_24(&image), IMG_ERR_RANGE);
    image_free(&image);

    ASSERT_EQ(image_alloc(&image, 32769, 1, 1), IMG_OK);
    image.area_right = 32768;
    EXPECT_EQ(image_check_1_8_24(&image), IMG_OK);
}

TEST_F(ImageCheck, RowLimitIs32768) {
    ASSERT_EQ(image_alloc(&image, 1, 32769, 8), IMG_OK);
    EXPECT_EQ(image_check_8_24(&image), IMG_ERR_RANGE);
    image.area_bottom = 32767;
    EXPECT_EQ(image_check_8_24(&image), IMG_OK);
}

TEST(GrayStep, Table) {
    const int32_t expected[] = {255, 255, 85, 36, 17, 8, 4, 2, 1};
    for (int32_t bits = 0; bits <= 8; ++bits) {
        EXPECT_EQ(gray_step(bits), expected[bits]) << bits;
    }
    EXPECT_EQ(gray_step(16), 1);
    EXPECT_EQ(gray_step(-1), 1);
}

using PaletteGray = AllocatedImage;

TEST_F(PaletteGray, RampIsGrayAndAnyChangeIsNot) {
    ASSERT_EQ(image_alloc(&image, 2, 2, 8), IMG_OK);
    EXPECT_EQ(palette_is_gray(&image), 1);
    image.palette[77].blue = 78;
    EXPECT_EQ(palette_is_gray(&image), 0);
    image.palette[77] = PaletteEntry{76, 76, 76, 0};  // gray, but off the ramp
    EXPECT_EQ(palette_is_gray(&image), 0);
    image.color_count = 77;  // only the entries in use count
    EXPECT_EQ(palette_is_gray(&image), 1);
    image.color_count = 0;
    EXPECT_EQ(palette_is_gray(&image), 0);
}

TEST_F(PaletteGray, OneBitBlackWhiteAndSixteenBit) {
    ASSERT_EQ(image_alloc(&image, 2, 2, 1), IMG_OK);
    EXPECT_EQ(palette_is_gray(&image), 1);
    image.palette[1] = PaletteEntry{254, 254, 254, 0};
    EXPECT_EQ(palette_is_gray(&image), 0);
    image_free(&image);

    ASSERT_EQ(image_alloc(&image, 2, 2, 16), IMG_OK);
    EXPECT_EQ(palette_is_gray(&image), 1);
    image.type_flags = 0;
    EXPECT_EQ(palette_is_gray(&image), 0);
    palette_set_gray(&image);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
}

TEST_F(PaletteGray, SetGrayUsesColoursUsedAndStaysInsideTheTable) {
    ASSERT_EQ(image_alloc(&image, 2, 2, 8), IMG_OK);
    image.header->biClrUsed = 4;
    palette_set_gray(&image);
    EXPECT_EQ(image.color_count, 4);
    EXPECT_EQ(image.palette[3].red, 3);  // the 8-bit step is 1 whatever the count

    image.header->biClrUsed = 100000;  // larger than the table: fills only 256
    palette_set_gray(&image);
    EXPECT_EQ(image.palette[255].red, 255);
}

TEST_F(PaletteGray, FinishAppliesTheReaderRule) {
    ASSERT_EQ(image_alloc(&image, 2, 2, 8), IMG_OK);
    image.palette[0] = PaletteEntry{0, 0, 255, 0};
    image.palette[1] = PaletteEntry{255, 0, 0, 0};
    palette_finish(&image, 2);
    EXPECT_EQ(image.color_count, 2);
    EXPECT_EQ(image.type_flags, 0u);

    image.palette[0] = PaletteEntry{0, 0, 0, 0};
    image.palette[1] = PaletteEntry{1, 1, 1, 0};
    palette_finish(&image, 2);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);

    image.palette[5] = PaletteEntry{9, 8, 7, 0};
    palette_finish(&image, 0);  // no table in the file: default ramp
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.palette[5].red, 5);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
}

TEST(CommonArea, SmallerExtentWins) {
    ImageDesc a{};
    ImageDesc b{};
    image_set_area(&a, 2, 3, 11, 7);  // 10 columns, 5 rows
    image_set_area(&b, 0, 0, 5, 19);  // 6 columns, 20 rows
    uint32_t rows = 0;
    uint32_t columns = 0;
    image_common_area(&a, &b, &rows, &columns);
    EXPECT_EQ(rows, 5u);
    EXPECT_EQ(columns, 6u);
}

TEST(StatusName, NamesKnownAndUnknownCodes) {
    EXPECT_STREQ(status_name(IMG_OK), "IMG_OK");
    EXPECT_STREQ(status_name(-14), "IMG_ERR_MEMORY");
    EXPECT_STREQ(status_name(-63), "IMG_ERR_PNG");
    EXPECT_STREQ(status_name(-212), "IMG_ERR_XML_UNKNOWN");
    EXPECT_STREQ(status_name(-3), "IMG_UNKNOWN_STATUS");
}

TEST(ModuleLockTest, CreatedOnFirstUseAndDestroyed) {
    ModuleLock lock;
    EXPECT_FALSE(lock.created());
    {
        auto held = lock.acquire();
        EXPECT_TRUE(held.owns_lock());
    }
    EXPECT_TRUE(lock.created());
    lock.destroy();
    EXPECT_FALSE(lock.created());
    lock.destroy();  // harmless when never created again
    library_shutdown();
}

}  // namespace
