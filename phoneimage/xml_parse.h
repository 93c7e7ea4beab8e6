// The XML layer's inside: the node record behind xml::Node, and the parse
// that builds nodes from libxml2's SAX events.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "phoneimage/markup_limits.h"
#include "phoneimage/xml_dom.h"

namespace phoneimage {

namespace xml {

// One reported node. Only what the model offers is kept: no attribute names
// or values, no comments, no white-space-only text.
struct NodeData {
    int32_t type = kElementNode;
    std::string name;  // an element's local name
    std::string text;  // a text or CDATA node's content, trimmed once complete
    size_t attribute_count = 0;
    std::vector<std::unique_ptr<NodeData>> children;  // the reported children
};

struct ParseOutcome {
    bool parsed = false;
    std::string reason;   // why not, on one line
    MarkupExcess excess;  // the markup limit that refused the document
};

// Parses bytes into the reported nodes under top (the document's top level).
// With a visitor, the top-level element's children go to it as they are
// completed instead of staying in the tree (xml_dom.h, DocumentVisitor).
// When owner is given, it holds bytes and is emptied once the parser has its
// own copy, so that the document is held twice only for a moment.
// Throws DomError when the parser cannot be created.
ParseOutcome parse_document(std::span<const uint8_t> bytes, NodeData& top, DocumentVisitor* visitor,
                            std::vector<uint8_t>* owner = nullptr);

}  // namespace xml

}  // namespace phoneimage
