// The message shown when an open does not go cleanly.
#pragma once

#include <string>

#include "imaging/readers/reader_table.h"

namespace viewer {

// For a file of which nothing could be read: "Error: cannot open NAME:
// STATUS_NAME (CODE)". For one that was read in part (`picture_read`), what
// happened in words, then the status: "Error: cannot read all of NAME: the file
// ended early or is damaged; the part that could be read is shown (NAME, CODE)".
// The status that names LZW data is shown by its number alone for formats that
// hold no LZW data, where its name would mislead.
// `reader` is null when no reader was chosen.
std::string open_failure_text(const std::string& name, const imaging::ReaderEntry* reader,
                              imaging::ImgStatus status, bool picture_read);

}  // namespace viewer
