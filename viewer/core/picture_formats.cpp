#include "viewer/core/picture_formats.h"

#include <cstring>
#include <vector>

#include "phoneimage/qap.h"

namespace viewer {
namespace {

// The widest and tallest picture an 8-bit image takes whole (image_check
// lets its area reach column and row 32767).
constexpr int32_t kMaxPhonePictureSide = 32768;

// qap_info for opening: a document whose Width or Height no image can take is
// refused with IMG_ERR_RANGE before anything is allocated for it.
imaging::ImgStatus phone_image_picture_info(const char* path, imaging::PictureInfo* info) {
    QapInfo record{};
    imaging::ImgStatus status = qap_info(path, &record);
    if (status == imaging::IMG_OK &&
        (record.width > kMaxPhonePictureSide || record.height > kMaxPhonePictureSide)) {
        status = imaging::IMG_ERR_RANGE;
    }
    if (status == imaging::IMG_OK) {
        info->width = record.width;
        info->height = record.height;
        info->bits_per_pixel = 4;  // four gray levels, held one per byte
    }
    return status;
}

constexpr imaging::ReaderEntry kPhoneImageReader = {
    ".qap", {}, "application/x-tarvo-phone-image", phone_image_picture_info, qap_load, nullptr};

// What the viewer knows of a format beyond its row; formats not listed take
// their size after the allocation and have no file-dialog group of their own.
struct FormatFacts {
    const char* extension;
    bool size_before_allocation;
    const char* file_dialog_name;
};

constexpr FormatFacts kFormatFacts[] = {
    {".qap", true, kPhoneImageFiles},
    {".bmp", true, nullptr},
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

bool size_before_allocation(const imaging::ReaderEntry& reader) {
    const FormatFacts* facts = facts_of(reader);
    return facts != nullptr && facts->size_before_allocation;
}

const char* file_dialog_name(const imaging::ReaderEntry& reader) {
    const FormatFacts* facts = facts_of(reader);
    return facts != nullptr ? facts->file_dialog_name : nullptr;
}

}  // namespace viewer
