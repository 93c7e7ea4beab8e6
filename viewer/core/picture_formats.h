// The picture formats the viewer opens, chosen by file extension: the phone
// image, then the imaging library's raster readers in their table's order.
// Every list of formats (the document's dispatch, the Open dialog's filters,
// pelora-cli's format list, the desktop entry's MIME types) comes from here.
#pragma once

#include <span>
#include <string>

#include "imaging/readers/reader_table.h"

using imaging::ImageDesc;
using imaging::ImgStatus;
using imaging::PictureFormat;
using imaging::PictureInfo;
using imaging::ReaderEntry;

// Every reader of the viewer: ".qap" first, then the library's raster readers.
std::span<const ReaderEntry> picture_readers();

// The reader for an extension (dot included), compared without regard to case.
// Null when no reader takes the extension.
const ReaderEntry* find_picture_reader(const std::string& extension);

// The readers' extensions in table order, for file dialogs.
const char* const* picture_extensions(int* count);
