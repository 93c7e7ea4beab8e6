// The markup scan: one pass over the text, in the states of XML's lexical
// structure.
//
//   content       text up to the next '<': a comment, CDATA section,
//                 processing instruction, document type declaration, end tag
//                 or start tag follows
//   start tag     its name, then attributes: each '=' outside a quoted value
//                 ends one attribute's name; names "xmlns" and "xmlns:..."
//                 declare namespaces
//   declarations  the internal subset: comments, processing instructions,
//                 quoted literals, <!ATTLIST ...> and <!ENTITY ...>, up to ']'
//
// In an attribute-list declaration every attribute definition ends with
// #REQUIRED, #IMPLIED or a quoted default value, so those are counted. An
// entity's quoted value is scanned too, once its character references are
// replaced: a general entity's as content, a parameter entity's as
// declarations (whose own literals hold references of the next level).

#include "phoneimage/markup_limits.h"

#include <cstdint>

namespace phoneimage {

namespace xml {

namespace {

// Entity values within entity values: each level at least five times shorter
// than the one around it, so a few levels reach any real nesting.
constexpr int kMaxEntityNesting = 8;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_quote(char c) {
    return c == '"' || c == '\'';
}

bool is_namespace_declaration(std::string_view name) {
    return name == "xmlns" || name.substr(0, 6) == "xmlns:";
}

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// An entity value with its character references (&#N; and &#xH;) replaced,
// as the parser stores it; other text, entity references included, is kept.
// A reference to no character is dropped (the parser refuses it).
std::string with_character_references(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    size_t pos = 0;
    while (pos < value.size()) {
        if (value.substr(pos, 2) != "&#") {
            out += value[pos++];
            continue;
        }
        size_t digit = pos + 2;
        const bool hex = digit < value.size() && value[digit] == 'x';
        if (hex) {
            ++digit;
        }
        uint32_t code = 0;
        size_t end = digit;
        for (; end < value.size() && value[end] != ';'; ++end) {
            const char c = value[end];
            uint32_t d = 0;
            if (c >= '0' && c <= '9') {
                d = static_cast<uint32_t>(c - '0');
            } else if (hex && c >= 'a' && c <= 'f') {
                d = static_cast<uint32_t>(c - 'a' + 10);
            } else if (hex && c >= 'A' && c <= 'F') {
                d = static_cast<uint32_t>(c - 'A' + 10);
            } else {
                break;
            }
            code = code > 0x110000 ? code : code * (hex ? 16 : 10) + d;
        }
        if (end == digit || end >= value.size() || value[end] != ';') {
            out += value[pos++];  // not a character reference
            continue;
        }
        if (code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            append_utf8(out, code);
        }
        pos = end + 1;
    }
    return out;
}

// Counts shared by the scan of the document and of the entity values in it.
struct Tally {
    bool top_level_seen = false;
    size_t namespaces = 0;
    size_t attribute_definitions = 0;
    MarkupExcess excess;
};

class MarkupScanner {
  public:
    MarkupScanner(std::string_view text, Tally& tally, int nesting)
        : text_(text), tally_(tally), nesting_(nesting) {}

    void scan_content();
    void scan_declarations();

  private:
    bool stopped() const { return tally_.excess.found() || pos_ >= text_.size(); }
    bool at(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }
    void skip_past(std::string_view end);
    // Past a comment or processing instruction here; false when none is.
    bool skip_comment_or_instruction();
    void skip_spaces();
    std::string_view name_token();
    std::string_view quoted();
    void scan_start_tag();
    void scan_doctype();
    void scan_attribute_list();
    void scan_entity_declaration();

    std::string_view text_;
    size_t pos_ = 0;
    Tally& tally_;
    int nesting_;  // 0 for the document, 1 and up for entity values
};

void MarkupScanner::skip_past(std::string_view end) {
    const size_t found = text_.find(end, pos_);
    pos_ = found == std::string_view::npos ? text_.size() : found + end.size();
}

bool MarkupScanner::skip_comment_or_instruction() {
    if (at("<!--")) {
        pos_ += 4;
        skip_past("-->");
        return true;
    }
    if (at("<?")) {
        skip_past("?>");
        return true;
    }
    return false;
}

void MarkupScanner::skip_spaces() {
    while (pos_ < text_.size() && is_space(text_[pos_])) {
        ++pos_;
    }
}

// A name, or any run of characters up to the next delimiter of a tag.
std::string_view MarkupScanner::name_token() {
    const size_t start = pos_;
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (is_space(c) || is_quote(c) || c == '=' || c == '>' || c == '<' || c == '/' ||
            c == '[' || c == '%') {
            break;
        }
        ++pos_;
    }
    return text_.substr(start, pos_ - start);
}

// At a quote: the quoted text, the position past its closing quote.
std::string_view MarkupScanner::quoted() {
    const char quote = text_[pos_++];
    const size_t start = pos_;
    const size_t end = text_.find(quote, pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    return text_.substr(start, (end == std::string_view::npos ? text_.size() : end) - start);
}

void MarkupScanner::scan_content() {
    while (!stopped()) {
        const size_t open = text_.find('<', pos_);
        if (open == std::string_view::npos) {
            return;
        }
        pos_ = open;
        if (skip_comment_or_instruction()) {
            continue;
        }
        if (at("<![CDATA[")) {
            skip_past("]]>");
        } else if (at("<!DOCTYPE")) {
            pos_ += 9;
            scan_doctype();
        } else if (at("</") || at("<!")) {
            pos_ += 2;  // an end tag's name is plain text here
        } else {
            ++pos_;
            scan_start_tag();
        }
    }
}

void MarkupScanner::scan_start_tag() {
    const std::string_view element = name_token();
    // The first start tag of the document itself is its top-level element.
    const bool top_level = nesting_ == 0 && !tally_.top_level_seen;
    tally_.top_level_seen = true;
    size_t attributes = 0;
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c == '>' || c == '<') {
            break;  // the tag's end (or, in a damaged one, the next tag)
        }
        if (is_space(c) || c == '/' || c == '[' || c == '%') {
            ++pos_;
        } else if (is_quote(c)) {
            quoted();
        } else if (c == '=') {
            ++pos_;
            ++attributes;
        } else {
            const std::string_view name = name_token();
            skip_spaces();
            if (pos_ < text_.size() && text_[pos_] == '=') {
                ++pos_;
                ++attributes;
                if (is_namespace_declaration(name)) {
                    ++tally_.namespaces;
                }
            }
        }
    }
    if (attributes > kMaxAttributesPerElement) {
        tally_.excess.kind = top_level ? MarkupExcess::Kind::root_attributes
                                       : MarkupExcess::Kind::element_attributes;
        tally_.excess.element.assign(element);
    } else if (tally_.namespaces > kMaxNamespaceDeclarations) {
        tally_.excess.kind = MarkupExcess::Kind::namespace_declarations;
    }
}

void MarkupScanner::scan_doctype() {
    while (!stopped()) {
        const char c = text_[pos_];
        if (is_quote(c)) {
            quoted();
        } else if (c == '[') {
            ++pos_;
            scan_declarations();
        } else if (c == '>') {
            ++pos_;
            return;
        } else {
            ++pos_;
        }
    }
}

void MarkupScanner::scan_declarations() {
    while (!stopped()) {
        if (skip_comment_or_instruction()) {
            continue;
        }
        if (at("<!ATTLIST")) {
            pos_ += 9;
            scan_attribute_list();
        } else if (at("<!ENTITY")) {
            pos_ += 8;
            scan_entity_declaration();
        } else if (is_quote(text_[pos_])) {
            quoted();
        } else if (text_[pos_] == ']') {
            ++pos_;
            return;
        } else {
            ++pos_;
        }
    }
}

void MarkupScanner::scan_attribute_list() {
    while (pos_ < text_.size() && text_[pos_] != '>') {
        if (is_quote(text_[pos_])) {
            quoted();
            ++tally_.attribute_definitions;
        } else if (at("#REQUIRED") || at("#IMPLIED")) {
            pos_ += 2;  // past the '#'; the rest of the keyword is plain text
            ++tally_.attribute_definitions;
        } else {
            ++pos_;
        }
    }
    if (tally_.attribute_definitions > kMaxAttributeDefinitions) {
        tally_.excess.kind = MarkupExcess::Kind::attribute_definitions;
    }
}

void MarkupScanner::scan_entity_declaration() {
    skip_spaces();
    const bool parameter = pos_ < text_.size() && text_[pos_] == '%';
    if (parameter) {
        ++pos_;
        skip_spaces();
    }
    name_token();
    skip_spaces();
    if (pos_ < text_.size() && is_quote(text_[pos_]) && nesting_ < kMaxEntityNesting) {
        const std::string value = with_character_references(quoted());
        MarkupScanner inner(value, tally_, nesting_ + 1);
        if (parameter) {
            inner.scan_declarations();
        } else {
            inner.scan_content();
        }
    }
    // The rest of the declaration: external identifiers, NDATA.
    while (!stopped() && text_[pos_] != '>') {
        if (is_quote(text_[pos_])) {
            quoted();
        } else {
            ++pos_;
        }
    }
}

}  // namespace

std::string MarkupExcess::reason() const {
    switch (kind) {
        case Kind::none:
            return {};
        case Kind::root_attributes:
        case Kind::element_attributes:
            return "Element " + element + " has more than " +
                   std::to_string(kMaxAttributesPerElement) + " attributes.";
        case Kind::namespace_declarations:
            return "Document declares more than " + std::to_string(kMaxNamespaceDeclarations) +
                   " namespaces.";
        case Kind::attribute_definitions:
            return "Document type declaration defines more than " +
                   std::to_string(kMaxAttributeDefinitions) + " attributes.";
    }
    return {};
}

MarkupExcess find_markup_excess(std::string_view utf8_document) {
    Tally tally;
    MarkupScanner(utf8_document, tally, 0).scan_content();
    return tally.excess;
}

}  // namespace xml

}  // namespace phoneimage
