// The reading steps shared by the converter and the viewer.

#include "phoneimage/phone_image_reader.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "imaging/checked_math.h"

using namespace imaging;

namespace phoneimage {

namespace {

constexpr std::string_view kRootName = "TarvoIPPhoneImage";
constexpr const char* kRootAttributesMessage = "No attributes are allowed for TarvoIpPhoneImage.";

// Hex digit values by byte, -1 for everything else.
constexpr std::array<int8_t, 256> make_hex_table() {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<int8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<int8_t>(10 + i);
        table['A' + i] = static_cast<int8_t>(10 + i);
    }
    return table;
}
constexpr std::array<int8_t, 256> kHexValue = make_hex_table();

int hex_value(char c) {
    return kHexValue[static_cast<unsigned char>(c)];
}

// The whole character starting at text[pos]: a UTF-8 sequence as its lead
// byte announces it, cut short at the end of the text or at a byte that does
// not continue it.
std::string_view character_at(std::string_view text, size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
    }
    size_t end = pos + 1;
    while (end < text.size() && end < pos + length &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        ++end;
    }
    return text.substr(pos, end - pos);
}

// White space as strtol skips it in the C locale.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::string concat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) {
        text.append(part);
    }
    return text;
}

struct NumberElement {
    std::string_view name;
    NumberField field;
    ImgStatus failure;
};

// The number elements in the order they are tested.
constexpr NumberElement kNumberElements[] = {
    {"LocationX", NumberField::location_x, IMG_ERR_XML_LOCATION_X},
    {"LocationY", NumberField::location_y, IMG_ERR_XML_LOCATION_Y},
    {"Width", NumberField::width, IMG_ERR_XML_WIDTH},
    {"Height", NumberField::height, IMG_ERR_XML_HEIGHT},
    {"Depth", NumberField::depth, IMG_ERR_XML_DEPTH},
};

}  // namespace

void PixelData::copy_values(size_t first, size_t count, uint8_t* out, uint8_t flip) const {
    size_t index = first;
    const size_t end = first + count;
    while (index < end && (index & 3) != 0) {
        *out++ = value(index++) ^ flip;
    }
    while (end - index >= 4) {
        const uint8_t byte = packed_[index >> 2];
        out[0] = (byte & 3) ^ flip;
        out[1] = ((byte >> 2) & 3) ^ flip;
        out[2] = ((byte >> 4) & 3) ^ flip;
        out[3] = ((byte >> 6) & 3) ^ flip;
        out += 4;
        index += 4;
    }
    while (index < end) {
        *out++ = value(index++) ^ flip;
    }
}

StepResult check_root(const xml::NodeList* top_level) {
    if (top_level == nullptr) {
        return StepResult::fixed(IMG_ERR_XML_ROOT, "No TarvoIpPhoneImage object in XML file!");
    }
    if (top_level->length() != 1) {
        return StepResult::fixed(IMG_ERR_XML_ROOT, "Multiple top-level objects in XML file!");
    }
    const xml::Node& root = *top_level->item(0);
    if (root.attribute_count() > 0) {
        return StepResult::fixed(IMG_ERR_XML_ROOT, kRootAttributesMessage);
    }
    if (root.type() != xml::kElementNode) {
        return StepResult::composed(IMG_ERR_XML_ROOT,
                                    concat({"Top-level XML object should be of type element, not ",
                                            root.type_name(), "."}));
    }
    if (root.local_name() != kRootName) {
        return StepResult::composed(
            IMG_ERR_XML_ROOT,
            concat({"Top-level XML object must be of type TarvoIPPhoneImage, not ",
                    root.local_name(), "."}));
    }
    return {};
}

StepResult parse_number(std::string_view name, std::string_view text, ImgStatus failure_status,
                        int32_t* value) {
    // strtol's reading: white space, one sign, digits. When no digit follows,
    // nothing at all is consumed.
    size_t pos = 0;
    while (pos < text.size() && is_c_space(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t digits_start = pos;
    // Kept at most 2^32, beyond either limit of the result, so it cannot overflow.
    constexpr int64_t kSaturated = int64_t{1} << 32;
    int64_t magnitude = 0;
    while (pos < text.size() && is_digit(text[pos])) {
        magnitude = std::min(kSaturated, magnitude * 10 + (text[pos] - '0'));
        ++pos;
    }
    const size_t consumed = pos == digits_start ? 0 : pos;
    if (consumed != text.size()) {
        return StepResult::composed(failure_status, concat({"Error parsing numeric value for ",
                                                            name, ", saw input of ", text}));
    }
    *value = clamp_to_i32(negative ? -magnitude : magnitude);
    return {};
}

StepResult decode_data(std::string_view text, PixelData* pixels) {
    size_t digits = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        if (text[pos] == '\n') {
            continue;
        }
        if (hex_value(text[pos]) < 0) {
            return StepResult::composed(
                IMG_ERR_XML_DATA, concat({"Illegal character(s) in data stream: ",
                                          character_at(text, pos), ". Must be valid hex digits."}));
        }
        ++digits;
    }
    // An odd digit count is completed with a "0": the last byte's low nibble.
    std::vector<uint8_t> packed((digits + 1) / 2, 0);
    size_t nibble = 0;
    for (char c : text) {
        if (c == '\n') {
            continue;
        }
        const auto digit = static_cast<uint8_t>(hex_value(c));
        if ((nibble & 1) == 0) {
            packed[nibble >> 1] = static_cast<uint8_t>(digit << 4);
        } else {
            packed[nibble >> 1] |= digit;
        }
        ++nibble;
    }
    *pixels = PixelData(std::move(packed));
    return {};
}

StepResult read_element(ReadDestination* destination, const xml::Node* node) {
    if (node == nullptr) {
        return StepResult::fixed(IMG_ERR_XML_NO_NODE,
                                 "Internal logic error, validating child node with null value!");
    }
    if (destination == nullptr) {
        return StepResult::fixed(IMG_ERR_XML_NO_DEST,
                                 "Internal logic error, no destination for the image!");
    }
    const std::string_view name = node->local_name();
    const xml::NodeList children = node->child_nodes();
    if (children.length() != 1) {
        return StepResult::composed(IMG_ERR_XML_NO_TEXT,
                                    concat({"No data associated with tag ", name, "."}));
    }
    const xml::Node& child = *children.item(0);
    if (child.type() != xml::kTextNode) {
        return StepResult::composed(
            IMG_ERR_XML_NOT_TEXT,
            concat({"Element ", name, " should only have text associated with it, not a(n) ",
                    child.type_name(), "."}));
    }
    const std::string_view text = child.text();

    for (const NumberElement& element : kNumberElements) {
        if (name == element.name) {
            int32_t value = 0;
            StepResult result = parse_number(name, text, element.failure, &value);
            if (result.ok()) {
                destination->set_number(element.field, value);
            }
            return result;
        }
    }
    if (name == "Title") {
        destination->set_text(TextField::title, text);
        return {};
    }
    if (name == "Prompt") {
        destination->set_text(TextField::prompt, text);
        return {};
    }
    if (name == "Data") {
        PixelData pixels;
        StepResult result = decode_data(text, &pixels);
        if (result.ok()) {
            destination->set_pixels(std::move(pixels));
        }
        return result;
    }
    return StepResult::composed(IMG_ERR_XML_UNKNOWN,
                                concat({"Saw an unrecognized input element: ", name}));
}

namespace {

// The reading loop, fed either from a parsed document or while a document is
// streamed: the root check, then each child of the root in turn. The first
// failure ends the reading; in information mode the first Data element does.
class DocumentReader final : public xml::DocumentVisitor {
  public:
    DocumentReader(ReadDestination& destination, ReadMode mode)
        : destination_(destination), mode_(mode) {}

    void top_level(const xml::NodeList& nodes) override {
        result_ = check_root(&nodes);
        reading_ = result_.ok();
    }

    void child(const xml::Node& node) override {
        if (!reading_) {
            return;
        }
        if (mode_ == ReadMode::information && node.local_name() == "Data") {
            reading_ = false;
            return;
        }
        result_ = read_element(&destination_, &node);
        reading_ = result_.ok();
    }

    StepResult result() && { return std::move(result_); }

  private:
    ReadDestination& destination_;
    ReadMode mode_;
    StepResult result_;
    bool reading_ = false;
};

// Why a document that could not be read is refused. Too many attributes on
// the root element break the root's own rule, whatever else is wrong.
StepResult load_failure(const xml::Document& document) {
    if (document.oversize_bytes() != 0) {
        return StepResult::composed(IMG_ERR_XML_LOAD,
                                    "File is too large for a phone image: " +
                                        std::to_string(document.oversize_bytes()) + " bytes.");
    }
    if (document.markup_excess().kind == xml::MarkupExcess::Kind::root_attributes) {
        return StepResult::fixed(IMG_ERR_XML_ROOT, kRootAttributesMessage);
    }
    return StepResult::composed(IMG_ERR_XML_LOAD, document.parse_error_reason());
}

}  // namespace

StepResult read_document(const xml::Document& document, ReadDestination& destination,
                         ReadMode mode) {
    DocumentReader reader(destination, mode);
    const xml::NodeList top_level = document.child_nodes();
    reader.top_level(top_level);
    // The document does not change while it is read, so the root's child list
    // is taken once.
    const xml::NodeList children =
        top_level.length() == 1 ? top_level.item(0)->child_nodes() : xml::NodeList();
    for (size_t i = 0; i < children.length(); ++i) {
        reader.child(*children.item(i));
    }
    return std::move(reader).result();
}

StepResult read_file(const std::string& path, ReadDestination& destination, ReadMode mode) {
    // The document is read as it is parsed, each child of the root dropped once
    // read, but a document that does not parse is refused as a whole: a parse
    // failure anywhere counts before a rule broken earlier.
    xml::Document document;
    DocumentReader reader(destination, mode);
    if (!document.stream_file(path, kMaxDocumentBytes, reader)) {
        return load_failure(document);
    }
    return std::move(reader).result();
}

}  // namespace phoneimage
