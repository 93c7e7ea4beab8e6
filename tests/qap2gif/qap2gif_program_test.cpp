// The qap2gif program run as a user runs it: its standard output, standard
// error and exit status.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/phoneimage/phone_document.h"
#include "tests/qap2gif/gif_decode.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::run_program;

const std::string kProgram = QAP2GIF_PROGRAM;

TEST(Qap2GifProgram, ConvertsADocument) {
    test_support::TempDir dir;
    const std::string in = (dir / "in.qap").string();
    const std::string out = (dir / "out.gif").string();
    test_support::write_text(in, phone_document::image_document(4, 1, 2, {0, 1, 2, 3}));
    const test_support::RunResult result = run_program(kProgram, {in, out});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "\nConverting Tarvo Image File " + in + " to GIF " + out +
                              "\nImage is 4 x 1 with pixel size of 2 bits.\nDone!\n");
    EXPECT_EQ(result.err, "");
    const DecodedGif decoded = decode_gif(test_support::read_file(out));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.pixels, (std::vector<uint8_t>{0, 1, 2, 3}));
}

TEST(Qap2GifProgram, FailuresGoToStandardOutputOnly) {
    test_support::TempDir dir;
    const std::string in = (dir / "in.qap").string();
    const std::string out = (dir / "out.gif").string();
    // Several parser errors; none may reach standard error.
    test_support::write_text(in, "<?xml version=\"1.0\" encoding=\"bogus\"?>\n<a>&x;<b></a>");
    test_support::RunResult result = run_program(kProgram, {in, out});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out.rfind("\nConverting Tarvo Image File " + in + " to GIF " + out +
                                   "\nException thrown processing image: ",
                               0),
              0u)
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(fs::exists(out));

    result = run_program(kProgram, {in});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.out, "\nUsage: Qap2Gif input-file output-file\n\n");
    EXPECT_EQ(result.err, "");

    result = run_program(kProgram, {"--help"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "\nUsage: Qap2Gif input-file output-file\n\n");

    test_support::write_text(in, phone_document::image_document(4, 1, 2, {0, 1, 2, 3}));
    result = run_program(kProgram, {in, "/dev/full"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.out.find("Unable to write output file: /dev/full, errno = 28.\n"),
              std::string::npos);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST(Qap2GifProgram, BundledExamplesConvert) {
    const fs::path examples = test_support::source_dir() / "examples";
    test_support::TempDir dir;
    int converted = 0;
    for (const auto& entry : fs::directory_iterator(examples)) {
        if (entry.path().extension() != ".qap") {
            continue;
        }
        const std::string out = (dir / (entry.path().stem().string() + ".gif")).string();
        const test_support::RunResult result = run_program(kProgram, {entry.path().string(), out});
        EXPECT_EQ(result.exit_status, 0) << entry.path() << "\n" << result.out;
        EXPECT_EQ(result.err, "");
        const DecodedGif decoded = decode_gif(test_support::read_file(out));
        EXPECT_TRUE(decoded.ok) << entry.path() << ": " << decoded.error;
        ++converted;
    }
    EXPECT_GE(converted, 2);
}

}  // namespace
