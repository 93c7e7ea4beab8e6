// Writing an output file so that a failed run never destroys what the path
// named before.
//
// A regular file (new, existing, or in place of a symbolic link) is written to
// a temporary file beside it and renamed into place only after everything was
// written and the file closed without error; on any failure the temporary file
// is removed and the path keeps its old contents. An existing file keeps its
// permission bits, and one that the user may not write is refused, as any
// writer refuses it. A symbolic link is replaced, never written through.
//
// A character device (/dev/null, /dev/full, a terminal), or a symbolic link to
// one (/dev/stdout), is written directly. A named pipe, socket or block device
// is refused at once: writing would block, or replace a device node.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace output {

// Whether two paths name the same file: the same path, another spelling of it,
// a symbolic link to it, or a hard link. False when either does not exist.
bool same_file(const std::string& a, const std::string& b);

class OutputFile {
  public:
    enum class Opened {
        kOk,
        kFailed,    // error() holds the errno of the failure
        kNotAFile,  // a named pipe, socket or block device
    };

    OutputFile() = default;
    // Abandons an uncommitted file: the temporary file is removed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares path for writing (nothing at path changes yet).
    Opened open(const std::string& path);

    // The buffered stream to write to, once open succeeded.
    std::FILE* stream() const { return stream_; }

    // Writes bytes; false (error() set) on failure. Later writes do nothing
    // once one has failed.
    bool write(const void* bytes, size_t count);

    // Flushes and closes the file and, for a regular file, renames it into
    // place. Returns 0, or the errno of the first failure (a failure seen by
    // write() included), after which the path is left as it was.
    int commit();

    // The errno of the first failure, 0 while there was none.
    int error() const { return error_; }

  private:
    Opened fail(int error);
    Opened open_device(const std::string& path);
    Opened create_temporary(const std::string& path, bool keep_mode, mode_t mode, uid_t owner,
                            gid_t group);
    void abandon();

    std::string path_;
    std::string temporary_;  // empty when writing directly to a device
    std::FILE* stream_ = nullptr;
    int error_ = 0;
};

}  // namespace output
