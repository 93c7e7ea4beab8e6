// The Qap2Gif command line, console messages and output file handling.
//
// The output file is opened only after the document was read and checked, so
// an input error never creates or truncates it. A regular output is written
// to a new file put in place once complete (output_file.h): a failed write or
// close is reported and leaves an existing file as it was (one that had to be
// written in place is reported lost). A character device, or what a symbolic
// link leads to when that is a device, a pipe or an open file, is written
// directly; a pipe, socket or block device named directly is refused. An
// output that is the input file itself is refused before anything is written.

#include "qap2gif/driver.h"

#include <string>
#include <string_view>

#include "output/output_file.h"
#include "phoneimage/phone_image.h"
#include "qap2gif/gif_writer.h"

namespace qap2gif {

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

void write_gif_file(const phoneimage::PhoneImage& image, const std::string& input_path,
                    const std::string& output_path) {
    GifFileWriter writer(image);
    if (output::same_file(input_path, output_path)) {
        throw "Output file is the same as the input file: " + output_path + ".";
    }
    output::OutputFile file;
    switch (file.open(output_path)) {
        case output::OutputFile::Opened::kOk:
            break;
        case output::OutputFile::Opened::kFailed:
            throw open_failure(output_path, file.error());
        case output::OutputFile::Opened::kNotAFile:
            throw "Output file is a pipe, socket or block device: " + output_path + ".";
    }
    const int error = writer.write(file.stream()) == 1 ? file.commit() : writer.error();
    if (error != 0) {
        // The file is abandoned unchanged, unless it had to be written in place.
        std::string message = write_failure(output_path, error);
        if (file.in_place()) {
            message = message + " " + output::kInPlaceLoss;
        }
        throw message;
    }
}

void convert(const std::string& input_path, const std::string& output_path, std::ostream& out) {
    out << "\nConverting Tarvo Image File " << input_path << " to GIF " << output_path << "\n";
    phoneimage::PhoneImage image;
    phoneimage::phone_image_load(image, input_path);
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

}  // namespace qap2gif
