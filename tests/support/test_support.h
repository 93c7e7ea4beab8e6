// Helpers shared by the tests: scratch folders, whole-file reads and writes,
// and the location of the source tree and the optional conformance corpus.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes out of scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// A small file system (tmpfs) mounted on a fresh folder, holding one file
// name with text, then filled up so that any further write fails with
// ENOSPC. Mounting needs root: mounted() is false otherwise, and the test
// skips.
class FullFileSystem {
  public:
    FullFileSystem(const std::string& name, const std::string& text);
    ~FullFileSystem();
    FullFileSystem(const FullFileSystem&) = delete;
    FullFileSystem& operator=(const FullFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

  private:
    TempDir dir_;
    bool mounted_ = false;
};

std::vector<uint8_t> read_file(const std::filesystem::path& path);
std::string read_text(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void write_text(const std::filesystem::path& path, const std::string& text);

// The source tree (for committed test data and examples).
std::filesystem::path source_dir();

// A folder of the conformance corpus, or an empty path when the corpus is not
// present (a user's checkout does not have it); tests then GTEST_SKIP.
std::filesystem::path corpus_dir(const std::string& sub_folder);

// Result of running a program with its output captured.
struct RunResult {
    int exit_status = -1;  // the program's exit status, or -1 when it did not exit
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs program with args (no shell), capturing standard output and error.
RunResult run_program(const std::string& program, const std::vector<std::string>& args);

// A table written as text, one entry a line: the first word names the entry
// and the second is its value (empty when the line has one word); any further
// words are a comment. Used for the corpus tests' lists of files.
std::map<std::string, std::string> name_table(const char* text);

}  // namespace test_support
