// Safe output files: a temporary file renamed into place, or a device written
// directly.

#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace output {

namespace {

constexpr size_t kStreamBuffer = size_t{1} << 16;

// Permission bits an existing file keeps when it is replaced.
constexpr mode_t kPermissionBits = 0777;

// The folder part of path, with its trailing slash ("" for a bare name), so
// that the temporary file lies on the same file system as the output.
std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A short file name that is unlikely to exist: "." and seven letters or
// digits, so that any output name the file system takes leaves room for it.
std::string temporary_name() {
    static std::atomic<uint64_t> counter{0};
    uint64_t x =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (uint64_t{static_cast<uint32_t>(::getpid())} << 32) ^
        (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    // splitmix64 finaliser: spreads every input bit over the name.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = ".";
    for (int i = 0; i < 7; ++i) {
        name += kDigits[x % 36];
        x /= 36;
    }
    return name;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

OutputFile::~OutputFile() {
    abandon();
}

OutputFile::Opened OutputFile::fail(int error) {
    error_ = error != 0 ? error : EIO;
    return Opened::kFailed;
}

void OutputFile::abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

OutputFile::Opened OutputFile::open(const std::string& path) {
    abandon();
    path_ = path;
    error_ = 0;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno != ENOENT) {
            return fail(errno);
        }
        return create_temporary(path, false, 0, 0, 0);  // a new file
    }
    if (S_ISLNK(existing.st_mode)) {
        // The link is replaced, unless it leads to a device or a pipe
        // (/dev/stdout, for example): those are written or refused as such.
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0 || S_ISREG(target.st_mode) ||
            S_ISDIR(target.st_mode)) {
            return create_temporary(path, false, 0, 0, 0);
        }
        return S_ISCHR(target.st_mode) ? open_device(path) : Opened::kNotAFile;
    }
    if (S_ISDIR(existing.st_mode)) {
        return fail(EISDIR);
    }
    if (S_ISCHR(existing.st_mode)) {
        return open_device(path);
    }
    if (!S_ISREG(existing.st_mode)) {
        return Opened::kNotAFile;
    }
    // An existing file: refused when the user may not write it, as opening it
    // for writing would be. Opening it changes nothing.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat current {};
    const bool ok = ::fstat(fd, &current) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        return fail(error);
    }
    if (!S_ISREG(current.st_mode)) {
        return S_ISCHR(current.st_mode) ? open_device(path) : Opened::kNotAFile;
    }
    return create_temporary(path, true, current.st_mode & kPermissionBits, current.st_uid,
                            current.st_gid);
}

OutputFile::Opened OutputFile::open_device(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        ::close(fd);
        return Opened::kNotAFile;
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
    return Opened::kOk;
}

OutputFile::Opened OutputFile::create_temporary(const std::string& path, bool keep_mode,
                                                mode_t mode, uid_t owner, gid_t group) {
    const std::string folder = folder_of(path);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = folder + temporary_name();
        // A new file gets 0666 less the umask, as any created file does; a
        // replaced one its old permission bits, set below.
        fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    keep_mode ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int error = errno;
        temporary_.clear();
        return fail(error);
    }
    if (keep_mode) {
        // The owner is kept when this process may give it (as root); the
        // permission bits in any case.
        if (::fchown(fd, owner, group) != 0) {
            // Not the owner's to give: the new file belongs to this user.
        }
        ::fchmod(fd, mode);
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        abandon();
        return fail(error);
    }
    std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
    return Opened::kOk;
}

bool OutputFile::write(const void* bytes, size_t count) {
    if (error_ != 0 || stream_ == nullptr) {
        return false;
    }
    if (count != 0 && std::fwrite(bytes, 1, count, stream_) != count) {
        error_ = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

int OutputFile::commit() {
    if (stream_ == nullptr) {
        return error_ != 0 ? error_ : EBADF;
    }
    if (error_ == 0 && std::fflush(stream_) != 0) {
        error_ = errno != 0 ? errno : EIO;
    }
    if (error_ == 0 && !temporary_.empty() && ::fsync(::fileno(stream_)) != 0 && errno != EINVAL) {
        error_ = errno;  // EINVAL: a file system that has nothing to synchronise
    }
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (std::fclose(stream) != 0 && error_ == 0) {
        error_ = errno != 0 ? errno : EIO;
    }
    if (error_ == 0 && !temporary_.empty()) {
        if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
            error_ = errno;
        } else {
            temporary_.clear();  // in place: nothing left to remove
        }
    }
    abandon();
    return error_;
}

}  // namespace output
