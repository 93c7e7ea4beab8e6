// The phone-image document reader: its steps, written once and used by both
// front ends (the converter's, which throws the failure message, and the
// viewer's, which returns the status code).
//
// The document:
//
//   <TarvoIPPhoneImage>                  one top-level element, no attributes
//     <Title>Welcome</Title>             children in any order, each optional
//     <Prompt>Press a key</Prompt>       and repeatable (the last one wins);
//     <LocationX>0</LocationX>           each holds exactly one text node
//     <LocationY>0</LocationY>
//     <Width>4</Width>
//     <Height>1</Height>
//     <Depth>2</Depth>
//     <Data>1B</Data>                    hex digits, line feeds allowed between
//   </TarvoIPPhoneImage>
//
// Data: each pair of digits is one byte (first digit high), an odd count is
// completed with a "0", and each byte holds four 2-bit pixels, the first in its
// least significant bit pair. Pixels run row by row from the top-left corner
// with no padding between rows; 0 is white, 3 black.
//
// Every step reports failure as a status code together with the converter's
// message for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/status.h"
#include "phoneimage/xml_dom.h"

namespace phoneimage {

// The outcome of a reading step: IMG_OK, or a failure status with its message,
// either a fixed text (fixed_message) or a composed one (message).
struct StepResult {
    imaging::ImgStatus status = imaging::IMG_OK;
    const char* fixed_message = nullptr;
    std::string message;

    bool ok() const { return status == imaging::IMG_OK; }
    std::string text() const { return fixed_message != nullptr ? fixed_message : message; }

    static StepResult fixed(imaging::ImgStatus status, const char* text) {
        return StepResult{status, text, {}};
    }
    static StepResult composed(imaging::ImgStatus status, std::string text) {
        return StepResult{status, nullptr, std::move(text)};
    }
};

// The decoded pixels of a Data element, packed as in the document: four 2-bit
// values per byte, value 4k + j in bits 2j..2j+1 of byte k.
class PixelData {
  public:
    PixelData() = default;
    explicit PixelData(std::vector<uint8_t> packed) : packed_(std::move(packed)) {}

    // Number of pixel values: twice the digit count once completed to even.
    size_t size() const { return packed_.size() * 4; }
    uint8_t value(size_t index) const { return (packed_[index >> 2] >> ((index & 3) * 2)) & 3; }
    // Writes values first .. first + count - 1 to out, each XORed with flip
    // (0 keeps them, 3 turns v into 3 - v). Requires first + count <= size().
    void copy_values(size_t first, size_t count, uint8_t* out, uint8_t flip) const;

  private:
    std::vector<uint8_t> packed_;
};

enum class NumberField { location_x, location_y, width, height, depth };
enum class TextField { title, prompt };

// Where the reader puts what it reads: the converter's record or the viewer's
// image descriptor.
class ReadDestination {
  public:
    virtual void set_number(NumberField field, int32_t value) = 0;
    virtual void set_text(TextField field, std::string_view text) = 0;
    virtual void set_pixels(PixelData&& pixels) = 0;

  protected:
    ~ReadDestination() = default;
};

// Information mode stops at the first Data element, before reading it; load
// mode reads every child.
enum class ReadMode { information = 0, load = 1 };

// The top-level test: exactly one node, an element named TarvoIPPhoneImage
// (local name) without attributes. Fails with IMG_ERR_XML_ROOT.
StepResult check_root(const xml::NodeList* top_level);

// One child of the root: its single text child, stored by element name.
StepResult read_element(ReadDestination* destination, const xml::Node* node);

// A decimal number as strtol reads it in base 10 (leading white space, one
// sign), clamped to the signed 32-bit range; the whole text must be used.
// Fails with failure_status, the message naming the element.
StepResult parse_number(std::string_view name, std::string_view text,
                        imaging::ImgStatus failure_status, int32_t* value);

// Decodes Data text. Line feeds are skipped; any other non-hex character fails
// with IMG_ERR_XML_DATA, the message naming the whole (UTF-8) character.
StepResult decode_data(std::string_view text, PixelData* pixels);

// The root check, then each child of the root in turn until the first failure
// (in information mode, until the first Data element).
StepResult read_document(const xml::Document& document, ReadDestination& destination,
                         ReadMode mode);

// The largest document read: far more than any phone picture needs (a 64 MiB
// Data holds over 250 million pixels), and a bound on what the parser builds.
inline constexpr uint64_t kMaxDocumentBytes = uint64_t{64} << 20;

// Reads the file and its document as the document is parsed (xml::Document's
// streaming), the root check and then each child of the root in turn, until
// the first failure. A document that cannot be read or parsed fails with
// IMG_ERR_XML_LOAD and the parser's reason, also when a rule broken earlier in
// it was seen first; a file over kMaxDocumentBytes with "File is too large for
// a phone image: N bytes.", refused before it is read; a root element with
// more attributes than the parser is let to check with the root rule
// (IMG_ERR_XML_ROOT), before it is parsed. What was read before a failure
// stays in destination. Lets xml::DomError through.
StepResult read_file(const std::string& path, ReadDestination& destination, ReadMode mode);

}  // namespace phoneimage
