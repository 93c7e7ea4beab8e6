#include "tests/support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace test_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("pelora-test-" + std::to_string(rd()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

FullFileSystem::FullFileSystem(const std::string& name, const std::string& text) {
    if (::geteuid() != 0 ||
        ::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0) {
        return;
    }
    mounted_ = true;
    write_text(dir_ / name, text);
    const int fd = ::open((dir_ / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::vector<char> block(4096, 'f');
    for (size_t size = block.size(); size > 0; size /= 2) {
        while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
        }
    }
    ::close(fd);
}

FullFileSystem::~FullFileSystem() {
    if (mounted_) {
        ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
}

std::vector<std::string> FullFileSystem::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

std::string read_text(const fs::path& path) {
    const std::vector<uint8_t> bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void write_text(const fs::path& path, const std::string& text) {
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::map<std::string, std::string> name_table(const char* text) {
    std::map<std::string, std::string> out;
    std::istringstream lines(text);
    for (std::string name, rest; lines >> name && std::getline(lines, rest);) {
        std::string value;
        std::istringstream(rest) >> value;
        out[name] = value;
    }
    return out;
}

fs::path source_dir() {
    return fs::path(PELORA_SOURCE_DIR);
}

fs::path corpus_dir(const std::string& sub_folder) {
    fs::path dir = fs::path(PELORA_CORPUS_DIR) / sub_folder;
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : fs::path();
}

namespace {

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args) {
    // Output goes to temporary files rather than pipes so a large output cannot
    // stall the child while the parent waits.
    TempDir scratch;
    const fs::path out_path = scratch / "out";
    const fs::path err_path = scratch / "err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    RunResult result;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) {
        result.exit_status = WEXITSTATUS(wstatus);
    }
    int fd = open(out_path.c_str(), O_RDONLY);
    result.out = drain(fd);
    close(fd);
    fd = open(err_path.c_str(), O_RDONLY);
    result.err = drain(fd);
    close(fd);
    return result;
}

}  // namespace test_support
