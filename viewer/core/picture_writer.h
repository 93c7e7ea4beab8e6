// Writing a document's picture to a file: binary PPM, Windows bitmap, phone
// image or PNG. One writer for pelora-cli and the desktop viewer's File > Export.
//
// Every writer streams the picture row by row to the file; nothing holds a
// second copy of the picture. The file is written safely (output/output_file.h):
// to a temporary file renamed into place once complete, so a failure never
// leaves a truncated file or destroys the one that was there. A write can be
// followed, and cancelled with the same effect, from another thread
// (ExportProgress).
//
//   PPM          P6, 8-bit red, green, blue, top row first.
//   BMP          1, 8 or 24 bits as the picture; 16-bit gray as 8-bit gray. The
//                colour table holds every entry the pixels use.
//   phone image  the XML document: the descriptor's phone-image attributes,
//                Width, Height, Depth 2 and the pixels reduced to four gray
//                levels.
//   PNG          1 or 8-bit palette, 16-bit gray, 8-bit RGB (png_encoder.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "imaging/image.h"

namespace viewer {

enum class ExportFormat { Ppm, Bmp, PhoneImage, Png };

// The format for an output path by its extension (.ppm, .bmp, .qap, .png, any case); false
// otherwise.
bool export_format_for_path(const std::string& path, ExportFormat* format);

// How far a write has come, and a way to stop it, shared between the thread
// that writes and one that watches.
class ExportProgress {
  public:
    // Asks the write to stop before its next row: it then fails with
    // "Operation canceled" and leaves the path as it was. A write that has
    // written its last row completes all the same.
    void cancel() { cancelled_.store(true); }
    bool cancelled() const { return cancelled_.load(); }

    // Rows written so far, and the picture's rows (0 until the write begins).
    uint32_t rows_done() const { return rows_done_.load(); }
    uint32_t rows_total() const { return rows_total_.load(); }

    // For the writers: the write begins, and has written `rows`; false when
    // it is to stop.
    void begin(uint32_t rows) { rows_total_.store(rows); }
    bool advance(uint32_t rows) {
        rows_done_.store(rows);
        return !cancelled();
    }

  private:
    std::atomic<bool> cancelled_{false};
    std::atomic<uint32_t> rows_done_{0};
    std::atomic<uint32_t> rows_total_{0};
};

// Writes the picture (with the phone-image attributes the descriptor holds) to path atomically.
// Returns an empty string on success, else a description of the failure for the user.
// The picture must not change while it is written.
std::string export_picture(const imaging::ImageDesc& image, const std::string& path,
                           ExportFormat format, ExportProgress* progress = nullptr);

}  // namespace viewer
