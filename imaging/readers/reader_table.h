// The table of raster readers: one row per file format, from which every list
// of formats is derived (the viewer's dispatch by extension and signature and
// its Open dialog filters, the desktop entry's MIME types, pelora-cli's format
// list) and whose cleanup hooks library_shutdown runs. Adding a reader is one
// row in reader_table.cpp plus the reader's own files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "imaging/image.h"

namespace imaging {

// What opening a picture takes from a reader's information call.
struct PictureInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits_per_pixel = 0;  // as passed to the allocation
};

// The first bytes of a file that a reader's signature test looks at.
inline constexpr size_t kSignatureBytes = 256;

struct ReaderEntry {
    const char* extension;                 // the format's own, with the dot, lower case: ".jpg"
    std::span<const char* const> aliases;  // other extensions it goes by: ".jpeg"
    // Whether a file's first bytes (up to kSignatureBytes of them) are the
    // format's; null for a format without a signature, which only its
    // extension picks.
    bool (*signature)(std::span<const uint8_t> head);
    const char* mime_type;  // for the desktop entry: "image/jpeg"
    ImgStatus (*info)(const char* path, PictureInfo* info);
    ImgStatus (*load)(const char* path, ImageDesc* image);
    void (*cleanup)();  // deletes the reader's lock; null when it keeps none
};

// The reader's extensions: its own, then its aliases.
std::vector<const char*> reader_extensions(const ReaderEntry& reader);

// The reader of `readers` for the file at path whose extension (dot included)
// is `extension`: the reader whose signature the file's first bytes carry when
// that is another format than the extension names (a PNG file saved as .jpg),
// else the extension's reader; null when neither is in the table. The file is
// read once, at most kSignatureBytes of it; one that cannot be read keeps the
// extension's reader, whose open then fails.
const ReaderEntry* choose_reader(std::span<const ReaderEntry> readers, const char* path,
                                 std::string_view extension);

// The raster readers of the library, in the order .bmp, .gif, .jpg, .pcx,
// .png, .tga, .tif.
std::span<const ReaderEntry> raster_readers();

// The reader of `readers` whose extension or alias is `extension` (dot
// included), compared without regard to the case of ASCII letters. Null when
// none takes it.
const ReaderEntry* find_reader(std::span<const ReaderEntry> readers, std::string_view extension);

}  // namespace imaging
