#include "output/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "output/temporary_cleanup.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using output::OutputFile;
using test_support::TempDir;

size_t entries(const fs::path& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Runs body in a child process; returns its wait status.
int in_child(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

bool unnamed_files_offered(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
    return fd >= 0;
}

TEST(OutputFile, EmptyPathNamesNoFile) {
    OutputFile file;
    EXPECT_EQ(file.open(""), OutputFile::Opened::kFailed);
    EXPECT_EQ(file.error(), ENOENT);
}

// The new file has no name while it is written: a process killed meanwhile
// (SIGKILL included) leaves the folder as it was.
TEST(OutputFile, NothingIsNamedBeforeCommit) {
    TempDir dir;
    if (!unnamed_files_offered(dir.path())) {
        GTEST_SKIP() << "the file system offers no unnamed files";
    }
    test_support::write_text(dir / "old.bin", "old");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        OutputFile file;
        const std::vector<char> bytes(1 << 20, 'x');
        if (file.open((dir / "old.bin").string()) != OutputFile::Opened::kOk ||
            !file.write(bytes.data(), bytes.size()) || std::fflush(file.stream()) != 0) {
            _exit(1);
        }
        (void)!::write(ready[1], "r", 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(entries(dir.path()), 1u);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(entries(dir.path()), 1u);
    EXPECT_EQ(test_support::read_text(dir / "old.bin"), "old");
    close(ready[0]);
    close(ready[1]);
}

// A named temporary file is removed when one of the signals that end a
// program ends it, and the program still ends by that signal.
TEST(TemporaryName, RemovedWhenASignalEndsTheProcess) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const std::string path = (dir / ".tmpname").string();
        const int status = in_child([&] {
            test_support::write_text(path, "partial");
            output::TemporaryName name(path.c_str());
            raise(signal);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_FALSE(fs::exists(path));
    }
    // Unregistered, the name stays.
    TempDir dir;
    const std::string path = (dir / ".kept").string();
    const int status = in_child([&] {
        test_support::write_text(path, "kept");
        { output::TemporaryName name(path.c_str()); }
        raise(SIGTERM);
    });
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(fs::exists(path));
}

// A symbolic link to a pipe, or to this process's own descriptor, is written
// through; a descriptor that appends keeps appending.
TEST(OutputFile, LinksToPipesAndDescriptorsAreWrittenThrough) {
    TempDir dir;
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, dir / "to-fifo");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    OutputFile file;
    ASSERT_EQ(file.open((dir / "to-fifo").string()), OutputFile::Opened::kOk);
    ASSERT_TRUE(file.write("abc", 3));
    ASSERT_EQ(file.commit(), 0);
    char text[8] = {};
    EXPECT_EQ(::read(reader, text, sizeof text), 3);
    EXPECT_STREQ(text, "abc");
    close(reader);
    EXPECT_TRUE(fs::is_symlink(dir / "to-fifo"));

    test_support::write_text(dir / "log", "first\n");
    const int log = ::open((dir / "log").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(log, 0);
    for (const std::string link : {"/proc/self/fd/", "/dev/fd/"}) {
        ASSERT_EQ(file.open(link + std::to_string(log)), OutputFile::Opened::kOk) << link;
        ASSERT_TRUE(file.write("more\n", 5));
        ASSERT_EQ(file.commit(), 0);
    }
    close(log);
    EXPECT_EQ(test_support::read_text(dir / "log"), "first\nmore\nmore\n");
    // A link to a descriptor that is closed names no file to replace it with.
    int closed = 1000;
    while (fcntl(closed, F_GETFD) != -1) {
        ++closed;
    }
    fs::create_symlink("/proc/self/fd/" + std::to_string(closed), dir / "to-closed");
    EXPECT_EQ(file.open((dir / "to-closed").string()), OutputFile::Opened::kFailed);
    EXPECT_EQ(file.error(), EBADF);
    EXPECT_TRUE(fs::is_symlink(dir / "to-closed"));
    EXPECT_EQ(entries(dir.path()), 4u);
}

// A file the user may write in a folder that takes no new file from the user
// is written in place; a write that fails there leaves it damaged.
TEST(OutputFile, FileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
    TempDir dir;
    const fs::path locked = dir / "locked";
    const fs::path sticky = dir / "sticky";
    fs::create_directory(locked);
    fs::create_directory(sticky);
    for (const fs::path& folder : {locked, sticky}) {
        test_support::write_text(folder / "out.bin", "old contents");
        ::chmod((folder / "out.bin").c_str(), 0666);
    }
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(locked.c_str(), 0555);
    ::chmod(sticky.c_str(), 01777);
    // Root is stopped by no folder: the writes run as another user then, and
    // only they can meet a sticky folder's file of another owner.
    const bool root = ::geteuid() == 0;
    const int status = in_child([&] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        for (const fs::path& folder : {locked, sticky}) {
            if (folder == sticky && !root) {
                continue;
            }
            OutputFile file;
            if (file.open((folder / "out.bin").string()) != OutputFile::Opened::kOk ||
                !file.in_place() || !file.write("new", 3) || file.commit() != 0) {
                _exit(3);
            }
        }
        // Beyond the file size limit the write fails, and the old contents
        // are gone.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4, 4};
        setrlimit(RLIMIT_FSIZE, &limit);
        OutputFile file;
        const std::string big(100, 'x');
        if (file.open((locked / "out.bin").string()) != OutputFile::Opened::kOk ||
            !file.in_place() || (file.write(big.data(), big.size()) && file.commit() == 0)) {
            _exit(4);
        }
    });
    ::chmod(locked.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test_support::read_text(sticky / "out.bin"), root ? "new" : "old contents");
    EXPECT_EQ(test_support::read_text(locked / "out.bin"), "xxxx");
    EXPECT_EQ(entries(locked), 1u);
}

}  // namespace
