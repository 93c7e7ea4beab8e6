#include "phoneimage/qap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/readers/picture_open.h"
#include "phoneimage/phone_image.h"
#include "tests/phoneimage/phone_document.h"
#include "tests/support/test_support.h"
#include "viewer/core/picture_formats.h"

using namespace imaging;
using namespace phoneimage;
using viewer::phone_image_reader;

namespace {

using phone_document::document;
using phone_document::hex_data;

class Qap : public ::testing::Test {
  protected:
    void TearDown() override { image_free(&image); }

    std::string write(const std::string& text) {
        const std::string path = (dir / ("doc" + std::to_string(count++) + ".qap")).string();
        test_support::write_text(path, text);
        return path;
    }

    // Allocates the image as the viewer's document does (the information
    // call's size, each raised to at least 16, at 4 bits per pixel) and loads.
    ImgStatus open_like_viewer(const std::string& path) {
        const PictureOpen opened = picture_open(phone_image_reader(), path.c_str(), &image);
        EXPECT_EQ(opened.stage, OpenStage::kLoad);
        return opened.status;
    }

    uint8_t at(uint32_t x, uint32_t y) const { return image_row(image, y)[x]; }

    test_support::TempDir dir;
    int count = 0;
    ImageDesc image{};
};

std::vector<uint8_t> random_values(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> values(count);
    for (auto& v : values) {
        v = static_cast<uint8_t>(rng() & 3);
    }
    return values;
}

TEST_F(Qap, LogoOfPhoneSize) {
    std::vector<uint8_t> values = random_values(133 * 65, 1);
    values[0] = 0;  // white top-left corner
    const std::string path =
        write(phone_document::image_document(133, 65, 2, values, "Tarvo", "Press OK"));

    QapInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(qap_info(path.c_str(), &info), IMG_OK);
    EXPECT_EQ(info.width, 133);
    EXPECT_EQ(info.height, 65);
    EXPECT_EQ(info.depth, 2);
    EXPECT_EQ(info.location_x, 0);
    EXPECT_EQ(std::string(info.title), "Tarvo");
    EXPECT_EQ(std::string(info.prompt), "Press OK");
    EXPECT_TRUE(
        std::all_of(info.title + 5, info.title + kPhoneTextBytes, [](char c) { return c == 0; }));

    ASSERT_EQ(open_like_viewer(path), IMG_OK);
    EXPECT_EQ(image.header->biWidth, 133);
    EXPECT_EQ(image.header->biHeight, 65);
    EXPECT_EQ(image.header->biBitCount, 8);
    EXPECT_EQ(image.color_count, 4);
    EXPECT_EQ(image.header->biClrUsed, 4u);
    EXPECT_EQ(image.header->biClrImportant, 4u);
    EXPECT_EQ(image.type_flags & IMAGE_GRAY, 0u);  // the title says "Color"
    const uint8_t levels[4] = {0, 85, 170, 255};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image.palette[i].blue, levels[i]);
        EXPECT_EQ(image.palette[i].green, levels[i]);
        EXPECT_EQ(image.palette[i].red, levels[i]);
        EXPECT_EQ(image.palette[i].reserved, 0);
    }
    EXPECT_EQ(image.palette[4].red, 4);  // entries from 4 up keep the allocator's ramp
    EXPECT_EQ(image.depth, 2);
    EXPECT_EQ(std::string(image.title), "Tarvo");
    EXPECT_EQ(at(0, 0), 3);  // white
    for (uint32_t y = 0; y < 65; ++y) {
        for (uint32_t x = 0; x < 133; ++x) {
            ASSERT_EQ(at(x, y), 3 - values[y * 133 + x]) << x << "," << y;
        }
    }
}

TEST_F(Qap, StoredIndexIsThreeMinusValue) {
    // Values 0, 1, 2, 3 in the first row.
    const std::string path = write(document("<Width>4</Width><Height>1</Height><Data>E4</Data>"));
    ASSERT_EQ(open_like_viewer(path), IMG_OK);
    EXPECT_EQ(at(0, 0), 3);  // white
    EXPECT_EQ(at(1, 0), 2);  // light gray, 170
    EXPECT_EQ(at(2, 0), 1);  // dark gray, 85
    EXPECT_EQ(at(3, 0), 0);  // black
    EXPECT_EQ(image.palette[at(1, 0)].red, 170);
}

TEST_F(Qap, LongTextsKeepTheirFirst255Bytes) {
    const std::string title(300, 'T');
    const std::string prompt = std::string(254, 'p') + "\xC3\xA9";  // cut inside the last character
    const std::string path = write(
        document("<Title>" + title + "</Title><Prompt>" + prompt + "</Prompt><Width>1</Width>"));
    QapInfo info;
    ASSERT_EQ(qap_info(path.c_str(), &info), IMG_OK);
    EXPECT_EQ(std::string(info.title, kPhoneTextBytes), title.substr(0, 255));
    EXPECT_EQ(std::string(info.prompt, kPhoneTextBytes), prompt.substr(0, 255));
    EXPECT_EQ(info.width, 1);  // the field after title is untouched by it
    ASSERT_EQ(open_like_viewer(path), IMG_OK);
    EXPECT_EQ(std::string(image.title, kPhoneTextBytes), title.substr(0, 255));
}

TEST_F(Qap, InformationStopsBeforeData) {
    const std::string path =
        write(document("<Width>20</Width><Data>00</Data><Height>18</Height><Unknown>1</Unknown>"));
    QapInfo info;
    ASSERT_EQ(qap_info(path.c_str(), &info), IMG_OK);
    EXPECT_EQ(info.width, 20);
    EXPECT_EQ(info.height, 0);  // after Data: not seen
    EXPECT_EQ(open_like_viewer(path), IMG_ERR_XML_UNKNOWN);
    // A bad Data does not disturb the information call either.
    const std::string bad = write(document("<Width>17</Width><Data>zz</Data>"));
    ASSERT_EQ(qap_info(bad.c_str(), &info), IMG_OK);
    EXPECT_EQ(info.width, 17);
    EXPECT_EQ(open_like_viewer(bad), IMG_ERR_XML_DATA);
}

TEST_F(Qap, DocumentThatDoesNotParse) {
    const std::string path = write("<TarvoIPPhoneImage><Width>5</Width>");
    QapInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(qap_info(path.c_str(), &info), IMG_OK);
    const QapInfo zero{};
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    EXPECT_EQ(open_like_viewer(path), IMG_ERR_XML_LOAD);
    EXPECT_EQ(image.header->biWidth, 16);
    EXPECT_EQ(image.header->biHeight, 16);
    EXPECT_EQ(at(0, 0), 0);  // rows untouched
    EXPECT_EQ(qap_load((dir / "missing.qap").c_str(), &image), IMG_ERR_XML_LOAD);
}

TEST_F(Qap, EveryStatus) {
    struct Case {
        std::string text;
        ImgStatus status;
    };
    const Case cases[] = {
        {"<TarvoIPPhoneImage", IMG_ERR_XML_LOAD},
        {"<TarvoIPPhoneImage a=\"1\"/>", IMG_ERR_XML_ROOT},
        {"<Tarvo/>", IMG_ERR_XML_ROOT},
        {document("<Title/>"), IMG_ERR_XML_NO_TEXT},
        {document("<Title><b>x</b></Title>"), IMG_ERR_XML_NOT_TEXT},
        {document("<LocationX>x</LocationX>"), IMG_ERR_XML_LOCATION_X},
        {document("<LocationY>1 2</LocationY>"), IMG_ERR_XML_LOCATION_Y},
        {document("<Width>0x10</Width>"), IMG_ERR_XML_WIDTH},
        {document("<Height>12px</Height>"), IMG_ERR_XML_HEIGHT},
        {document("<Depth>two</Depth>"), IMG_ERR_XML_DEPTH},
        {document("<Data>00 00</Data>"), IMG_ERR_XML_DATA},
        {document("<Colour>1</Colour>"), IMG_ERR_XML_UNKNOWN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(open_like_viewer(write(c.text)), c.status) << c.text;
    }
    // The element step given no node reports IMG_ERR_XML_NO_NODE; that is
    // shown with the shared steps (phone_image_test).
}

TEST_F(Qap, DescriptorsThatCannotTakeTheDocument) {
    const std::string path = write(document("<Width>1</Width>"));
    EXPECT_EQ(qap_load(path.c_str(), nullptr), IMG_ERR_XML_NO_DEST);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_NO_DEST);  // empty descriptor
    ASSERT_EQ(image_alloc(&image, 16, 16, 24), IMG_OK);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_NO_DEST);
    image_free(&image);
    ASSERT_EQ(image_alloc(&image, 16, 16, 1), IMG_OK);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_NO_DEST);
    EXPECT_EQ(image.header->biBitCount, 1);  // nothing changed
    EXPECT_EQ(qap_info(path.c_str(), nullptr), IMG_ERR_XML_NO_DEST);
}

TEST_F(Qap, FailureKeepsWhatWasReadBefore) {
    const std::string path =
        write(document("<LocationX>9</LocationX><Width>16</Width><Data>FF</Data>"
                       "<Depth>x</Depth><Title>late</Title>"));
    ASSERT_EQ(image_alloc(&image, 16, 16, 4), IMG_OK);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_DEPTH);
    EXPECT_EQ(image.location_x, 9);
    EXPECT_EQ(image.title[0], 0);
    EXPECT_EQ(at(0, 0), 0);  // value 3 stored as 0
    EXPECT_EQ(at(4, 0), 3);  // beyond Data: white
    // The picture read so far shows in its own four levels, not the gray ramp.
    EXPECT_EQ(image.color_count, 4);
    EXPECT_EQ(image.palette[0].red, 0);
    EXPECT_EQ(image.palette[3].red, 255);
    EXPECT_EQ(image.type_flags & IMAGE_GRAY, 0u);
}

TEST_F(Qap, DocumentThatDoesNotParseKeepsTheAllocatedPicture) {
    const std::string path = write("<TarvoIPPhoneImage><Width>");
    ASSERT_EQ(image_alloc(&image, 16, 16, 4), IMG_OK);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_LOAD);
    EXPECT_EQ(image.color_count, 256);
    EXPECT_EQ(image.type_flags, IMAGE_GRAY);
}

// Whatever sizes the document gives, header, area and rows keep the allocated
// size; the picture lies in the top-left corner with the document's Width as
// its row length, and pixels it does not reach are white.
TEST_F(Qap, PictureLiesInTheTopLeftCorner) {
    const std::vector<uint8_t> values = random_values(40 * 40, 2);
    const auto data = [&](size_t count) {
        return "<Data>" +
               hex_data({values.begin(), values.begin() + static_cast<ptrdiff_t>(count)}) +
               "</Data>";
    };
    struct Case {
        std::string what;
        std::string children;
        int32_t allocated;  // 0: as the viewer allocates, opened_width x opened_height
        uint32_t row_length, width, height;
        size_t count;
        ImgStatus status = IMG_OK;
        int32_t opened_width = 16, opened_height = 16;
    };
    const Case cases[] = {
        {"smaller than 16", "<Width>5</Width><Height>3</Height>" + data(15), 0, 5, 5, 3, 15},
        {"size after Data", data(24) + "<Width>6</Width><Height>4</Height>", 0, 6, 6, 4, 24},
        {"no Width", data(256), 0, 16, 16, 16, 256},
        // The picture is opened as high as its values reach (at least 16 rows).
        {"Data falls short", "<Width>20</Width><Height>20</Height>" + data(30), 0, 20, 20, 20, 30,
         IMG_ERR_LZW, 20, 16},
        {"Data fills 17 of 30 rows", "<Width>20</Width><Height>30</Height>" + data(330), 0, 20, 20,
         30, 330, IMG_ERR_LZW, 20, 17},
        {"huge size, little Data", "<Width>32000</Width><Height>32000</Height>" + data(4), 0, 32000,
         32000, 32000, 4, IMG_ERR_LZW, 32000, 16},
        {"no Data", "<Width>16</Width>", 0, 16, 0, 0, 0},
        {"larger than allocated", "<Width>40</Width><Height>1000</Height>" + data(1600), 16, 40, 40,
         1000, 1600, IMG_ERR_LZW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write(document(c.children));
        if (c.allocated == 0) {
            ASSERT_EQ(open_like_viewer(path), c.status);
        } else {
            image_free(&image);
            ASSERT_EQ(image_alloc(&image, c.allocated, c.allocated, 4), IMG_OK);
            ASSERT_EQ(qap_load(path.c_str(), &image), c.status);
        }
        const int32_t width = c.allocated ? c.allocated : c.opened_width;
        const int32_t height = c.allocated ? c.allocated : c.opened_height;
        ASSERT_EQ(image.header->biWidth, width);
        ASSERT_EQ(image.header->biHeight, height);
        ASSERT_EQ(image.area_right, static_cast<uint32_t>(width - 1));
        ASSERT_EQ(image.area_bottom, static_cast<uint32_t>(height - 1));
        for (uint32_t y = 0; y < static_cast<uint32_t>(height); ++y) {
            for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
                const size_t index = y * c.row_length + x;
                const bool inside = x < c.width && y < c.height && index < c.count;
                ASSERT_EQ(at(x, y), inside ? 3 - values[index] : 3) << x << "," << y;
            }
        }
    }
}

// A 133 x 65 picture cut at each boundary of its Data: the rows the values
// reach are opened and laid, the palette is loaded, and the load reports the
// early end.
// A document cut inside its markup does not parse.
TEST_F(Qap, TruncatedDataIsReportedWithWhatItHolds) {
    const std::vector<uint8_t> values = random_values(133 * 65, 3);
    const std::string whole = phone_document::image_document(133, 65, 2, values);
    const size_t data = whole.find("<Data>") + 6;
    struct Cut {
        size_t values;  // values the cut Data holds
        ImgStatus status;
    };
    for (const Cut cut :
         {Cut{0, IMG_ERR_LZW}, Cut{4, IMG_ERR_LZW}, Cut{132, IMG_ERR_LZW}, Cut{133, IMG_ERR_LZW},
          Cut{133 * 64, IMG_ERR_LZW}, Cut{133 * 65 - 1, IMG_ERR_LZW}, Cut{133 * 65, IMG_OK}}) {
        SCOPED_TRACE(cut.values);
        const std::vector<uint8_t> kept(values.begin(),
                                        values.begin() + static_cast<ptrdiff_t>(cut.values));
        // Without values the Data element goes (an empty one is an error of its own).
        const std::string text =
            cut.values == 0
                ? whole.substr(0, data - 6) + whole.substr(whole.find("</Data>") + 7)
                : whole.substr(0, data) + hex_data(kept) + whole.substr(whole.find("</Data>"));
        ASSERT_EQ(open_like_viewer(write(text)), cut.status);
        EXPECT_EQ(image.color_count, 4);
        EXPECT_EQ(image.palette[3].red, 255);
        // Opened as high as the values reach, at least 16 rows.
        const size_t rows = std::max<size_t>(16, (cut.values + 132) / 133);
        ASSERT_EQ(image.header->biHeight, static_cast<int32_t>(rows));
        for (size_t i = 0; i < 133 * rows; ++i) {
            const auto x = static_cast<uint32_t>(i % 133);
            const auto y = static_cast<uint32_t>(i / 133);
            ASSERT_EQ(at(x, y), i < cut.values ? 3 - values[i] : 3) << i;  // not reached: white
        }
    }
    for (size_t cut : {size_t{10}, data - 3, data + 40, whole.size() - 2}) {
        EXPECT_EQ(open_like_viewer(write(whole.substr(0, cut))), IMG_ERR_XML_LOAD) << cut;
    }
}

// A document over 64 MiB is refused before it is read (a sparse file here).
TEST_F(Qap, DocumentOver64MiBIsRefused) {
    const std::string path = write("");
    std::filesystem::resize_file(path, (uint64_t{64} << 20) + 1);
    ASSERT_EQ(image_alloc(&image, 16, 16, 4), IMG_OK);
    EXPECT_EQ(qap_load(path.c_str(), &image), IMG_ERR_XML_LOAD);
    PhoneImage record;
    try {
        phone_image_load(record, path);
        ADD_FAILURE() << "no exception";
    } catch (const std::string& text) {
        EXPECT_EQ(text, "File is too large for a phone image: 67108865 bytes.");
    }
}

// Sizes no image can take are refused before anything is allocated.
TEST_F(Qap, SizesNoImageCanTakeAreRefusedBeforeAllocation) {
    for (const char* size : {"<Width>32769</Width><Height>1</Height>",
                             "<Width>1</Width><Height>2000000000</Height>"}) {
        const PictureOpen opened =
            picture_open(phone_image_reader(), write(document(size)).c_str(), &image);
        EXPECT_EQ(opened.stage, OpenStage::kInfo) << size;
        EXPECT_EQ(opened.status, IMG_ERR_RANGE) << size;
    }
}

TEST_F(Qap, SmallAreaOfInterest) {
    const std::vector<uint8_t> values = random_values(4 * 4, 6);
    const std::string path = write(phone_document::image_document(4, 4, 2, values));
    ASSERT_EQ(image_alloc(&image, 20, 20, 4), IMG_OK);
    image_set_area(&image, 12, 10, 3, 2);  // corners given right to left
    ASSERT_EQ(qap_load(path.c_str(), &image), IMG_OK);
    for (uint32_t y = 0; y < 20; ++y) {
        for (uint32_t x = 0; x < 20; ++x) {
            uint8_t expected = 0;  // outside the area: as allocated
            if (x >= 3 && x <= 12 && y >= 2 && y <= 10) {
                expected = (x - 3 < 4 && y - 2 < 4) ? 3 - values[(y - 2) * 4 + (x - 3)] : 3;
            }
            ASSERT_EQ(at(x, y), expected) << x << "," << y;
        }
    }
    // An area reaching past the image is clipped to it.
    image_set_area(&image, 18, 18, 500, 500);
    ASSERT_EQ(qap_load(path.c_str(), &image), IMG_OK);
    EXPECT_EQ(at(18, 18), 3 - values[0]);
    EXPECT_EQ(at(19, 19), 3 - values[5]);
}

TEST_F(Qap, ReadDocumentModes) {
    const std::string path =
        write(document("<Width>33</Width><Height>44</Height><Depth>2</Depth>"));
    BitmapInfoHeader header{};
    ImageDesc scratch{};
    scratch.header = &header;
    ASSERT_EQ(phone_image_read_document(path.c_str(), &scratch, kQapReadInformation), IMG_OK);
    EXPECT_EQ(header.biWidth, 33);
    EXPECT_EQ(header.biHeight, 44);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(scratch.color_count, 4);
    EXPECT_EQ(scratch.depth, 2);
    // Load mode needs rows.
    EXPECT_EQ(phone_image_read_document(path.c_str(), &scratch, kQapReadLoad), IMG_ERR_XML_NO_DEST);
}

}  // namespace
