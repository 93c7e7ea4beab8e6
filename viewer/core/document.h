// The viewer's document: one picture, its title, and the picture commands.
//
// A document always holds an allocated picture: 256 x 240 gray at 8 bits when
// new, then whatever the last open or command left. Opening picks the reader by
// the file's extension and opens the file through picture_open (the reader's
// size, a picture of at least 16 x 16, the load). Each picture command converts into a temporary
// picture and, on success, the document frees its picture and takes the new one over.
//
// The document reports through its DocumentHost: the unsupported-format and
// command-failure messages, and an open that fails ("Error: cannot open NAME:
// STATUS_NAME (CODE)"), after which it still shows what it holds.
#pragma once

#include <cstdint>
#include <string>

#include "document_host.h"
#include "image_holder.h"
#include "picture_formats.h"

// The picture commands of the Edit menu, by command number.
enum class PictureCommand : int {
    RGBToPalette = 32771,
    ColorToGray = 32772,
    ReduceTo4Colors = 32773,
    Resize = 32774,
};

// The pixel limit above which a picture is opened only when the host agrees:
// 16384 x 16384, as a decoder's guard against a small file that declares a
// huge picture (such a picture takes 256 MiB at 8 bits per pixel).
inline constexpr int64_t kDefaultMaxPixels = int64_t{16384} * 16384;

// How far the last open got, for tools that report it.
struct OpenOutcome {
    enum class Stage {
        NotOpened,    // new document, nothing opened yet
        Unsupported,  // extension not in the table
        InfoFailed,   // the information call failed
        TooLarge,     // above the pixel limit, and the host did not let it in
        AllocFailed,  // the picture could not be allocated
        Loaded,       // the load call ran; `status` is its result
    };
    Stage stage = Stage::NotOpened;
    ImgStatus status = imaging::IMG_OK;
    std::string extension;

    // Whether the picture holds what was read of the file: the load ran and
    // succeeded, or failed part way through the data (damaged, cut short, an
    // element the document may not hold). False when the file could not be
    // opened, recognised or taken at all: a missing or unparsable phone image,
    // for example, whose load ran on a picture with nothing of the file in it.
    bool picture_read() const;
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
    ImgStatus run_command(PictureCommand command);

    const ImageDesc& image() const { return image_.desc(); }
    // The picture for drawing: display gives a palette picture without colours
    // its default gray palette before making a screen palette from it.
    ImageDesc* image_for_display() { return image_.get(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const std::string& name() const { return name_; }
    const std::string& title() const { return title_; }
    PictureFormat format() const { return format_; }
    const OpenOutcome& open_outcome() const { return outcome_; }

  private:
    ImgStatus rgb_to_palette_command();
    ImgStatus color_to_gray_command();
    ImgStatus reduce_to_4_colors_command();
    ImgStatus resize_command();
    static bool allow_large_picture(const imaging::PictureInfo& info, const void* document);
    void report(const std::string& text);
    void report_open_failure(ImgStatus status);
    void finish_command(ImgStatus status);

    DocumentHost* host_;
    ImageHolder image_;
    int32_t width_ = 256;
    int32_t height_ = 240;
    std::string name_;
    std::string title_;
    PictureFormat format_ = PictureFormat::None;
    OpenOutcome outcome_;
    int64_t max_pixels_ = kDefaultMaxPixels;
};

// The "Error: %u, 0x%08lX" text of a failed picture command.
std::string command_error_text(ImgStatus status);

// Splits a path into the file name with extension (no folder) and the
// extension: the last '.' of the file name and what follows, or empty.
void split_file_name(const std::string& path, std::string* name, std::string* extension);
