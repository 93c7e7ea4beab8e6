// The Qap2Gif command line, console messages and output file handling.
//
// The output file is opened only after the document was read and checked, so
// an input error never creates or truncates it. A failed write or close is
// reported, and the partial file removed when it is a regular file that this
// run created or truncated; anything else (a device such as /dev/full) is left
// alone. An output that is the input file itself is refused before anything is
// written.

#include "driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "gif_writer.h"
#include "phone_image.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "\nUsage: Qap2Gif input-file output-file\n\n";

std::string open_failure(const std::string& path, int error) {
    return "Unable to open output file: " + path + ", errno = " + std::to_string(error) + ".";
}

std::string write_failure(const std::string& path, int error) {
    return "Unable to write output file: " + path + ", errno = " + std::to_string(error) + ".";
}

// The output file while it is written.
class OutputFile {
  public:
    // Opens path for writing: creates it, or truncates it when it is an
    // existing regular file other than the input. Throws the open failure or
    // the same-file message.
    OutputFile(const std::string& path, const struct stat* input) : path_(path) {
        bool created = false;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) {
            created = true;
        } else if (errno == EEXIST) {
            fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0 && errno == ENOENT) {
                // A symbolic link to a file that does not exist yet.
                fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
                created = fd >= 0;
            }
        }
        if (fd < 0) {
            throw open_failure(path, errno);
        }
        if (::fstat(fd, &info_) != 0) {
            const int error = errno;
            ::close(fd);
            throw open_failure(path, error);
        }
        if (input != nullptr && info_.st_dev == input->st_dev && info_.st_ino == input->st_ino) {
            ::close(fd);
            throw "Output file is the same as the input file: " + path + ".";
        }
        const bool regular = S_ISREG(info_.st_mode);
        if (regular && !created && ::ftruncate(fd, 0) != 0) {
            const int error = errno;
            ::close(fd);
            throw open_failure(path, error);
        }
        removable_ = regular;  // created or truncated by this run
        file_ = ::fdopen(fd, "wb");
        if (file_ == nullptr) {
            const int error = errno;
            ::close(fd);
            remove_partial();
            throw open_failure(path, error);
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
    }

    ~OutputFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return file_; }

    // Flushes and closes the file. Returns 0, or the errno of the failure.
    int close() {
        int error = 0;
        if (std::fflush(file_) != 0) {
            error = errno != 0 ? errno : EIO;
        }
        if (std::fclose(file_) != 0 && error == 0) {
            error = errno != 0 ? errno : EIO;
        }
        file_ = nullptr;
        return error;
    }

    // Removes what was written, when the path still names the regular file
    // this run created or truncated.
    void remove_partial() const {
        struct stat now {};
        if (removable_ && ::lstat(path_.c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
            now.st_dev == info_.st_dev && now.st_ino == info_.st_ino) {
            ::unlink(path_.c_str());
        }
    }

  private:
    std::string path_;
    struct stat info_ {};
    bool removable_ = false;
    std::FILE* file_ = nullptr;
};

void write_gif_file(const PhoneImage& image, const std::string& input_path,
                    const std::string& output_path) {
    GifFileWriter writer(image);
    struct stat input {};
    const bool have_input = ::stat(input_path.c_str(), &input) == 0;
    OutputFile output(output_path, have_input ? &input : nullptr);
    int error = writer.write(output.stream()) == 1 ? 0 : writer.error();
    const int close_error = output.close();
    if (error == 0) {
        error = close_error;
    }
    if (error != 0) {
        output.remove_partial();
        throw write_failure(output_path, error);
    }
}

void convert(const std::string& input_path, const std::string& output_path, std::ostream& out) {
    out << "\nConverting Tarvo Image File " << input_path << " to GIF " << output_path << "\n";
    PhoneImage image;
    phone_image_load(image, input_path);
    out << "Image is " << image.width << " x " << image.height << " with pixel size of "
        << image.depth << " bits."
        << "\n";
    check_phone_image_for_gif(image);
    write_gif_file(image, input_path, output_path);
    out << "Done!\n";
}

}  // namespace

int run_qap2gif(int argc, const char* const argv[], std::ostream& out) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        out << kUsage;
        return kExitOk;
    }
    if (argc < 3) {
        out << kUsage;
        return kExitUsage;
    }
    try {
        convert(argv[1], argv[2], out);
        return kExitOk;
    } catch (const std::string& text) {
        out << "Exception thrown processing image: " << text << "\n";
    } catch (const char* text) {
        out << "Exception thrown processing image: " << text << "\n";
    } catch (...) {
        out << "Unknown exception thrown while processing image\n";
    }
    return kExitFailure;
}
