#include "viewer/core/picture_command.h"

#include <cinttypes>
#include <cstdio>

using namespace imaging;

namespace viewer {

namespace {

struct CommandFacts {
    PictureCommand command;
    const char* name;   // as the Edit menu shows it
    const char* needs;  // what it takes, in the words of the advice
};

constexpr CommandFacts kCommands[] = {
    {PictureCommand::RGBToPalette, "RGBToPalette", "a true-colour picture (24 bits per pixel)"},
    {PictureCommand::ColorToGray, "ColorToGray", "a picture of 8 or 24 bits per pixel"},
    {PictureCommand::ReduceTo4Colors, "ReduceTo4Colors", "a palette picture (8 bits per pixel)"},
    {PictureCommand::Resize, "Resize", "a picture of 1, 8 or 24 bits per pixel"},
};

const CommandFacts& facts_of(PictureCommand command) {
    for (const CommandFacts& facts : kCommands) {
        if (facts.command == command) {
            return facts;
        }
    }
    return kCommands[0];  // every command is in the table
}

std::string bits_text(int32_t bits) {
    return bits == 1 ? "1 bit per pixel" : std::to_string(bits) + " bits per pixel";
}

// The way on from a picture of this depth that the command does not take.
std::string depth_remedy(PictureCommand command, int32_t bits) {
    if (bits == 16) {
        return "The picture commands do not take 16-bit gray pictures: export it as a bitmap "
               "(.bmp), which holds it as 8-bit gray, and open that file.";
    }
    if (bits == 24 && command == PictureCommand::ReduceTo4Colors) {
        return "Run RGBToPalette first.";
    }
    if (bits == 1) {
        return "It has two colours only: export it as a phone image (.qap) as it is.";
    }
    return std::string();
}

std::string depth_advice(PictureCommand command, const ImageDesc& picture) {
    const int32_t bits = image_bits(picture);
    std::string text = std::string(command_name(command)) + " needs " + facts_of(command).needs +
                       "; this picture has " + bits_text(bits) + ".";
    const std::string remedy = depth_remedy(command, bits);
    return remedy.empty() ? text : text + "\n" + remedy;
}

}  // namespace

const char* command_name(PictureCommand command) {
    return facts_of(command).name;
}

std::string command_error_text(ImgStatus status) {
    const auto value = static_cast<uint32_t>(status);
    char text[64];
    std::snprintf(text, sizeof text, "Error: %" PRIu32 ", 0x%08" PRIX32, value, value);
    return text;
}

std::string command_failure_advice(PictureCommand command, ImgStatus status,
                                   const ImageDesc& picture) {
    const std::string name = command_name(command);
    switch (status) {
        case IMG_ERR_MEMORY:
            return "There is not enough memory for " + name + " on a picture of " +
                   std::to_string(image_width(picture)) + " x " +
                   std::to_string(image_height(picture)) +
                   " pixels: close other pictures and try again.";
        case IMG_ERR_BPP:
            return depth_advice(command, picture);
        case IMG_ERR_RANGE:
            // The reduction picks four of the palette's colours.
            if (command == PictureCommand::ReduceTo4Colors && image_bits(picture) == 8 &&
                picture.color_count < 4) {
                return name + " picks four of the picture's palette colours, and its palette has " +
                       "only " + std::to_string(picture.color_count) +
                       ".\nRun ColorToGray first, which gives it a full gray palette.";
            }
            break;
        default:
            break;
    }
    return name + " cannot convert this picture (" + status_name(status) + ").";
}

std::string command_failure_message(PictureCommand command, ImgStatus status,
                                    const ImageDesc& picture) {
    return command_error_text(status) + "\n" + command_failure_advice(command, status, picture);
}

}  // namespace viewer
