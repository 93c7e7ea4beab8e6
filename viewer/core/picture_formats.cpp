#include "viewer/core/picture_formats.h"

#include <cstring>
#include <vector>

#include "phoneimage/qap.h"

namespace viewer {
namespace {

// The root element's name, which the desktop's MIME definition of the phone
// image also looks for among a file's first 256 bytes.
constexpr std::string_view kRootName = "TarvoIPPhoneImage";

// A phone image is an XML document whose root element is TarvoIPPhoneImage:
// after an optional UTF-8 byte order mark and white space its text starts with
// '<', and the root's name follows a '<' (or a namespace prefix's ':') among
// the first bytes.
bool phone_image_signature(std::span<const uint8_t> head) {
    std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || text[first] != '<') {
        return false;
    }
    for (size_t at = text.find(kRootName); at != std::string_view::npos;
         at = text.find(kRootName, at + 1)) {
        if (text[at - 1] == '<' || text[at - 1] == ':') {  // at > first: text[first] is '<'
            return true;
        }
    }
    return false;
}

constexpr imaging::ReaderEntry kPhoneImageReader = {".qap",
                                                    {},
                                                    phone_image_signature,
                                                    "application/x-tarvo-phone-image",
                                                    phoneimage::qap_picture_info,
                                                    phoneimage::qap_load,
                                                    nullptr};

// What the viewer knows of a format beyond its row; formats not listed take
// their size after the allocation, have no file-dialog group of their own and
// hold no LZW data.
struct FormatFacts {
    const char* extension;
    bool size_before_allocation;
    const char* file_dialog_name;
    bool holds_lzw_data;
};

constexpr FormatFacts kFormatFacts[] = {
    {".qap", true, kPhoneImageFiles, false},
    {".bmp", true, nullptr, false},
    {".gif", false, nullptr, true},
    {".tif", false, nullptr, true},
};

const FormatFacts* facts_of(const imaging::ReaderEntry& reader) {
    for (const FormatFacts& facts : kFormatFacts) {
        if (std::strcmp(facts.extension, reader.extension) == 0) {
            return &facts;
        }
    }
    return nullptr;
}

const std::vector<imaging::ReaderEntry>& table() {
    static const std::vector<imaging::ReaderEntry> readers = [] {
        std::vector<imaging::ReaderEntry> all{kPhoneImageReader};
        const auto raster = imaging::raster_readers();
        all.insert(all.end(), raster.begin(), raster.end());
        return all;
    }();
    return readers;
}

}  // namespace

std::span<const imaging::ReaderEntry> picture_readers() {
    return table();
}

const imaging::ReaderEntry& phone_image_reader() {
    return table().front();
}

const imaging::ReaderEntry* find_picture_reader(std::string_view extension) {
    return imaging::find_reader(picture_readers(), extension);
}

const imaging::ReaderEntry* choose_picture_reader(const std::string& path,
                                                  std::string_view extension) {
    return imaging::choose_reader(picture_readers(), path.c_str(), extension);
}

bool size_before_allocation(const imaging::ReaderEntry& reader) {
    const FormatFacts* facts = facts_of(reader);
    return facts != nullptr && facts->size_before_allocation;
}

const char* file_dialog_name(const imaging::ReaderEntry& reader) {
    const FormatFacts* facts = facts_of(reader);
    return facts != nullptr ? facts->file_dialog_name : nullptr;
}

bool holds_lzw_data(const imaging::ReaderEntry& reader) {
    const FormatFacts* facts = facts_of(reader);
    return facts != nullptr && facts->holds_lzw_data;
}

}  // namespace viewer
