// The picture commands of the Edit menu: their numbers, their names, and what
// the viewer tells the user when one fails.
//
// A failure shows the status as "Error: %u, 0x%08lX" and, below it, in words,
// what the picture lacks for the command and what to do about it (for example
// that ReduceTo4Colors needs a palette picture: run RGBToPalette first).
#pragma once

#include <string>

#include "imaging/image.h"

namespace viewer {

// The picture commands of the Edit menu, by command number.
enum class PictureCommand : int {
    RGBToPalette = 32771,
    ColorToGray = 32772,
    ReduceTo4Colors = 32773,
    Resize = 32774,
};

// The command's name as the Edit menu shows it ("RGBToPalette").
const char* command_name(PictureCommand command);

// The "Error: %u, 0x%08lX" text of a failed picture command.
std::string command_error_text(imaging::ImgStatus status);

// What went wrong and what to do, for a command that failed with `status`
// on `picture` (the picture as the failure left it).
std::string command_failure_advice(PictureCommand command, imaging::ImgStatus status,
                                   const imaging::ImageDesc& picture);

// The whole message: the error text, and the advice on the line below.
std::string command_failure_message(PictureCommand command, imaging::ImgStatus status,
                                    const imaging::ImageDesc& picture);

}  // namespace viewer
