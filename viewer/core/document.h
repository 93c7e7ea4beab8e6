// The viewer's document: one picture, its title, and the picture commands.
//
// A document always holds an allocated picture: 256 x 240 gray at 8 bits when
// new, then whatever the last open or command left. Opening picks the reader by
// the file's extension, or by its first bytes when they are another format's
// (viewer::choose_picture_reader), and opens the file through picture_open
// (the reader's size, a picture of at least 16 x 16, the load). Each picture command converts into
// a temporary picture and, on success, the document frees its picture and takes the new one over.
//
// The document reports through its DocumentHost: the unsupported-format and
// command-failure messages, and an open that fails or reads only part of its
// file (open_message.h), after which it still shows what it holds.
#pragma once

#include <cstdint>
#include <string>

#include "document_host.h"
#include "image_holder.h"
#include "imaging/readers/picture_open.h"
#include "viewer/core/picture_formats.h"

using imaging::ImageDesc;
using imaging::ImgStatus;

// The picture commands of the Edit menu, by command number.
enum class PictureCommand : int {
    RGBToPalette = 32771,
    ColorToGray = 32772,
    ReduceTo4Colors = 32773,
    Resize = 32774,
};

// How far the last open got (its stage and status, and whether the picture
// holds what was read of the file), and the file's extension, for tools that
// report it.
struct OpenOutcome : imaging::PictureOpen {
    std::string extension;
};

class CPeloraDoc {
  public:
    // The host is not owned and may be null (nothing is reported then).
    explicit CPeloraDoc(DocumentHost* host = nullptr);
    CPeloraDoc(const CPeloraDoc&) = delete;
    CPeloraDoc& operator=(const CPeloraDoc&) = delete;

    // Loads the picture at `path` (the framework's open), then rebuilds the title.
    void open_file(const std::string& path);

    // Rebuilds the title from the picture and hands it to the host. The text
    // passed in is ignored: the title always describes the current picture.
    void SetTitle(const std::string& ignored = std::string());

    // Runs one picture command and returns its status (0 also when its
    // precondition was not met and it did nothing).
    ImgStatus run_command(PictureCommand command);

    const ImageDesc& image() const { return image_.desc(); }
    // The picture for drawing: display gives a palette picture without colours
    // its default gray palette before making a screen palette from it.
    ImageDesc* image_for_display() { return image_.get(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const std::string& name() const { return name_; }
    const std::string& title() const { return title_; }
    // The reader of the last file whose load ran; null before.
    const imaging::ReaderEntry* reader() const { return reader_; }
    const OpenOutcome& open_outcome() const { return outcome_; }

  private:
    ImgStatus rgb_to_palette_command();
    ImgStatus color_to_gray_command();
    ImgStatus reduce_to_4_colors_command();
    ImgStatus resize_command();
    void report(const std::string& text);
    void report_open_failure(ImgStatus status);
    void finish_command(ImgStatus status);

    DocumentHost* host_;
    ImageHolder image_;
    int32_t width_ = 256;
    int32_t height_ = 240;
    std::string name_;
    std::string title_;
    const imaging::ReaderEntry* reader_ = nullptr;
    OpenOutcome outcome_;
};

// The "Error: %u, 0x%08lX" text of a failed picture command.
std::string command_error_text(ImgStatus status);

// Splits a path into the file name with extension (no folder) and the
// extension: the last '.' of the file name and what follows, or empty.
void split_file_name(const std::string& path, std::string* name, std::string* extension);
