// The picture formats the viewer opens: the phone image's row, then the
// imaging library's raster readers in their table's order, and what the
// document and the file dialogs know of a format beyond its row. Every list of
// formats (the document's dispatch, the Open dialog's filters, pelora-cli's
// format list, the desktop entry's MIME types) comes from here.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "imaging/readers/reader_table.h"

namespace viewer {

// The name file dialogs give phone-image files.
inline constexpr char kPhoneImageFiles[] = "Qap Image Files";

// Every reader of the viewer: the phone image's first, then the library's.
std::span<const imaging::ReaderEntry> picture_readers();

// The phone image's row (".qap"). The reader keeps no shared state, so it has
// no cleanup hook.
const imaging::ReaderEntry& phone_image_reader();

// The reader for an extension (dot included), compared without regard to
// letter case. Null when no reader takes the extension.
const imaging::ReaderEntry* find_picture_reader(std::string_view extension);

// The reader for the file at path with that extension: the format its first
// bytes carry when that is another than the extension names, else the
// extension's (imaging::choose_reader). Null when neither is one of the
// viewer's formats.
const imaging::ReaderEntry* choose_picture_reader(const std::string& path,
                                                  std::string_view extension);

// Whether the document takes a picture's size from the information call
// before it allocates the picture (phone images and BMP files), so that the
// size reaches the first window even when the allocation fails. The other
// formats' sizes are taken once the allocation succeeded.
bool size_before_allocation(const imaging::ReaderEntry& reader);

// The name under which file dialogs list the reader's files on their own,
// beside all pictures (kPhoneImageFiles); null for the formats they do not.
const char* file_dialog_name(const imaging::ReaderEntry& reader);

// Whether the format's compressed data may be LZW (GIF, TIFF; TIFF's other
// codings report their damage with the same status), so that the status named
// after LZW data means something to the user.
bool holds_lzw_data(const imaging::ReaderEntry& reader);

}  // namespace viewer
