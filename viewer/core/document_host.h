// What a document needs from the program that shows it.
//
// The desktop viewer implements this with message boxes and window titles; the
// command-line tool with standard error.
#pragma once

#include <cstdint>
#include <string>

namespace viewer {

// A picture above the document's pixel limit, as it would be opened.
struct LargePicture {
    std::string name;  // the file name, without its folder
    int32_t width = 0;
    int32_t height = 0;
    int64_t bytes = 0;       // the memory it takes
    int64_t max_pixels = 0;  // the limit it is above
};

// "NAME is W x H pixels and needs N MiB of memory." (KiB, MiB or GiB).
std::string describe_large_picture(const LargePicture& picture);

class DocumentHost {
  public:
    virtual ~DocumentHost() = default;

    // Shows a message with an OK button (the desktop viewer) or prints it.
    virtual void show_message(const std::string& text) = 0;

    // The document's title changed to `title`.
    virtual void title_changed(const std::string& title) { (void)title; }

    // The picture changed: every view of the document redraws.
    virtual void update_all_views() {}

    // Asked before a picture above the document's pixel limit is opened: true
    // opens it. A host that refuses tells the user why itself; the default
    // refuses without a word.
    virtual bool open_large_picture(const LargePicture& picture) {
        (void)picture;
        return false;
    }
};

}  // namespace viewer
