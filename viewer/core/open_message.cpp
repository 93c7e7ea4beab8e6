#include "open_message.h"

using namespace imaging;

namespace {

// The formats whose compressed data may be LZW (TIFF's other codings report
// their damage with the same status).
bool holds_lzw_data(PictureFormat format) {
    return format == PictureFormat::Gif || format == PictureFormat::Tiff;
}

}  // namespace

std::string open_failure_text(const std::string& name, PictureFormat format, ImgStatus status,
                              bool picture_read) {
    const std::string code = std::to_string(status);
    if (!picture_read) {
        return "Error: cannot open " + name + ": " + status_name(status) + " (" + code + ")";
    }
    const std::string shown = status == IMG_ERR_LZW && !holds_lzw_data(format)
                                  ? "status " + code
                                  : std::string(status_name(status)) + ", " + code;
    return "Error: cannot read all of " + name +
           ": the file ended early or is damaged; the part that could be read is shown (" + shown +
           ")";
}
