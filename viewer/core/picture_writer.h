// Writing a picture to a file in one of the export formats.
#pragma once

#include <string>

#include "imaging/image.h"

enum class ExportFormat { Ppm, Bmp, PhoneImage, Png };

// The format for an output path, by its extension (.ppm, .bmp, .qap, .png, any
// case). Returns false for any other extension.
bool export_format_for_path(const std::string& path, ExportFormat* format);

// Writes the picture (with its phone-image attributes) to path atomically; ""
// on success, else a message for the user.
std::string export_picture(const imaging::ImageDesc& image, const std::string& path,
                           ExportFormat format);
