// Writing an output file so that a failed run never destroys what the path
// named before.
//
// A regular file (new, existing, or in place of a symbolic link to one or to
// nothing) is written to a new file in the same folder and put in place under
// the path's name only after everything was written and the file closed
// without error; on any failure, an abandoned write included, the path keeps
// its old contents. Where the file system allows, the new file has no name
// while it is written (O_TMPFILE), so that nothing is left behind even when
// the process is killed; otherwise it is a hidden file beside the output,
// removed on failure and when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the
// process. An existing file keeps its permission bits, and one that the user
// may not write is refused, as any writer refuses it.
//
// An existing file that the user may write, in a folder that takes no new file
// from the user (not writable, or sticky with the file another user's), is
// written in place, as any other tool writes it: in_place() says so, and a
// write that fails then leaves the file damaged, its old contents lost.
//
// A character device (/dev/null, /dev/full, a terminal) is written directly,
// and so is what a symbolic link leads to when that is a character device or a
// pipe, or an open file of a process (/dev/stdout, /proc/self/fd/N: this
// process's own descriptor is written as it is, appending when it appends). A
// named pipe, socket or block device named directly is refused at once:
// writing would block, or replace a device node.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace output {

class TemporaryName;

// Whether two paths name the same file: the same path, another spelling of it,
// a symbolic link to it, or a hard link. False when either does not exist.
bool same_file(const std::string& a, const std::string& b);

// What a failed in-place write adds to its message.
inline constexpr const char* kInPlaceLoss =
    "Its old contents are lost: it was written in place, as its folder takes no new file.";

class OutputFile {
  public:
    enum class Opened {
        kOk,
        kFailed,    // error() holds the errno of the failure
        kNotAFile,  // a named pipe, socket or block device
    };

    OutputFile();
    // Abandons an uncommitted file: the new file is removed, the path left as
    // it was (unless written in place).
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares path for writing (nothing at path changes yet). The empty path
    // names no file (ENOENT).
    Opened open(const std::string& path);

    // The buffered stream to write to, once open succeeded.
    std::FILE* stream() const { return stream_; }

    // Writes bytes; false (error() set) on failure. Later writes do nothing
    // once one has failed.
    bool write(const void* bytes, size_t count);

    // Flushes and closes the file and, for a regular file, puts it in place.
    // Returns 0, or the errno of the first failure (a failure seen by write()
    // included), after which the path is left as it was.
    int commit();

    // The errno of the first failure, 0 while there was none.
    int error() const { return error_; }

    // Whether the path is written in place (see above).
    bool in_place() const { return mode_ == Mode::kInPlace; }

  private:
    enum class Mode {
        kNone,
        kDirect,   // a device, pipe or open file, written as it is
        kUnnamed,  // a new file without a name until commit
        kNamed,    // a new file under a temporary name beside the path
        kInPlace,  // the existing file itself
    };

    Opened fail(int error);
    Opened open_regular(const std::string& path, bool replaces, bool keep_mode, mode_t mode,
                        uid_t owner, gid_t group);
    Opened open_direct(const std::string& path);
    Opened open_in_place(const std::string& path);
    Opened open_stream(int fd, Mode mode);
    int create_unnamed(const std::string& folder, bool keep_mode);
    int create_named(const std::string& folder, bool keep_mode);
    int name_in_place();
    void abandon();

    std::string path_;
    Mode mode_ = Mode::kNone;
    bool replaces_ = false;                   // something is at the path already
    std::string temporary_;                   // the named temporary file, if any
    std::unique_ptr<TemporaryName> cleanup_;  // its removal on signals
    std::FILE* stream_ = nullptr;
    int error_ = 0;
};

}  // namespace output
