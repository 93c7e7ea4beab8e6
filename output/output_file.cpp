// Safe output files: a new file put in place once complete, or a device, pipe
// or open file written directly, or, where the folder allows nothing else, the
// file itself.
//
// How a path is written, by what it names (lstat):
//
//   nothing, or a symbolic link to nothing        a new file, named at commit
//   a regular file                                a new file renamed over it;
//                                                 in place when the folder
//                                                 takes no new file
//   a symbolic link to a regular file or folder   the link replaced likewise
//   a symbolic link to a device or pipe, or into  written through
//   /proc/PID/fd (an open file)
//   a character device                            written directly
//   a folder                                      EISDIR
//   a named pipe, socket or block device          refused
//
// The new file is created with O_TMPFILE: it has no name until it is linked
// into the folder through /proc/self/fd at commit (beside the path and renamed
// over it when something is there already). Where the file system or the
// kernel does not offer that, it is created under a hidden temporary name
// instead, which the signal handlers of temporary_cleanup.h remove.

#include "output/output_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include "output/temporary_cleanup.h"

namespace output {

namespace {

constexpr size_t kStreamBuffer = size_t{1} << 16;

// Permission bits an existing file keeps when it is replaced.
constexpr mode_t kPermissionBits = 0777;

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinkHops = 40;

// The folder part of path, with its trailing slash ("" for a bare name), so
// that the new file lies on the same file system as the output.
std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string openable_folder(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
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

bool same_inode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where a symbolic link leads. A link that lives in procfs is a process's
// open file (/proc/PID/fd/N, reached from /dev/stdout or /dev/fd/N too): what
// it reads as need not be a path at all ("pipe:[1234]").
struct LinkTarget {
    bool exists = false;      // the chain ends at something
    mode_t type = 0;          // what, when it exists
    bool open_file = false;   // the chain passes through a process's descriptor
    int own_descriptor = -1;  // that descriptor, when it is this process's own
};

// This process's own descriptor named by a procfs link, or -1.
int own_descriptor(const std::string& link) {
    const std::string folder = folder_of(link);
    struct stat named {};
    struct stat own {};
    if (::stat(openable_folder(folder).c_str(), &named) != 0 ||
        ::stat("/proc/self/fd", &own) != 0 || !same_inode(named, own)) {
        return -1;
    }
    const std::string number = link.substr(folder.size());
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(number);
}

// Follows the links from path hop by hop. Once a hop lies in procfs, what it
// names is a process's open file, or nothing when that descriptor is closed:
// never a link to replace.
LinkTarget follow_link(const std::string& path) {
    LinkTarget target;
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const std::string folder = folder_of(current);
        struct statfs fs {};
        if (::statfs(openable_folder(folder).c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
            target.open_file = true;
            target.own_descriptor = own_descriptor(current);
            break;
        }
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            break;
        }
        char text[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), text, sizeof text);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof text) {
            break;
        }
        const std::string next(text, static_cast<size_t>(length));
        current = next.front() == '/' ? next : folder + next;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        target.exists = true;
        target.type = info.st_mode;
    }
    return target;
}

// Whether the folder would refuse to let a new file take the place of this
// entry: in a sticky folder (/tmp) only the entry's owner, the folder's owner
// and root may rename over it.
bool sticky_folder_refuses(const std::string& path, const struct stat& entry) {
    struct stat folder {};
    if (::stat(openable_folder(folder_of(path)).c_str(), &folder) != 0 ||
        (folder.st_mode & S_ISVTX) == 0) {
        return false;
    }
    const uid_t user = ::geteuid();
    return user != 0 && user != entry.st_uid && user != folder.st_uid;
}

// Errors with which a folder refuses a new file from this user.
bool refuses_new_file(int error) {
    return error == EACCES || error == EPERM;
}

// Errors with which open refuses O_TMPFILE where it is not offered.
bool lacks_unnamed_files(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool proc_is_mounted() {
    static const bool mounted = ::access("/proc/self/fd", X_OK) == 0;
    return mounted;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && same_inode(sa, sb);
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
    abandon();
}

OutputFile::Opened OutputFile::fail(int error) {
    error_ = error != 0 ? error : EIO;
    return Opened::kFailed;
}

void OutputFile::abandon() {
    if (stream_ != nullptr) {
        std::fclose(stream_);  // an unnamed file goes with its descriptor
        stream_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    cleanup_.reset();
}

OutputFile::Opened OutputFile::open(const std::string& path) {
    abandon();
    path_ = path;
    mode_ = Mode::kNone;
    replaces_ = false;
    error_ = 0;
    if (path.empty()) {
        return fail(ENOENT);
    }
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno != ENOENT) {
            return fail(errno);
        }
        return open_regular(path, false, false, 0, 0, 0);  // a new file
    }
    if (S_ISLNK(existing.st_mode)) {
        const LinkTarget target = follow_link(path);
        if (target.own_descriptor >= 0) {
            const int fd = ::fcntl(target.own_descriptor, F_DUPFD_CLOEXEC, 0);
            return fd < 0 ? fail(errno) : open_stream(fd, Mode::kDirect);
        }
        if (target.open_file ||
            (target.exists && (S_ISCHR(target.type) || S_ISFIFO(target.type)))) {
            return open_direct(path);
        }
        if (target.exists && !S_ISREG(target.type) && !S_ISDIR(target.type)) {
            return Opened::kNotAFile;  // a socket or block device
        }
        // A link to a file, a folder or nothing is replaced. Where the link's
        // folder does not allow that, a file it leads to is written in place.
        const bool writable_file =
            target.exists && S_ISREG(target.type) && ::access(path.c_str(), W_OK) == 0;
        if (writable_file && sticky_folder_refuses(path, existing)) {
            return open_in_place(path);
        }
        const Opened opened = open_regular(path, true, false, 0, 0, 0);
        return opened == Opened::kFailed && writable_file && refuses_new_file(error_)
                   ? open_in_place(path)
                   : opened;
    }
    if (S_ISDIR(existing.st_mode)) {
        return fail(EISDIR);
    }
    if (S_ISCHR(existing.st_mode)) {
        return open_direct(path);
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
        return S_ISCHR(current.st_mode) ? open_direct(path) : Opened::kNotAFile;
    }
    if (sticky_folder_refuses(path, current)) {
        return open_in_place(path);
    }
    const Opened opened = open_regular(path, true, true, current.st_mode & kPermissionBits,
                                       current.st_uid, current.st_gid);
    return opened == Opened::kFailed && refuses_new_file(error_) ? open_in_place(path) : opened;
}

OutputFile::Opened OutputFile::open_stream(int fd, Mode mode) {
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        abandon();
        return fail(error);
    }
    std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
    mode_ = mode;
    return Opened::kOk;
}

// A device, a pipe, or another process's open file. Opened without blocking,
// so that a pipe without a reader fails (ENXIO) instead of waiting for one.
OutputFile::Opened OutputFile::open_direct(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const bool writable =
        known && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISREG(info.st_mode));
    const int flags = ::fcntl(fd, F_GETFL);
    if (!writable || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return writable ? fail(errno) : Opened::kNotAFile;
    }
    if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error);  // written from its start, as a redirection would
    }
    return open_stream(fd, Mode::kDirect);
}

// The file itself, following links. Its old contents stay until the first
// bytes are flushed; commit cuts it to what was written.
OutputFile::Opened OutputFile::open_in_place(const std::string& path) {
    error_ = 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Opened::kNotAFile;
    }
    return open_stream(fd, Mode::kInPlace);
}

OutputFile::Opened OutputFile::open_regular(const std::string& path, bool replaces, bool keep_mode,
                                            mode_t mode, uid_t owner, gid_t group) {
    replaces_ = replaces;
    const std::string folder = folder_of(path);
    Mode created = Mode::kUnnamed;
    int fd = create_unnamed(folder, keep_mode);
    if (fd < 0 && lacks_unnamed_files(errno)) {
        created = Mode::kNamed;
        fd = create_named(folder, keep_mode);
    }
    if (fd < 0) {
        const int error = errno;
        abandon();
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
    return open_stream(fd, created);
}

// A new file gets 0666 less the umask, as any created file does; a replaced
// one its old permission bits, set afterwards.
int OutputFile::create_unnamed(const std::string& folder, bool keep_mode) {
    if (!proc_is_mounted()) {
        errno = EOPNOTSUPP;  // it could not be named at commit
        return -1;
    }
    return ::open(openable_folder(folder).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  keep_mode ? 0600 : 0666);
}

int OutputFile::create_named(const std::string& folder, bool keep_mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = folder + temporary_name();
        cleanup_ = std::make_unique<TemporaryName>(temporary_.c_str());
        const int fd =
            ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   keep_mode ? 0600 : 0666);
        if (fd >= 0) {
            return fd;
        }
        const int error = errno;
        cleanup_.reset();
        temporary_.clear();
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// Links the unnamed file into the folder: under the path itself when nothing
// was there, else beside it and renamed over it, which replaces it at once.
// Returns 0 or the errno of the failure.
int OutputFile::name_in_place() {
    char descriptor[32];
    std::snprintf(descriptor, sizeof descriptor, "/proc/self/fd/%d", ::fileno(stream_));
    if (!replaces_) {
        if (::linkat(AT_FDCWD, descriptor, AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    const std::string folder = folder_of(path_);
    for (int attempt = 0; attempt < 100 && temporary_.empty(); ++attempt) {
        temporary_ = folder + temporary_name();
        cleanup_ = std::make_unique<TemporaryName>(temporary_.c_str());
        if (::linkat(AT_FDCWD, descriptor, AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            const int error = errno;
            cleanup_.reset();
            temporary_.clear();
            if (error != EEXIST) {
                return error;
            }
        }
    }
    if (temporary_.empty()) {
        return EEXIST;
    }
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
        return errno;  // abandon() removes the temporary name
    }
    temporary_.clear();
    cleanup_.reset();
    return 0;
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
    const int fd = ::fileno(stream_);
    if (error_ == 0 && mode_ == Mode::kInPlace) {
        const off_t written = ::ftello(stream_);
        if (written < 0 || ::ftruncate(fd, written) != 0) {
            error_ = errno;
        }
    }
    if (error_ == 0 && mode_ != Mode::kDirect && ::fsync(fd) != 0 && errno != EINVAL) {
        error_ = errno;  // EINVAL: a file system that has nothing to synchronise
    }
    if (error_ == 0 && mode_ == Mode::kUnnamed) {
        error_ = name_in_place();
    }
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (std::fclose(stream) != 0 && error_ == 0) {
        error_ = errno != 0 ? errno : EIO;
    }
    if (error_ == 0 && mode_ == Mode::kNamed) {
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
