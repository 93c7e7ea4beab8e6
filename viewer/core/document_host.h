// What a document needs from the program that shows it.
//
// The desktop viewer implements this with message boxes and window titles; the
// command-line tool with standard error.
#pragma once

#include <string>

class DocumentHost {
  public:
    virtual ~DocumentHost() = default;

    // Shows a message with an OK button (the desktop viewer) or prints it.
    virtual void show_message(const std::string& text) = 0;

    // The document's title changed to `title`.
    virtual void title_changed(const std::string& title) { (void)title; }

    // The picture changed: every view of the document redraws.
    virtual void update_all_views() {}
};
