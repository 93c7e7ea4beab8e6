#include "viewer/core/folder_browse.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using namespace viewer;

namespace {

TEST(NaturalOrder, NumbersByValueLettersWithoutCase) {
    // In order; every name sorts before each one after it.
    const std::vector<std::string> ordered = {
        "0.png",         "00.png",    "1.png",       "01.png",
        "2.png",         "10.png",    "A.png",       "a.png",
        "a2b.png",       "a10b.png",  "Photo 2.png", "photo 10.png",
        "photo 10a.png", "photo.png", "z.png",       "\xc3\xa9t\xc3\xa9.png"};
    for (size_t i = 0; i < ordered.size(); ++i) {
        EXPECT_FALSE(natural_less(ordered[i], ordered[i])) << ordered[i];
        for (size_t j = i + 1; j < ordered.size(); ++j) {
            EXPECT_TRUE(natural_less(ordered[i], ordered[j])) << ordered[i] << " < " << ordered[j];
            EXPECT_FALSE(natural_less(ordered[j], ordered[i])) << ordered[j] << " < " << ordered[i];
        }
    }
    // Numbers longer than any integer type; the empty name first.
    EXPECT_TRUE(natural_less("x9999999999999999999999", "x10000000000000000000000"));
    EXPECT_TRUE(natural_less("", "0") && !natural_less("0", ""));
}

TEST(FolderBrowse, ListsReadableFilesAndWrapsAround) {
    const test_support::TempDir dir;
    for (const char* name : {"p10.BMP", "p2.gif", "p1.qap", "notes.txt", "noext", "p3.bmp.bak"}) {
        test_support::write_text(dir / name, "x");
    }
    std::filesystem::create_directory(dir / "sub.png");  // a folder, not a picture
    std::filesystem::create_symlink(dir / "gone.png", dir / "dangling.png");
    EXPECT_EQ(folder_pictures(dir.path().string()),
              (std::vector<std::string>{"p1.qap", "p2.gif", "p10.BMP"}));

    const auto at = [&](const char* name) { return (dir / name).string(); };
    EXPECT_EQ(neighbour_picture(at("p1.qap"), 1), at("p2.gif"));
    EXPECT_EQ(neighbour_picture(at("p10.BMP"), 1), at("p1.qap"));
    EXPECT_EQ(neighbour_picture(at("p1.qap"), -1), at("p10.BMP"));
    // A file no longer there, or not a picture, keeps its place in the order.
    EXPECT_EQ(neighbour_picture(at("p5.png"), 1), at("p10.BMP"));
    EXPECT_EQ(neighbour_picture(at("p5.png"), -1), at("p2.gif"));

    // Alone in its folder: nowhere to go.
    const test_support::TempDir lone;
    test_support::write_text(lone / "only.png", "x");
    EXPECT_EQ(neighbour_picture((lone / "only.png").string(), 1), "");
    EXPECT_TRUE(folder_pictures((lone / "missing").string()).empty());
}

}  // namespace
