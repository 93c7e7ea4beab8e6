#include "viewer/core/picture_command.h"

#include <gtest/gtest.h>

#include <string>

using namespace imaging;
using namespace viewer;

namespace {

// What a failed command says below its status, for each picture it refuses
// (a true-colour picture given to ReduceTo4Colors: document_test).
TEST(CommandFailureAdvice, SaysWhatThePictureLacksAndWhatToDo) {
    struct Row {
        PictureCommand command;
        ImgStatus status;
        int32_t bits;
        int32_t colors;  // color_count; -1 keeps the allocator's
        const char* advice;
    };
    const Row rows[] = {
        {PictureCommand::Resize, IMG_ERR_BPP, 16, -1,
         "Resize needs a picture of 1, 8 or 24 bits per pixel; this picture has 16 bits per "
         "pixel.\nThe picture commands do not take 16-bit gray pictures: export it as a bitmap "
         "(.bmp), which holds it as 8-bit gray, and open that file."},
        {PictureCommand::ColorToGray, IMG_ERR_BPP, 1, -1,
         "ColorToGray needs a picture of 8 or 24 bits per pixel; this picture has 1 bit per "
         "pixel.\nIt has two colours only: export it as a phone image (.qap) as it is."},
        {PictureCommand::ReduceTo4Colors, IMG_ERR_RANGE, 8, 3,
         "ReduceTo4Colors picks four of the picture's palette colours, and its palette has only "
         "3.\nRun ColorToGray first, which gives it a full gray palette."},
        {PictureCommand::RGBToPalette, IMG_ERR_MEMORY, 24, -1,
         "There is not enough memory for RGBToPalette on a picture of 40 x 30 pixels: close "
         "other pictures and try again."},
    };
    for (const Row& row : rows) {
        ImageDesc picture{};
        ASSERT_EQ(image_alloc(&picture, 40, 30, row.bits), IMG_OK);
        picture.color_count = row.colors >= 0 ? row.colors : picture.color_count;
        EXPECT_EQ(command_failure_message(row.command, row.status, picture),
                  command_error_text(row.status) + "\n" + row.advice);
        image_free(&picture);
    }
}

}  // namespace
