// Writing a document's picture to a file: binary PPM, Windows bitmap, phone
// image or PNG. One writer for pelora-cli and the desktop viewer's File > Export.
//
// Every writer streams the picture row by row to the file; nothing holds a
// second copy of the picture. The file is written safely (output/output_file.h):
// to a temporary file renamed into place once complete, so a failure never
// leaves a truncated file or destroys the one that was there.
//
//   PPM          P6, 8-bit red, green, blue, top row first.
//   BMP          1, 8 or 24 bits as the picture; 16-bit gray as 8-bit gray. The
//                colour table holds every entry the pixels use.
//   phone image  the XML document: the descriptor's phone-image attributes,
//                Width, Height, Depth 2 and the pixels reduced to four gray
//                levels.
//   PNG          1 or 8-bit palette, 16-bit gray, 8-bit RGB.
#pragma once

#include <string>

#include "imaging/image.h"

enum class ExportFormat { Ppm, Bmp, PhoneImage, Png };

// The format for an output path by its extension (.ppm, .bmp, .qap, .png, any case); false
// otherwise.
bool export_format_for_path(const std::string& path, ExportFormat* format);

// Writes the picture (with the phone-image attributes the descriptor holds) to path atomically.
// Returns an empty string on success, else a description of the failure for the user.
std::string export_picture(const imaging::ImageDesc& image, const std::string& path,
                           ExportFormat format);
