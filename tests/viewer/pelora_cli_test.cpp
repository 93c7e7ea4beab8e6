// pelora-cli run as a user would: output texts, exit statuses and files.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/viewer/picture_files.h"

using namespace imaging;

namespace {

using test_pictures::Rgb;
using test_support::RunResult;
using test_support::TempDir;

RunResult cli(const std::vector<std::string>& args) {
    return test_support::run_program(PELORA_CLI_PATH, args);
}

class PeloraCliTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir / name).string(); }

    void write_logo() {
        test_support::write_text(
            dir / "logo.qap", test_pictures::phone_image_text(
                                  40, 20, [](int32_t x, int32_t y) { return (x / 5 + y / 5) % 4; },
                                  "<Title>Main &amp; Co</Title>\n<Prompt>Press 1</Prompt>\n"
                                  "<LocationX>4</LocationX>\n<LocationY>9</LocationY>\n"));
    }

    TempDir dir;
};

Rgb stripes(int32_t x, int32_t y) {
    return Rgb{static_cast<uint8_t>(x * 9), static_cast<uint8_t>(y * 4), 60};
}

TEST_F(PeloraCliTest, InfoPrintsTitleAndLoadStatus) {
    write_logo();
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, stripes);
    const RunResult r = cli({"info", path("logo.qap"), path("sky.bmp")});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out,
              "logo.qap (40 x 20 x 8, Color, 4 colors in Palette)\nload: 0 IMG_OK\n"
              "sky.bmp (320 x 200 x 24, Color, No Palette, RGB image)\nload: 0 IMG_OK\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(PeloraCliTest, InfoReportsEachKindOfFailure) {
    test_support::write_text(dir / "bad.qap",
                             "<TarvoIPPhoneImage><Data>00</Data><Colour>1</Colour>"
                             "</TarvoIPPhoneImage>");
    test_support::write_text(dir / "photo.jp2", "x");
    const RunResult r = cli({"info", path("bad.qap"), path("photo.jp2"), path("missing.bmp")});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out,
              "bad.qap (16 x 16 x 8, Color, 4 colors in Palette)\nload: -212 IMG_ERR_XML_UNKNOWN\n"
              "photo.jp2 (256 x 240 x 8, Gray, 256 colors in Palette)\nunsupported: .jp2\n"
              "missing.bmp (256 x 240 x 8, Gray, 256 colors in Palette)\ninfo: -4 IMG_ERR_OPEN\n");
    EXPECT_EQ(r.err,
              "Error: cannot read all of bad.qap: the file ended early or is damaged; the part "
              "that could be read is shown (IMG_ERR_XML_UNKNOWN, -212)\n"
              "Error: Unsupported file format .jp2\n"
              "Error: cannot open missing.bmp: IMG_ERR_OPEN (-4)\n");
}

TEST_F(PeloraCliTest, ConvertWritesPpmOfTheWholePicture) {
    test_pictures::write_rgb_bmp(dir / "s.bmp", 3, 2, stripes);
    const RunResult r = cli({"convert", path("s.bmp"), path("s.ppm")});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    // Allocated at 16 x 16: the picture in the bottom-left, the rest black.
    const std::vector<uint8_t> bytes = test_support::read_file(dir / "s.ppm");
    const std::string head = "P6\n16 16\n255\n";
    ASSERT_EQ(bytes.size(), head.size() + 16 * 16 * 3);
    const uint8_t* pixels = bytes.data() + head.size();
    const auto at = [&](int x, int y) { return pixels + 3 * (16 * y + x); };
    EXPECT_EQ(at(2, 14)[0], 18);  // file row 0 lands on picture row 14
    EXPECT_EQ(at(2, 14)[1], 0);
    EXPECT_EQ(at(2, 15)[1], 4);
    EXPECT_EQ(at(0, 0)[2], 0);
}

TEST_F(PeloraCliTest, PhoneImageRoundTripsThroughQapAndQap2Gif) {
    write_logo();
    RunResult r = cli({"convert", path("logo.qap"), path("copy.qap")});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string copy = test_support::read_text(dir / "copy.qap");
    EXPECT_NE(copy.find("<Title>Main &amp; Co</Title>"), std::string::npos) << copy;
    EXPECT_NE(copy.find("<Prompt>Press 1</Prompt>"), std::string::npos);
    EXPECT_NE(copy.find("<LocationY>9</LocationY>"), std::string::npos);

    r = test_support::run_program(QAP2GIF_PATH, {path("copy.qap"), path("copy.gif")});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("Image is 40 x 20 with pixel size of 2 bits."), std::string::npos)
        << r.out;

    r = cli({"info", path("copy.qap")});
    EXPECT_EQ(r.out, "copy.qap (40 x 20 x 8, Color, 4 colors in Palette)\nload: 0 IMG_OK\n");

    ASSERT_EQ(cli({"convert", path("logo.qap"), path("a.ppm")}).exit_status, 0);
    ASSERT_EQ(cli({"convert", path("copy.qap"), path("b.ppm")}).exit_status, 0);
    EXPECT_EQ(test_support::read_file(dir / "a.ppm"), test_support::read_file(dir / "b.ppm"));
}

TEST_F(PeloraCliTest, CommandsRunInOrder) {
    test_pictures::write_rgb_bmp(dir / "big.bmp", 400, 300, stripes);
    const RunResult r = cli({"convert", path("big.bmp"), path("small.qap"), "--resize",
                             "--rgb-to-palette", "--reduce-to-4-colors"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const RunResult info = cli({"info", path("small.qap")});
    EXPECT_EQ(info.out, "small.qap (133 x 65 x 8, Color, 4 colors in Palette)\nload: 0 IMG_OK\n");
}

TEST_F(PeloraCliTest, FailingCommandStopsAndWritesNothing) {
    test_pictures::write_rgb_bmp(dir / "c.bmp", 20, 20, stripes);
    const RunResult r =
        cli({"convert", path("c.bmp"), path("c.bmp.ppm"), "--reduce-to-4-colors", "--resize"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("Error: 4294967270, 0xFFFFFFE6\nReduceTo4Colors needs", 0), 0u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "c.bmp.ppm"));
}

TEST_F(PeloraCliTest, DamagedFileIsWrittenOnlyOnRequest) {
    test_support::write_text(dir / "bad.qap",
                             "<TarvoIPPhoneImage><Width>16</Width><Height>16</Height>"
                             "<Data>FFFF</Data><Colour>1</Colour></TarvoIPPhoneImage>");
    test_support::write_text(dir / "broken.qap", "<TarvoIPPhoneImage>");
    RunResult r = cli({"convert", path("bad.qap"), path("bad.ppm")});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err,
              "Error: cannot read all of bad.qap: the file ended early or is damaged; the part "
              "that could be read is shown (IMG_ERR_XML_UNKNOWN, -212)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.ppm"));

    r = cli({"convert", path("bad.qap"), path("bad.ppm"), "--partial"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "bad.ppm"));

    // A bitmap cut inside its rows: the rows read, on request only.
    test_pictures::write_rgb_bmp(dir / "cut.bmp", 20, 20, stripes);
    std::filesystem::resize_file(dir / "cut.bmp", 54 + 10 * 60);
    r = cli({"convert", path("cut.bmp"), path("cut.ppm")});
    EXPECT_EQ(r.err,
              "Error: cannot read all of cut.bmp: the file ended early or is damaged; the part "
              "that could be read is shown (status -62)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "cut.ppm"));
    r = cli({"convert", "--partial", path("cut.bmp"), path("cut.ppm")});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "cut.ppm"));

    // A file that could not be read at all gives nothing, even on request.
    for (const char* input : {"broken.qap", "x.jp2", "missing.bmp"}) {
        r = cli({"convert", path(input), path("x.ppm"), "--partial"});
        EXPECT_EQ(r.exit_status, 1) << input;
        EXPECT_FALSE(std::filesystem::exists(dir / "x.ppm")) << input;
    }
}

// One row per kind of output path: the run's status and message, and what
// the path (and what it pointed to) holds afterwards.
TEST_F(PeloraCliTest, OutputPathsAreNeverDamaged) {
    namespace fs = std::filesystem;
    test_pictures::write_rgb_bmp(dir / "in.bmp", 20, 20, stripes);
    test_support::write_text(dir / "broken.qap", "<TarvoIPPhoneImage>");
    test_support::write_text(dir / "target.txt", "target");
    const std::string in = path("in.bmp");
    const auto kept = [](const fs::path& p) { return test_support::read_text(p) == "old"; };
    const auto is_ppm = [](const fs::path& p) {
        return fs::is_regular_file(fs::symlink_status(p)) &&
               test_support::read_text(p).rfind("P6\n20 20\n", 0) == 0;
    };
    const bool root = ::geteuid() == 0;
    struct Row {
        std::string name;
        std::function<std::string()> prepare;  // returns the output path
        std::string input;
        int exit_status;
        std::string message;  // part of standard error
        std::function<bool(const fs::path&)> holds;
    };
    const std::vector<Row> rows = {
        {"existing file, input fails",
         [&] { return test_support::write_text(dir / "a.ppm", "old"), path("a.ppm"); },
         path("broken.qap"), 1, "IMG_ERR_XML_LOAD", kept},
        {"existing file of mode 600",
         [&] {
             test_support::write_text(dir / "b.ppm", "old");
             fs::permissions(dir / "b.ppm", fs::perms::owner_read | fs::perms::owner_write);
             return path("b.ppm");
         },
         in, 0, "",
         [&](const fs::path& p) {
             return is_ppm(p) &&
                    fs::status(p).permissions() == (fs::perms::owner_read | fs::perms::owner_write);
         }},
        {"read-only file",
         [&] {
             test_support::write_text(dir / "c.ppm", "old");
             fs::permissions(dir / "c.ppm", fs::perms::owner_read);
             return path("c.ppm");
         },
         in, root ? 0 : 1, root ? "" : "Permission denied",
         [&](const fs::path& p) { return root ? is_ppm(p) : kept(p); }},
        {"symbolic link",
         [&] { return fs::create_symlink(dir / "target.txt", dir / "d.ppm"), path("d.ppm"); }, in,
         0, "",
         [&](const fs::path& p) {
             return is_ppm(p) && test_support::read_text(dir / "target.txt") == "target";
         }},
        {"dangling symbolic link",
         [&] { return fs::create_symlink(dir / "nowhere", dir / "e.ppm"), path("e.ppm"); }, in, 0,
         "", [&](const fs::path& p) { return is_ppm(p) && !fs::exists(dir / "nowhere"); }},
        {"named pipe", [&] { return ::mkfifo(path("f.ppm").c_str(), 0600), path("f.ppm"); }, in, 1,
         "pipe, socket or block device", [](const fs::path& p) { return fs::is_fifo(p); }},
        {"name of 255 bytes", [&] { return path(std::string(251, 'n') + ".ppm"); }, in, 0, "",
         is_ppm},
        {"a copy of the input",
         [&] { return fs::copy_file(in, dir / "copy.ppm"), path("copy.ppm"); }, in, 0, "", is_ppm},
        {"the input itself", [&] { return in; }, in, 1,
         "Error: Output file is the same as the input file: " + in + ".\n",
         [](const fs::path& p) { return test_support::read_text(p).rfind("BM", 0) == 0; }},
        {"a hard link to the input",
         [&] { return fs::create_hard_link(in, dir / "h.bmp"), path("h.bmp"); }, in, 1,
         "Output file is the same as the input file: " + path("h.bmp"),
         [](const fs::path& p) { return test_support::read_text(p).rfind("BM", 0) == 0; }},
        {"a symbolic link to the input",
         [&] { return fs::create_symlink(in, dir / "s.bmp"), path("s.bmp"); }, in, 1,
         "Output file is the same as the input file: " + path("s.bmp"),
         [](const fs::path& p) { return fs::is_symlink(p); }},
    };
    for (const Row& row : rows) {
        const std::string out = row.prepare();
        const RunResult r = cli({"convert", row.input, out});
        EXPECT_EQ(r.exit_status, row.exit_status) << row.name << ": " << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << row.name << ": " << r.err;
        EXPECT_TRUE(row.holds(out)) << row.name;
    }
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
    }

    test_support::FullFileSystem full("out.ppm", "old");
    if (!full.mounted()) {
        GTEST_SKIP() << "a full file system needs root";
    }
    const RunResult r = cli({"convert", in, (full / "out.ppm").string()});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_TRUE(kept(full / "out.ppm"));
    EXPECT_EQ(full.names(), (std::vector<std::string>{"filler", "out.ppm"}));
}

// A picture above the pixel limit (16384 x 16384 unless --max-pixels says
// otherwise, 0 for none) is refused before anything is allocated for it, with
// its size, its memory and the option that sets the limit.
TEST_F(PeloraCliTest, PicturesAboveThePixelLimitAreRefused) {
    test_pictures::write_empty_rle8_bmp(dir / "huge.bmp", 32768, 32768);
    test_pictures::write_rgb_bmp(dir / "sky.bmp", 320, 200, stripes);
    const std::string sky_title = "sky.bmp (320 x 200 x 24, Color, No Palette, RGB image)\n";
    RunResult r = cli({"info", path("huge.bmp"), path("sky.bmp")});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out,
              "huge.bmp (256 x 240 x 8, Gray, 256 colors in Palette)\n"
              "info: -1 IMG_ERR_RANGE\n" +
                  sky_title + "load: 0 IMG_OK\n");
    EXPECT_EQ(r.err,
              "Error: huge.bmp is 32768 x 32768 pixels and needs 1.0 GiB of memory. That is more "
              "than 268435456 pixels; --max-pixels sets the limit.\n");
    for (const char* limit : {"64000", "0"}) {
        r = cli({"info", "--max-pixels", limit, path("sky.bmp")});
        EXPECT_EQ(r.out, sky_title + "load: 0 IMG_OK\n") << limit;
    }
    r = cli({"convert", path("sky.bmp"), path("sky.ppm"), "--max-pixels", "63999"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err,
              "Error: sky.bmp is 320 x 200 pixels and needs 188 KiB of memory. That is more than "
              "63999 pixels; --max-pixels sets the limit.\n");
    EXPECT_FALSE(std::filesystem::exists(path("sky.ppm")));
}

TEST_F(PeloraCliTest, UsageHelpAndVersion) {
    RunResult r = cli({});
    EXPECT_EQ(r.exit_status, 2);
    r = cli({"info"});
    EXPECT_EQ(r.exit_status, 2);
    r = cli({"convert", path("a.bmp"), path("a.gif")});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find(".ppm, .bmp, .qap or .png"), std::string::npos);
    r = cli({"convert", path("a.bmp"), path("a.ppm"), "--sharpen"});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("unknown command --sharpen"), std::string::npos);
    r = cli({"convert", path("a.bmp"), path("a.ppm"), path("b.ppm")});  // one output only
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("convert needs a file and an output"), std::string::npos);
    r = cli({"--help"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("pelora-cli info [--max-pixels N] FILE..."), std::string::npos);
    EXPECT_NE(r.out.find("\nAlso named: .jpeg .jpe .jfif .tiff\n"), std::string::npos);
    r = cli({"info", "--max-pixels", "many", path("a.bmp")});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("--max-pixels needs a number of pixels"), std::string::npos);
    r = cli({"--version"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "pelora-cli 1.0\n");
}

}  // namespace
