#include "viewer/core/open_message.h"

#include "viewer/core/picture_formats.h"

using namespace imaging;

namespace viewer {

std::string open_failure_text(const std::string& name, const ReaderEntry* reader, ImgStatus status,
                              bool picture_read) {
    const std::string code = std::to_string(status);
    if (!picture_read) {
        return "Error: cannot open " + name + ": " + status_name(status) + " (" + code + ")";
    }
    const std::string shown =
        status == IMG_ERR_LZW && (reader == nullptr || !holds_lzw_data(*reader))
            ? "status " + code
            : std::string(status_name(status)) + ", " + code;
    return "Error: cannot read all of " + name +
           ": the file ended early or is damaged; the part that could be read is shown (" + shown +
           ")";
}

}  // namespace viewer
