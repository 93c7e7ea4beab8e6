#include "viewer/core/document.h"

#include <algorithm>
#include <cstdio>

#include "imaging/convert/color_to_gray.h"
#include "imaging/convert/palette_map.h"
#include "imaging/convert/resize.h"
#include "imaging/convert/rgb_to_palette.h"
#include "viewer/core/open_message.h"

using namespace imaging;

namespace viewer {

namespace {

constexpr int32_t kDefaultWidth = 256;
constexpr int32_t kDefaultHeight = 240;
constexpr int32_t kDefaultBits = 8;

// The phone display's picture limits, which the Resize command shrinks to.
constexpr int32_t kPhoneWidth = 133;
constexpr int32_t kPhoneHeight = 65;

// The four gray levels of a phone picture, black to white, as the four-level
// command's final palette.
constexpr PaletteEntry kFourGrays[4] = {
    {0x00, 0x00, 0x00, 0}, {0x55, 0x55, 0x55, 0}, {0xAA, 0xAA, 0xAA, 0}, {0xFF, 0xFF, 0xFF, 0}};

}  // namespace

void split_file_name(const std::string& path, std::string* name, std::string* extension) {
    const size_t slash = path.find_last_of('/');
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name->find_last_of('.');
    *extension = dot == std::string::npos ? std::string() : name->substr(dot);
}

CPeloraDoc::CPeloraDoc(DocumentHost* host) : host_(host) {
    image_alloc(image_.get(), kDefaultWidth, kDefaultHeight, kDefaultBits);
}

std::string describe_large_picture(const LargePicture& picture) {
    const double kib = static_cast<double>(picture.bytes) / 1024.0;
    char size[64];
    if (kib >= 1024.0 * 1024.0) {
        std::snprintf(size, sizeof size, "%.1f GiB", kib / (1024.0 * 1024.0));
    } else if (kib >= 1024.0) {
        std::snprintf(size, sizeof size, "%.0f MiB", kib / 1024.0);
    } else {
        std::snprintf(size, sizeof size, "%.0f KiB", kib);
    }
    return picture.name + " is " + std::to_string(picture.width) + " x " +
           std::to_string(picture.height) + " pixels and needs " + size + " of memory.";
}

// A picture the allocation refuses anyway (over 2 GiB) is let through to fail
// there with its own status; any other is the host's to decide.
bool CPeloraDoc::allow_large_picture(const PictureInfo& info, const void* document) {
    const auto& self = *static_cast<const CPeloraDoc*>(document);
    LargePicture picture;
    picture.name = self.name_;
    picture.width = std::max(info.width, kMinimumPictureSide);
    picture.height = std::max(info.height, kMinimumPictureSide);
    picture.bytes = image_storage_bytes(picture.width, picture.height, info.bits_per_pixel);
    picture.max_pixels = self.max_pixels_;
    if (picture.bytes == 0) {
        return true;
    }
    return self.host_ != nullptr && self.host_->open_large_picture(picture);
}

void CPeloraDoc::report(const std::string& text) {
    if (host_ != nullptr) {
        host_->show_message(text);
    }
}

void CPeloraDoc::report_open_failure(ImgStatus status) {
    report(open_failure_text(name_, reader_, status, outcome_.picture_read()));
}

void CPeloraDoc::open_file(const std::string& path) {
    path_ = path;
    history_.clear();  // another file: nothing of the last one to undo
    std::string extension;
    split_file_name(path, &name_, &extension);
    const ReaderEntry* reader = choose_picture_reader(path, extension);
    if (reader == nullptr) {
        outcome_ = OpenOutcome{};
        outcome_.stage = OpenStage::kUnsupported;
        outcome_.extension = extension;
        report("Error: Unsupported file format " + extension);
        SetTitle();
        return;
    }

    OpenLimits limits;
    limits.max_pixels = max_pixels_;
    limits.allow_above_limit = &CPeloraDoc::allow_large_picture;
    limits.context = this;
    outcome_ = OpenOutcome{picture_open(*reader, path.c_str(), image_.get(), limits), extension};
    if (outcome_.stage == OpenStage::kLimit) {
        SetTitle();  // the host has told the user
        return;
    }
    if (outcome_.stage == OpenStage::kInfo) {
        report_open_failure(outcome_.status);
        SetTitle();
        return;
    }
    if (size_before_allocation(*reader) || outcome_.stage != OpenStage::kAllocation) {
        width_ = outcome_.info.width;
        height_ = outcome_.info.height;
    }
    if (outcome_.stage == OpenStage::kAllocation) {
        // The old picture is gone; the document shows the default one.
        image_alloc(image_.get(), kDefaultWidth, kDefaultHeight, kDefaultBits);
        report_open_failure(outcome_.status);
        SetTitle();
        return;
    }
    reader_ = reader;
    if (outcome_.status != IMG_OK) {
        report_open_failure(outcome_.status);
    }
    SetTitle();
}

void CPeloraDoc::SetTitle(const std::string& /*ignored*/) {
    const ImageDesc& picture = image_.desc();
    char text[128];
    std::snprintf(
        text, sizeof text, " (%u x %u x %u, %s", static_cast<unsigned>(image_width(picture)),
        static_cast<unsigned>(image_height(picture)), static_cast<unsigned>(image_bits(picture)),
        (picture.type_flags & IMAGE_GRAY) != 0 ? "Gray" : "Color");
    title_ = name_ + text;
    if (picture.color_count != 0) {
        std::snprintf(text, sizeof text, ", %u colors in Palette)",
                      static_cast<unsigned>(picture.color_count));
        title_ += text;
    } else {
        title_ += ", No Palette, RGB image)";
    }
    if (host_ != nullptr) {
        host_->title_changed(title_);
    }
}

ImgStatus CPeloraDoc::run_command(PictureCommand command) {
    const ImageDesc& picture = image_.desc();
    ImgStatus status = IMG_OK;
    switch (command) {
        case PictureCommand::RGBToPalette:
            if (image_bits(picture) <= 8) {
                return IMG_OK;  // already a palette picture: nothing at all happens
            }
            status = rgb_to_palette_command();
            break;
        case PictureCommand::ColorToGray:
            if ((picture.type_flags & IMAGE_GRAY) != 0) {
                return IMG_OK;  // already gray: nothing at all happens
            }
            status = color_to_gray_command();
            break;
        case PictureCommand::ReduceTo4Colors:
            status = reduce_to_4_colors_command();
            break;
        case PictureCommand::Resize:
            status = resize_command();
            break;
    }
    finish_command(command, status);
    return status;
}

void CPeloraDoc::finish_command(PictureCommand command, ImgStatus status) {
    // A command that changed the picture, even one that failed part way, is
    // one step to undo.
    if (command_changed_) {
        history_.record(before_command_, image_.storage_bytes(), command_name(command));
    }
    before_command_.reset();
    command_changed_ = false;
    if (status != IMG_OK) {
        report(command_failure_message(command, status, image_.desc()));
    }
    picture_replaced();
}

void CPeloraDoc::picture_replaced() {
    SetTitle();
    if (host_ != nullptr) {
        host_->update_all_views();
    }
}

void CPeloraDoc::replace_picture(ImageHolder& result) {
    ImageHolder previous;
    image_.take_over(result, previous);
    // The picture before the command is the step back; a later stage of the
    // same command replaces only its own intermediate picture.
    if (!command_changed_ && history_.could_keep(previous.storage_bytes())) {
        before_command_.swap(previous);
    }
    command_changed_ = true;
}

bool CPeloraDoc::undo() {
    if (!history_.undo(image_)) {
        return false;
    }
    picture_replaced();
    return true;
}

bool CPeloraDoc::redo() {
    if (!history_.redo(image_)) {
        return false;
    }
    picture_replaced();
    return true;
}

namespace {

// Passes a document's messages and questions on, but not its title or views:
// the document that reloads a file for another one.
class MessagesOnly : public DocumentHost {
  public:
    explicit MessagesOnly(DocumentHost* host) : host_(host) {}
    void show_message(const std::string& text) override {
        if (host_ != nullptr) {
            host_->show_message(text);
        }
    }
    bool open_large_picture(const LargePicture& picture) override {
        return host_ != nullptr && host_->open_large_picture(picture);
    }

  private:
    DocumentHost* host_;
};

}  // namespace

void CPeloraDoc::revert() {
    if (path_.empty()) {
        return;  // a new document has no file to go back to
    }
    MessagesOnly messages(host_);
    CPeloraDoc reloaded(&messages);
    reloaded.history_.set_budget(0);
    reloaded.max_pixels_ = max_pixels_;
    reloaded.open_file(path_);
    if (!reloaded.outcome_.picture_read()) {
        return;  // reported; the picture stays
    }
    // The file's picture with the file's own attributes: exchanged, not
    // taken over.
    ImageHolder previous;
    previous.swap(image_);
    image_.swap(reloaded.image_);
    history_.record(previous, image_.storage_bytes(), "Revert");
    history_.mark_saved();
    width_ = reloaded.width_;
    height_ = reloaded.height_;
    reader_ = reloaded.reader_;
    outcome_ = reloaded.outcome_;
    picture_replaced();
}

ImgStatus CPeloraDoc::rgb_to_palette_command() {
    const ImageDesc& picture = image_.desc();
    ImageHolder result;
    ImgStatus status = image_alloc(result.get(), image_width(picture), image_height(picture), 8);
    if (status == IMG_OK) {
        status = rgb_to_palette(256, image_.get(), result.get(), 2);
    }
    if (status == IMG_OK) {
        replace_picture(result);
    }
    return status;
}

ImgStatus CPeloraDoc::color_to_gray_command() {
    const ImageDesc& picture = image_.desc();
    if (image_bits(picture) == 8) {
        // In place: the step back is a copy, when the history can hold one.
        if (history_.could_keep(image_.storage_bytes()) &&
            before_command_.copy_from(picture) != IMG_OK) {
            return IMG_ERR_MEMORY;
        }
        const ImgStatus status = color_to_gray(image_.get(), image_.get());
        command_changed_ = status == IMG_OK;
        return status;
    }
    ImageHolder result;
    ImgStatus status = image_alloc(result.get(), image_width(picture), image_height(picture), 8);
    if (status == IMG_OK) {
        status = color_to_gray(image_.get(), result.get());
    }
    if (status == IMG_OK) {
        replace_picture(result);
    }
    return status;
}

ImgStatus CPeloraDoc::reduce_to_4_colors_command() {
    const int32_t width = image_width(image_.desc());
    const int32_t height = image_height(image_.desc());

    // Stage one: four colours of the picture, chosen by popularity and dithered.
    ImageHolder reduced;
    ImgStatus status = image_alloc(reduced.get(), width, height, 8);
    if (status != IMG_OK) {
        return status;
    }
    reduced.get()->color_count = 4;
    status = palette_reduce(image_.get(), reduced.get());
    if (status != IMG_OK) {
        return status;
    }
    replace_picture(reduced);

    // Stage two: each of the four colours to its nearest gray level.
    ImageHolder grays;
    status = image_alloc(grays.get(), width, height, 8);
    if (status != IMG_OK) {
        return status;
    }
    std::copy(std::begin(kFourGrays), std::end(kFourGrays), grays.get()->palette);
    grays.get()->color_count = 4;
    status = map_to_palette(image_.get(), grays.get(), 2);
    if (status != IMG_OK) {
        return status;
    }
    grays.get()->type_flags &= ~IMAGE_GRAY;
    image_sync_palette(grays.get());
    replace_picture(grays);
    return IMG_OK;
}

ImgStatus CPeloraDoc::resize_command() {
    const ImageDesc& picture = image_.desc();
    const int32_t width = image_width(picture);
    const int32_t height = image_height(picture);
    if (width <= kPhoneWidth && height <= kPhoneHeight) {
        return IMG_OK;  // already fits the phone display
    }
    // Width and height are limited independently: the aspect ratio is not kept.
    ImageHolder result;
    ImgStatus status = image_alloc(result.get(), std::min(width, kPhoneWidth),
                                   std::min(height, kPhoneHeight), image_bits(picture));
    if (status == IMG_OK) {
        status = image_resize(image_.get(), result.get(), 1);
    }
    if (status == IMG_OK) {
        replace_picture(result);
    }
    return status;
}

}  // namespace viewer
