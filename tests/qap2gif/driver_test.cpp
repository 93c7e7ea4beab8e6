#include "qap2gif/driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/phoneimage/phone_document.h"
#include "tests/qap2gif/gif_decode.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using phone_document::document;

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"qap2gif"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    const int status = qap2gif::run_qap2gif(static_cast<int>(argv.size()) - 1, argv.data(), out);
    return {status, out.str()};
}

const std::string kUsage = "\nUsage: Qap2Gif input-file output-file\n\n";

std::string start_line(const std::string& in, const std::string& out) {
    return "\nConverting Tarvo Image File " + in + " to GIF " + out + "\n";
}

const std::vector<uint8_t> kFourByOneGif = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x01, 0x00, 0x91, 0x00, 0x00, 0xFF,
    0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0x55, 0x55, 0x55, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
    0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x02, 0x03, 0x44, 0x34, 0x05, 0x00, 0x3B};

class Qap2Gif : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        test_support::write_text(path(name), text);
        return path(name);
    }
    // A 300 x 300 picture whose GIF takes more than 1000 bytes.
    static std::vector<uint8_t> big_values() {
        std::vector<uint8_t> values(300 * 300);
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<uint8_t>((i * 7 + i / 300) % 4);
        }
        return values;
    }
    std::string big_document() const {
        return write("big.qap", phone_document::image_document(300, 300, 2, big_values()));
    }
    std::string four_by_one() const {
        return write("in.qap", document("<Width>4</Width><Height>1</Height><Depth>2</Depth>"
                                        "<Data>E4</Data>"));
    }

    test_support::TempDir dir;
};

TEST_F(Qap2Gif, UsageAndHelp) {
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({}).out, kUsage);
    EXPECT_EQ(run({"only.qap"}).status, 2);
    EXPECT_EQ(run({"only.qap"}).out, kUsage);
    for (const char* help : {"--help", "-h"}) {
        const Outcome result = run({help});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, kUsage);
    }
    // With two arguments "-h" is a file name.
    const Outcome result = run({"-h", path("out.gif")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, start_line("-h", path("out.gif")) +
                              "Exception thrown processing image: Unable to read file -h: No such "
                              "file or directory\n");
}

TEST_F(Qap2Gif, ConvertsAndPrintsThreeLines) {
    const std::string in = four_by_one();
    const std::string out = path("out.gif");
    const Outcome result = run({in, out, "ignored", "also ignored"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              start_line(in, out) + "Image is 4 x 1 with pixel size of 2 bits.\nDone!\n");
    EXPECT_EQ(test_support::read_file(out), kFourByOneGif);

    // An existing file is replaced whole.
    test_support::write_text(out, std::string(5000, 'x'));
    EXPECT_EQ(run({in, out}).status, 0);
    EXPECT_EQ(test_support::read_file(out), kFourByOneGif);
}

TEST_F(Qap2Gif, InputErrorsCreateNoOutput) {
    const std::string out = path("out.gif");
    const std::string in =
        write("bad.qap", document("<Width>4</Width><Sparkle>yes</Sparkle><Data>E4</Data>"));
    Outcome result = run({in, out});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, start_line(in, out) +
                              "Exception thrown processing image: Saw an unrecognized input "
                              "element: Sparkle\n");
    EXPECT_FALSE(fs::exists(out));

    // Nor do they touch an existing one.
    test_support::write_text(out, "keep");
    const std::string broken = write("broken.qap", "<TarvoIPPhoneImage>");
    result = run({broken, out});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, start_line(broken, out) +
                              "Exception thrown processing image: Premature end of data in tag "
                              "TarvoIPPhoneImage line 1\n");
    EXPECT_EQ(test_support::read_text(out), "keep");

    const std::string root = write("root.qap", "<TarvoIPPhoneImage a=\"b\"/>");
    EXPECT_EQ(run({root, out}).out, start_line(root, out) +
                                        "Exception thrown processing image: No attributes are "
                                        "allowed for TarvoIpPhoneImage.\n");
}

TEST_F(Qap2Gif, RecordsTheGifCannotHoldAreRefused) {
    const std::string out = path("out.gif");
    struct Case {
        std::string children;
        std::string lines;
    };
    const Case cases[] = {
        {"<Height>1</Height><Depth>2</Depth><Data>E4</Data>",
         "Image is 0 x 1 with pixel size of 2 bits.\nException thrown processing image: Width "
         "and Height must be between 1 and 65535, saw 0 x 1.\n"},
        {"<Width>70000</Width><Height>1</Height><Depth>2</Depth>",
         "Image is 70000 x 1 with pixel size of 2 bits.\nException thrown processing image: "
         "Width and Height must be between 1 and 65535, saw 70000 x 1.\n"},
        {"<Width>4</Width><Height>1</Height><Data>E4</Data>",
         "Image is 4 x 1 with pixel size of 0 bits.\nException thrown processing image: Depth "
         "must be between 2 and 8, saw 0.\n"},
        {"<Width>4</Width><Height>2</Height><Depth>2</Depth><Data>E4</Data>",
         "Image is 4 x 2 with pixel size of 2 bits.\nException thrown processing image: Data "
         "holds 4 pixels, but 4 x 2 needs 8.\n"},
        {"<Width>65535</Width><Height>65535</Height><Depth>2</Depth><Data>E4</Data>",
         "Image is 65535 x 65535 with pixel size of 2 bits.\nException thrown processing image: "
         "Data holds 4 pixels, but 65535 x 65535 needs 4294836225.\n"},
    };
    for (const Case& c : cases) {
        const std::string in = write("in.qap", document(c.children));
        const Outcome result = run({in, out});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, start_line(in, out) + c.lines);
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(Qap2Gif, OutputThatCannotBeOpened) {
    const std::string in = four_by_one();
    const std::string out = path("no-such-folder/out.gif");
    Outcome result = run({in, out});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, start_line(in, out) +
                              "Image is 4 x 1 with pixel size of 2 bits.\nException thrown "
                              "processing image: Unable to open output file: " +
                              out + ", errno = 2.\n");
    result = run({in, dir.path().string()});
    EXPECT_NE(
        result.out.find("Unable to open output file: " + dir.path().string() + ", errno = 21."),
        std::string::npos);
    EXPECT_EQ(run({in, ""}).out, start_line(in, "") +
                                     "Image is 4 x 1 with pixel size of 2 bits.\nException "
                                     "thrown processing image: Unable to open output file: , "
                                     "errno = 2.\n");
}

TEST_F(Qap2Gif, FullDeviceIsReportedAndLeftInPlace) {
    const std::string in = four_by_one();
    const Outcome result = run({in, "/dev/full"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, start_line(in, "/dev/full") +
                              "Image is 4 x 1 with pixel size of 2 bits.\nException thrown "
                              "processing image: Unable to write output file: /dev/full, errno "
                              "= 28.\n");
    struct stat info {};
    ASSERT_EQ(lstat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(Qap2Gif, OutputNamingTheInputIsRefused) {
    const std::string in = four_by_one();
    const std::string original = test_support::read_text(in);
    const std::string link = path("link.qap");
    const std::string hard = path("hard.qap");
    ASSERT_EQ(symlink(in.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(in.c_str(), hard.c_str()), 0);
    for (const std::string& out : {in, link, hard, dir.path().string() + "/./in.qap"}) {
        const Outcome result = run({in, out});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, start_line(in, out) +
                                  "Image is 4 x 1 with pixel size of 2 bits.\nException thrown "
                                  "processing image: Output file is the same as the input file: " +
                                  out + ".\n");
        EXPECT_EQ(test_support::read_text(in), original);
    }
}

// Writes that fail on a regular file (here: beyond the file size limit) leave
// no partial file behind, and an existing file as it was.
TEST_F(Qap2Gif, FailedWriteLeavesThePathAsItWas) {
    const std::vector<uint8_t> values = big_values();
    const std::string in = big_document();
    const std::string created = path("created.gif");
    const std::string existing = path("existing.gif");
    test_support::write_text(existing, "old contents");

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto saved_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const Outcome first = run({in, created});
    const Outcome second = run({in, existing});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, saved_handler);

    EXPECT_EQ(first.status, 1);
    EXPECT_NE(first.out.find("Unable to write output file: " + created + ", errno = 27.\n"),
              std::string::npos)
        << first.out;
    EXPECT_EQ(first.out.find("Done!"), std::string::npos);
    EXPECT_FALSE(fs::exists(created));
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(test_support::read_text(existing), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    // Without the limit the same conversion succeeds and decodes.
    EXPECT_EQ(run({in, created}).status, 0);
    const DecodedGif decoded = decode_gif(test_support::read_file(created));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.pixels, values);

    test_support::FullFileSystem full("out.gif", "old");
    if (!full.mounted()) {
        GTEST_SKIP() << "a full file system needs root";
    }
    const std::string out = (full / "out.gif").string();
    EXPECT_NE(run({in, out}).out.find("Unable to write output file: " + out + ", errno = 28."),
              std::string::npos);
    EXPECT_EQ(test_support::read_text(out), "old");
    EXPECT_EQ(full.names(), (std::vector<std::string>{"filler", "out.gif"}));
}

// A file the user may write in a folder that takes no new file is written in
// place; when that write fails, the message says its old contents are lost.
// Root, whom folders do not stop, converts as another user here.
TEST_F(Qap2Gif, FileInALockedFolderIsWrittenInPlace) {
    const std::string in = big_document();
    const std::string out = path("locked/out.gif");
    fs::create_directory(path("locked"));
    test_support::write_text(out, "old contents");
    ::chmod(out.c_str(), 0666);
    ::chmod(path("locked").c_str(), 0555);
    ::chmod(dir.path().c_str(), 0755);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        std::string text = run({in, out}).out;
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        text += run({in, out}).out;
        (void)!::write(pipe_ends[1], text.data(), text.size());
        _exit(0);
    }
    ::close(pipe_ends[1]);
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipe_ends[0]);
    waitpid(pid, nullptr, 0);
    ::chmod(path("locked").c_str(), 0755);
    EXPECT_NE(text.find("Done!"), std::string::npos) << text;
    EXPECT_NE(text.find("Unable to write output file: " + out +
                        ", errno = 27. Its old contents are lost: it was written in place, as "
                        "its folder takes no new file.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(test_support::read_text(out).substr(0, 6), "GIF89a");
    EXPECT_EQ(std::distance(fs::directory_iterator(path("locked")), fs::directory_iterator()), 1);
}

// One row per kind of existing output path: the message (none: "Done!") and
// what the path holds afterwards.
TEST_F(Qap2Gif, OutputPathsAreReplacedNotWrittenThrough) {
    const std::string in = four_by_one();
    int fifo_reader = -1;
    test_support::write_text(path("target.txt"), "target");
    const bool root = ::geteuid() == 0;
    const auto is_gif = [&](const std::string& p) {
        return fs::is_regular_file(fs::symlink_status(p)) &&
               test_support::read_file(p) == kFourByOneGif;
    };
    struct Row {
        std::string name;
        std::function<void(const std::string&)> prepare;
        std::string message;
        std::function<bool(const std::string&)> holds;
    };
    const std::vector<Row> rows = {
        {"symbolic link", [&](const std::string& p) { fs::create_symlink(path("target.txt"), p); },
         "Done!",
         [&](const std::string& p) {
             return is_gif(p) && test_support::read_text(path("target.txt")) == "target";
         }},
        {"dangling symbolic link",
         [&](const std::string& p) { fs::create_symlink(path("nowhere"), p); }, "Done!",
         [&](const std::string& p) { return is_gif(p) && !fs::exists(path("nowhere")); }},
        {"symbolic link to a device",
         [](const std::string& p) { fs::create_symlink("/dev/null", p); }, "Done!",
         [](const std::string& p) { return fs::is_symlink(p); }},
        {"symbolic link to a pipe",
         [&](const std::string& p) {
             ::mkfifo(path("fifo").c_str(), 0600);
             fifo_reader = ::open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
             fs::create_symlink(path("fifo"), p);
         },
         "Done!",
         [&](const std::string& p) {
             std::vector<uint8_t> bytes(64);
             const ssize_t got = ::read(fifo_reader, bytes.data(), bytes.size());
             ::close(fifo_reader);
             bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
             return fs::is_symlink(p) && bytes == kFourByOneGif;
         }},
        {"named pipe", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); },
         "Output file is a pipe, socket or block device: ",
         [](const std::string& p) { return fs::is_fifo(p); }},
        {"file of mode 640",
         [](const std::string& p) {
             test_support::write_text(p, "old");
             ::chmod(p.c_str(), 0640);
         },
         "Done!",
         [&](const std::string& p) {
             struct stat info {};
             return is_gif(p) && ::stat(p.c_str(), &info) == 0 && (info.st_mode & 0777) == 0640;
         }},
        {"read-only file",
         [](const std::string& p) {
             test_support::write_text(p, "old");
             ::chmod(p.c_str(), 0444);
         },
         root ? "Done!" : "Unable to open output file: ",
         [&](const std::string& p) {
             return root ? is_gif(p) : test_support::read_text(p) == "old";
         }},
        {"name of 255 bytes", [](const std::string&) {}, "Done!", is_gif},
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string out = row.name == "name of 255 bytes"
                                    ? path(std::string(251, 'n') + ".gif")
                                    : path("out" + std::to_string(n++) + ".gif");
        row.prepare(out);
        const Outcome result = run({in, out});
        EXPECT_NE(result.out.find(row.message), std::string::npos) << row.name << result.out;
        EXPECT_TRUE(row.holds(out)) << row.name;
    }
}

}  // namespace
