// pelora-cli: the viewer's document logic from the command line.
//
//   pelora-cli info [--max-pixels N] FILE...
//   pelora-cli convert FILE OUT [--max-pixels N] [--partial] [--rgb-to-palette]
//                               [--color-to-gray] [--reduce-to-4-colors] [--resize]...
//
// The options may stand anywhere after the word info or convert. A picture of
// more pixels than --max-pixels (16384 x 16384 unless given; 0 for no limit)
// is refused before anything is allocated for it.
//
// Files open exactly as in the desktop viewer; messages the viewer would show
// in a message box go to standard error. A conversion that fails at any step
// writes nothing (--partial writes what a damaged file gave all the same), and
// OUT is replaced only once it was written whole.

#include <cstdio>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "output/output_file.h"
#include "viewer/core/document.h"
#include "viewer/core/picture_writer.h"

using namespace imaging;

namespace viewer {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: pelora-cli info [--max-pixels N] FILE...\n"
    "       pelora-cli convert FILE OUT [--max-pixels N] [--partial] [COMMAND]...\n"
    "       pelora-cli --help | --version\n"
    "\n"
    "info     prints, for each FILE, the viewer's title for it and how its load ended\n"
    "         (load: CODE NAME, info: CODE NAME, or unsupported: .EXT).\n"
    "convert  opens FILE as the viewer does, runs the picture commands in the order\n"
    "         given, and writes the picture to OUT as .ppm, .bmp, .qap or .png.\n"
    "         Nothing is written when a step fails; --partial writes what was\n"
    "         decoded of a damaged FILE all the same (the exit status stays 1).\n"
    "\n"
    "--max-pixels N  refuses pictures of more than N pixels (0: no limit) before\n"
    "                they are read; 268435456 (16384 x 16384) unless given.\n"
    "\n"
    "Commands (the viewer's Edit menu):\n"
    "  --rgb-to-palette      reduce a true-colour picture to 256 colours\n"
    "  --color-to-gray       convert to 8-bit gray\n"
    "  --reduce-to-4-colors  reduce to the four gray levels of the phone display\n"
    "  --resize              shrink to at most 133 x 65 pixels\n";

// The usage text with the formats this build reads.
std::string usage_text() {
    std::string text = kUsage;
    std::string formats = "\nFormats read:";
    std::string aliases;
    for (const ReaderEntry& reader : picture_readers()) {
        formats += " ";
        formats += reader.extension;
        for (const char* alias : reader.aliases) {
            aliases += " ";
            aliases += alias;
        }
    }
    return text + formats + "\nAlso named:" + aliases +
           "\nExtensions are compared in any letter case. A file whose content is one of\n"
           "these formats opens as that format, whatever its name.\n";
}

// Messages go to standard error, one per line. A picture above the pixel
// limit is refused, saying how to let it in.
class StderrHost : public DocumentHost {
  public:
    void show_message(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    bool open_large_picture(const LargePicture& picture) override {
        show_message("Error: " + describe_large_picture(picture) + " That is more than " +
                     std::to_string(picture.max_pixels) + " pixels; --max-pixels sets the limit.");
        return false;
    }
};

// The value of --max-pixels: a decimal count of pixels.
bool parse_pixel_count(const std::string& text, int64_t* count) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *count = std::stoll(text);
    return true;
}

int usage_error(const std::string& text) {
    std::fprintf(stderr, "pelora-cli: %s\n%s", text.c_str(), usage_text().c_str());
    return kExitUsage;
}

std::string outcome_line(const OpenOutcome& outcome) {
    switch (outcome.stage) {
        case OpenStage::kUnsupported:
            return "unsupported: " + outcome.extension;
        case OpenStage::kInfo:
        case OpenStage::kLimit:
        case OpenStage::kAllocation:
            return "info: " + std::to_string(outcome.status) + " " + status_name(outcome.status);
        case OpenStage::kLoad:
        case OpenStage::kNotOpened:
            break;
    }
    return "load: " + std::to_string(outcome.status) + " " + status_name(outcome.status);
}

bool loaded_cleanly(const OpenOutcome& outcome) {
    return outcome.stage == OpenStage::kLoad && outcome.status == IMG_OK;
}

int run_info(const std::vector<std::string>& files, int64_t max_pixels) {
    StderrHost host;
    int exit_status = kExitOk;
    for (const std::string& file : files) {
        CPeloraDoc document(&host);
        document.set_max_pixels(max_pixels);
        document.open_file(file);
        std::printf("%s\n%s\n", document.title().c_str(),
                    outcome_line(document.open_outcome()).c_str());
        std::fflush(stdout);
        if (!loaded_cleanly(document.open_outcome())) {
            exit_status = kExitFailure;
        }
    }
    return exit_status;
}

bool parse_command(const std::string& option, PictureCommand* command) {
    if (option == "--rgb-to-palette") {
        *command = PictureCommand::RGBToPalette;
    } else if (option == "--color-to-gray") {
        *command = PictureCommand::ColorToGray;
    } else if (option == "--reduce-to-4-colors") {
        *command = PictureCommand::ReduceTo4Colors;
    } else if (option == "--resize") {
        *command = PictureCommand::Resize;
    } else {
        return false;
    }
    return true;
}

int run_convert(const std::string& input, const std::string& output, bool partial,
                const std::vector<PictureCommand>& commands, int64_t max_pixels) {
    ExportFormat format;
    if (!export_format_for_path(output, &format)) {
        return usage_error("cannot write " + output +
                           ": the output must end in .ppm, .bmp, .qap or .png");
    }
    if (output::same_file(input, output)) {
        std::fprintf(stderr, "Error: Output file is the same as the input file: %s.\n",
                     output.c_str());
        return kExitFailure;
    }
    StderrHost host;
    CPeloraDoc document(&host);
    document.history().set_budget(0);  // nothing is undone here: no steps kept
    document.set_max_pixels(max_pixels);
    document.open_file(input);
    const OpenOutcome& outcome = document.open_outcome();
    if (!loaded_cleanly(outcome) && !(partial && outcome.picture_read())) {
        return kExitFailure;  // nothing to write; the document has said why
    }
    // The document keeps a phone image's attributes across the commands.
    for (PictureCommand command : commands) {
        if (document.run_command(command) != IMG_OK) {
            return kExitFailure;  // the document has shown the command's error
        }
    }

    const std::string error = export_picture(document.image(), output, format);
    if (!error.empty()) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return kExitFailure;
    }
    // A damaged file written at the user's request is still reported.
    return outcome.status == IMG_OK ? kExitOk : kExitFailure;
}

// The whole command: args are the words after the program's name.
int run_cli(const std::vector<std::string>& args) {
    if (args.empty()) {
        return usage_error("missing command");
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage_text().c_str(), stdout);
        return kExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("pelora-cli 1.0\n");
        return kExitOk;
    }

    platform_detect();
    // The words after the command: options anywhere, the rest files.
    std::vector<std::string> paths;
    std::vector<PictureCommand> commands;
    bool partial = false;
    int64_t max_pixels = kDefaultMaxPixels;
    for (size_t i = 1; i < args.size(); ++i) {
        PictureCommand command;
        if (args[i].rfind("--", 0) != 0) {
            paths.push_back(args[i]);
        } else if (args[i] == "--max-pixels") {
            if (i + 1 == args.size() || !parse_pixel_count(args[i + 1], &max_pixels)) {
                return usage_error("--max-pixels needs a number of pixels");
            }
            ++i;
        } else if (args[0] == "convert" && args[i] == "--partial") {
            partial = true;
        } else if (args[0] == "convert" && parse_command(args[i], &command)) {
            commands.push_back(command);
        } else {
            return usage_error("unknown command " + args[i]);
        }
    }
    int status = kExitUsage;
    if (args[0] == "info") {
        if (paths.empty()) {
            return usage_error("info needs at least one file");
        }
        status = run_info(paths, max_pixels);
    } else if (args[0] == "convert") {
        if (paths.size() != 2) {
            return usage_error("convert needs a file and an output");
        }
        status = run_convert(paths[0], paths[1], partial, commands, max_pixels);
    } else {
        return usage_error("unknown command " + args[0]);
    }
    library_shutdown();
    return status;
}

}  // namespace

}  // namespace viewer

int main(int argc, char** argv) {
    return viewer::run_cli(std::vector<std::string>(argv + 1, argv + argc));
}
