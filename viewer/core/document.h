// The viewer's document: one picture, its title, and the picture commands.
//
// A document always holds an allocated picture: 256 x 240 gray at 8 bits when
// new, then whatever the last open or command left. Opening picks the reader by
// the file's extension, or by its first bytes when they are another format's
// (choose_picture_reader), and opens the file through picture_open
// (the reader's size, a picture of at least 16 x 16, the load). Each picture command converts into
// a temporary picture and, on success, the document frees its picture and takes the new one over.
// Each change of the picture (a command, or reloading the file) can be undone
// and redone (edit_history.h).
//
// The document reports through its DocumentHost: the unsupported-format and
// command-failure messages, and an open that fails or reads only part of its
// file (open_message.h), after which it still shows what it holds.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/readers/picture_open.h"
#include "viewer/core/document_host.h"
#include "viewer/core/edit_history.h"
#include "viewer/core/image_holder.h"
#include "viewer/core/picture_command.h"
#include "viewer/core/picture_formats.h"

namespace viewer {

// The pixel limit above which a picture is opened only when the host agrees:
// 16384 x 16384, as a decoder's guard against a small file that declares a
// huge picture (such a picture takes 256 MiB at 8 bits per pixel).
inline constexpr int64_t kDefaultMaxPixels = int64_t{16384} * 16384;

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
    // A picture of more pixels than max_pixels() is opened only when the host
    // agrees (DocumentHost::open_large_picture); else the document keeps what it
    // held.
    void open_file(const std::string& path);

    // The pixel limit for opening (0: none); kDefaultMaxPixels to begin with.
    int64_t max_pixels() const { return max_pixels_; }
    void set_max_pixels(int64_t limit) { max_pixels_ = limit; }

    // Rebuilds the title from the picture and hands it to the host. The text
    // passed in is ignored: the title always describes the current picture.
    void SetTitle(const std::string& ignored = std::string());

    // Runs one picture command and returns its status (0 also when its
    // precondition was not met and it did nothing).
    imaging::ImgStatus run_command(PictureCommand command);

    // Takes the last change back, or does the last one taken back again; the
    // title and views follow. False when there is nothing to undo or redo.
    bool undo();
    bool redo();

    // Reads the picture from its file again. The picture it replaces can be
    // brought back with Undo; a file that cannot be read (the failure is
    // reported) leaves the picture as it is.
    void revert();

    // The steps of undo and redo, and whether the picture differs from its
    // file's. Its budget may be changed (0: no steps are kept).
    const EditHistory& history() const { return history_; }
    EditHistory& history() { return history_; }
    bool modified() const { return history_.modified(); }

    const imaging::ImageDesc& image() const { return image_.desc(); }
    // The picture for drawing: display gives a palette picture without colours
    // its default gray palette before making a screen palette from it.
    imaging::ImageDesc* image_for_display() { return image_.get(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const std::string& name() const { return name_; }
    // The file opened last, as given to open_file; empty for a new document.
    const std::string& path() const { return path_; }
    const std::string& title() const { return title_; }
    // The reader of the last file whose load ran; null before.
    const imaging::ReaderEntry* reader() const { return reader_; }
    const OpenOutcome& open_outcome() const { return outcome_; }

  private:
    imaging::ImgStatus rgb_to_palette_command();
    imaging::ImgStatus color_to_gray_command();
    imaging::ImgStatus reduce_to_4_colors_command();
    imaging::ImgStatus resize_command();
    static bool allow_large_picture(const imaging::PictureInfo& info, const void* document);
    void report(const std::string& text);
    void report_open_failure(imaging::ImgStatus status);
    void finish_command(PictureCommand command, imaging::ImgStatus status);
    void replace_picture(ImageHolder& result);
    void picture_replaced();

    DocumentHost* host_;
    ImageHolder image_;
    EditHistory history_;
    // While a command runs: the picture before its first change (kept for
    // undo when the history can hold it), and whether it changed.
    ImageHolder before_command_;
    bool command_changed_ = false;
    std::string path_;
    int32_t width_ = 256;
    int32_t height_ = 240;
    std::string name_;
    std::string title_;
    const imaging::ReaderEntry* reader_ = nullptr;
    OpenOutcome outcome_;
    int64_t max_pixels_ = kDefaultMaxPixels;
};

// Splits a path into the file name with extension (no folder) and the
// extension: the last '.' of the file name and what follows, or empty.
void split_file_name(const std::string& path, std::string* name, std::string* extension);

}  // namespace viewer
