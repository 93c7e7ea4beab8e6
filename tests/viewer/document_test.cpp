#include "viewer/core/document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"
#include "viewer/core/open_message.h"

using namespace imaging;
using namespace viewer;

namespace {

using test_pictures::Rgb;
using test_support::TempDir;

// Records what the document tells its program.
class RecordingHost : public DocumentHost {
  public:
    void show_message(const std::string& text) override { messages.push_back(text); }
    void title_changed(const std::string& title) override { titles.push_back(title); }
    void update_all_views() override { ++updates; }

    std::vector<std::string> messages;
    std::vector<std::string> titles;
    int updates = 0;
};

class DocumentTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir / name).string(); }

    TempDir dir;
    RecordingHost host;
    CPeloraDoc document{&host};
};

Rgb gradient(int32_t x, int32_t y) {
    return Rgb{static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 5),
               static_cast<uint8_t>((x + y) * 3)};
}

TEST_F(DocumentTest, NewDocumentIsTheGrayDefault) {
    EXPECT_EQ(document.width(), 256);
    EXPECT_EQ(document.height(), 240);
    EXPECT_EQ(image_width(document.image()), 256);
    EXPECT_EQ(image_height(document.image()), 240);
    EXPECT_EQ(image_bits(document.image()), 8);
    document.SetTitle("anything");
    EXPECT_EQ(document.title(), " (256 x 240 x 8, Gray, 256 colors in Palette)");
}

TEST_F(DocumentTest, ExtensionsCompareWithoutCaseAndUnknownOnesAreUnsupported) {
    test_pictures::write_rgb_bmp(dir / "PHOTO.BMP", 20, 18, gradient);
    document.open_file(path("PHOTO.BMP"));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(document.reader(), viewer::find_picture_reader(".bmp"));
    EXPECT_EQ(document.title(), "PHOTO.BMP (20 x 18 x 24, Color, No Palette, RGB image)");

    test_support::write_text(dir / "photo.jp2", "not read");
    CPeloraDoc other(&host);
    other.open_file(path("photo.jp2"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Error: Unsupported file format .jp2");
    EXPECT_EQ(other.title(), "photo.jp2 (256 x 240 x 8, Gray, 256 colors in Palette)");
    EXPECT_EQ(other.open_outcome().stage, OpenStage::kUnsupported);
}

// A picture opens under any of its format's extensions, in any letter case,
// and under another format's name or none: its first bytes pick the reader.
// The title shows the file's own name.
TEST_F(DocumentTest, AnyNameOfAPictureOpensIt) {
    struct Row {
        const char* seed;  // a picture of the fuzz seeds
        const char* name;  // the name it is saved under
        const char* reader;
    };
    const Row rows[] = {
        {"jpg_load_fuzz/test.jpg", "photo.jpeg", ".jpg"},
        {"jpg_load_fuzz/test.jpg", "PHOTO.JPE", ".jpg"},
        {"jpg_load_fuzz/test.jpg", "photo.Jfif", ".jpg"},
        {"jpg_load_fuzz/test.jpg", "photo.Jpg", ".jpg"},
        {"tif_load_fuzz/rgb_strips.tif", "scan.tiff", ".tif"},
        {"tif_load_fuzz/rgb_strips.tif", "SCAN.TiFf", ".tif"},
        {"qap_load_fuzz/handset_icon.qap", "icon.QAP", ".qap"},
        // Misnamed: the signature belongs to another of the formats.
        {"png_load_fuzz/basn2c08.png", "web.jpg", ".png"},
        {"png_load_fuzz/basn2c08.png", "download", ".png"},
        {"bmp_load_fuzz/rgb24.bmp", "shot.png", ".bmp"},
        {"gif_load_fuzz/sample_1.gif", "anim.tif", ".gif"},
        {"pcx_load_fuzz/pil184.pcx", "scan.bmp", ".pcx"},
        {"tif_load_fuzz/rgb_strips.tif", "fax.JPEG", ".tif"},
        {"jpg_load_fuzz/test.jpg", "photo.gif", ".jpg"},
        {"qap_load_fuzz/handset_icon.qap", "icon.xml", ".qap"},
        {"tga_load_fuzz/la.tga", "logo.tga", ".tga"},
    };
    for (const Row& row : rows) {
        test_support::write_file(
            dir / row.name,
            test_support::read_file(test_support::source_dir() / "fuzz/seeds" / row.seed));
        CPeloraDoc opened(&host);
        opened.open_file(path(row.name));
        EXPECT_EQ(opened.reader(), viewer::find_picture_reader(row.reader)) << row.name;
        EXPECT_EQ(opened.open_outcome().status, IMG_OK) << row.name;
        EXPECT_EQ(opened.title().rfind(std::string(row.name) + " (", 0), 0u) << opened.title();
    }
    EXPECT_TRUE(host.messages.empty());
}

// A file whose first bytes are none of the formats' keeps the message of its
// extension's reader: TGA has no signature, and near misses are no signature.
TEST_F(DocumentTest, ContentOfNoFormatKeepsTheMessageOfItsExtension) {
    struct Row {
        std::string bytes;
        const char* name;
        const char* message;
    };
    const Row rows[] = {
        {"hello", "notes.jpg", "IMG_ERR_JPEG (-43)"},
        {"GIF88a", "odd.bmp", "IMG_ERR_NOT_BMP (-27)"},
        {std::string("\x0A\x09\x01\x08", 4), "implausible.bmp", "IMG_ERR_NOT_BMP (-27)"},
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "drawing.png", "IMG_ERR_PNG (-63)"},
        {"<doc>TarvoIPPhoneImage</doc>", "named.png", "IMG_ERR_PNG (-63)"},  // not the root
        {test_support::read_text(test_support::source_dir() / "fuzz/seeds/tga_load_fuzz/la.tga"),
         "logo.jpg", "IMG_ERR_JPEG (-43)"},
    };
    for (const Row& row : rows) {
        test_support::write_text(dir / row.name, row.bytes);
        host.messages.clear();
        CPeloraDoc opened(&host);
        opened.open_file(path(row.name));
        ASSERT_EQ(host.messages.size(), 1u) << row.name;
        EXPECT_EQ(host.messages[0],
                  std::string("Error: cannot open ") + row.name + ": " + row.message);
    }
}

TEST_F(DocumentTest, FileWithoutExtensionIsUnsupported) {
    document.open_file(path("README"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Error: Unsupported file format ");
}

TEST_F(DocumentTest, SmallPicturesAreAllocatedSixteenSquare) {
    test_pictures::write_rgb_bmp(dir / "tiny.bmp", 10, 10, gradient);
    document.open_file(path("tiny.bmp"));
    EXPECT_EQ(document.width(), 10);
    EXPECT_EQ(document.height(), 10);
    EXPECT_EQ(document.title(), "tiny.bmp (16 x 16 x 24, Color, No Palette, RGB image)");
}

TEST_F(DocumentTest, PhoneImageIsHeldAtEightBitsWithFourColours) {
    test_support::write_text(
        dir / "logo.qap",
        test_pictures::phone_image_text(133, 65, [](int32_t x, int32_t) { return x % 4; }));
    document.open_file(path("logo.qap"));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(document.title(), "logo.qap (133 x 65 x 8, Color, 4 colors in Palette)");
    EXPECT_EQ(document.open_outcome().status, IMG_OK);
}

TEST_F(DocumentTest, FailedLoadIsReportedAndThePictureStays) {
    test_support::write_text(dir / "broken.qap", "<TarvoIPPhoneImage><Width>");
    document.open_file(path("broken.qap"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], "Error: cannot open broken.qap: IMG_ERR_XML_LOAD (-200)");
    EXPECT_EQ(document.open_outcome().stage, OpenStage::kLoad);
    EXPECT_EQ(image_width(document.image()), 16);  // what the document shows

    CPeloraDoc missing(&host);
    missing.open_file(path("missing.bmp"));
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1], "Error: cannot open missing.bmp: IMG_ERR_OPEN (-4)");
    EXPECT_EQ(missing.open_outcome().stage, OpenStage::kInfo);
    EXPECT_EQ(image_width(missing.image()), 256);
}

TEST_F(DocumentTest, PartReadFileSaysWhatHappenedThenTheStatus) {
    test_pictures::write_rgb_bmp(dir / "cut.bmp", 20, 20, gradient);
    std::filesystem::resize_file(dir / "cut.bmp", 54 + 10 * 60);
    document.open_file(path("cut.bmp"));
    ASSERT_EQ(host.messages.size(), 1u);
    // A bitmap holds no LZW data: the status that names it is shown by number.
    EXPECT_EQ(host.messages[0],
              "Error: cannot read all of cut.bmp: the file ended early or is damaged; the part "
              "that could be read is shown (status -62)");
    EXPECT_EQ(open_failure_text("cut.gif", viewer::find_picture_reader(".gif"), IMG_ERR_LZW, true),
              "Error: cannot read all of cut.gif: the file ended early or is damaged; the part "
              "that could be read is shown (IMG_ERR_LZW, -62)");
}

TEST_F(DocumentTest, CommandErrorTextShowsTheStatusTwice) {
    EXPECT_EQ(command_error_text(IMG_ERR_MEMORY), "Error: 4294967282, 0xFFFFFFF2");
    EXPECT_EQ(command_error_text(IMG_ERR_BPP), "Error: 4294967270, 0xFFFFFFE6");
}

TEST_F(DocumentTest, CommandsWhosePreconditionFailsDoNothingAtAll) {
    // The new document is 8-bit gray: RGBToPalette and ColorToGray do nothing.
    const ImageDesc before = document.image();
    EXPECT_EQ(document.run_command(PictureCommand::RGBToPalette), IMG_OK);
    EXPECT_EQ(document.run_command(PictureCommand::ColorToGray), IMG_OK);
    EXPECT_EQ(document.image().header, before.header);
    EXPECT_TRUE(host.titles.empty());
    EXPECT_EQ(host.updates, 0);
}

TEST_F(DocumentTest, RgbToPaletteAndColorToGrayReplaceTheTrueColourPicture) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 40, 30, gradient);
    document.open_file(path("sky.bmp"));
    EXPECT_EQ(document.run_command(PictureCommand::RGBToPalette), IMG_OK);
    EXPECT_EQ(document.title(), "sky.bmp (40 x 30 x 8, Color, 256 colors in Palette)");
    EXPECT_EQ(host.updates, 1);

    EXPECT_EQ(document.run_command(PictureCommand::ColorToGray), IMG_OK);  // in place
    EXPECT_EQ(document.title(), "sky.bmp (40 x 30 x 8, Gray, 256 colors in Palette)");

    CPeloraDoc rgb(&host);
    rgb.open_file(path("sky.bmp"));
    EXPECT_EQ(rgb.run_command(PictureCommand::ColorToGray), IMG_OK);  // into a new picture
    EXPECT_EQ(rgb.title(), "sky.bmp (40 x 30 x 8, Gray, 256 colors in Palette)");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(DocumentTest, ReduceToFourColorsEndsOnTheFourGrays) {
    const PaletteEntry palette[4] = {
        {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
    test_pictures::write_indexed_bmp(
        dir / "flags.bmp", 32, 32, palette, 4,
        [](int32_t x, int32_t y) { return static_cast<uint8_t>((x / 8 + y / 16) % 4); });
    document.open_file(path("flags.bmp"));
    EXPECT_EQ(document.run_command(PictureCommand::ReduceTo4Colors), IMG_OK);
    const ImageDesc& picture = document.image();
    ASSERT_EQ(picture.color_count, 4);
    EXPECT_EQ(picture.palette[0].red, 0x00);
    EXPECT_EQ(picture.palette[1].red, 0x55);
    EXPECT_EQ(picture.palette[2].red, 0xAA);
    EXPECT_EQ(picture.palette[3].red, 0xFF);
    EXPECT_EQ(picture.type_flags & IMAGE_GRAY, 0u);
    for (uint32_t y = 0; y < 32; ++y) {
        for (uint32_t x = 0; x < 32; ++x) {
            ASSERT_LT(image_row(picture, y)[x], 4);
        }
    }
    EXPECT_EQ(document.title(), "flags.bmp (32 x 32 x 8, Color, 4 colors in Palette)");
}

TEST_F(DocumentTest, ReduceToFourColorsOnTrueColourReportsAndKeepsThePicture) {
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 20, 20, gradient);
    document.open_file(path("sky.bmp"));
    const BitmapInfoHeader* before = document.image().header;
    EXPECT_EQ(document.run_command(PictureCommand::ReduceTo4Colors), IMG_ERR_BPP);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0],
              "Error: 4294967270, 0xFFFFFFE6\nReduceTo4Colors needs a palette picture (8 bits per "
              "pixel); this picture has 24 bits per pixel.\nRun RGBToPalette first.");
    EXPECT_EQ(document.image().header, before);
    EXPECT_EQ(host.updates, 1);  // title and views are refreshed even on failure
}

TEST_F(DocumentTest, ResizeLimitsEachSideIndependently) {
    struct Case {
        int32_t width, height, expected_width, expected_height;
    };
    for (Case c : {Case{100, 60, 100, 60}, Case{200, 60, 133, 60}, Case{100, 300, 100, 65},
                   Case{640, 480, 133, 65}}) {
        test_pictures::write_rgb_bmp(dir / "p.bmp", c.width, c.height, gradient);
        CPeloraDoc resized(&host);
        resized.open_file(path("p.bmp"));
        const int updates = host.updates;
        EXPECT_EQ(resized.run_command(PictureCommand::Resize), IMG_OK);
        EXPECT_EQ(image_width(resized.image()), c.expected_width) << c.width;
        EXPECT_EQ(image_height(resized.image()), c.expected_height) << c.height;
        EXPECT_EQ(host.updates, updates + 1);  // redrawn even when nothing changed
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST(SplitFileName, NameAndExtension) {
    std::string name;
    std::string extension;
    split_file_name("/a/b.c/logo.QAP", &name, &extension);
    EXPECT_EQ(name, "logo.QAP");
    EXPECT_EQ(extension, ".QAP");
    split_file_name("/a/b.c/noext", &name, &extension);
    EXPECT_EQ(name, "noext");
    EXPECT_EQ(extension, "");
    split_file_name("archive.tar.gz", &name, &extension);
    EXPECT_EQ(extension, ".gz");
}

}  // namespace
