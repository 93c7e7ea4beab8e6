// A small read-only XML document object model over libxml2, offering just what
// the phone-image reader needs: a document's top-level nodes, and for a node its
// children, attribute count, type, local name and text. A document is either
// kept whole (parse, load_file) or streamed (stream, stream_file): the
// top-level element's children are then handed over one at a time as the
// parser completes them and dropped afterwards, so that memory stays bounded
// by the largest child rather than by the document.
//
// The model's view of a document:
//   - Node lists hold elements, text, CDATA sections and entity references only.
//     Comments, processing instructions, the document type declaration and text
//     made only of XML white space (space, tab, CR, LF) are never reported.
//   - Text is the node's content with leading and trailing XML white space
//     removed; white space inside is kept.
//   - Nothing is fetched from the network or the file system while parsing: no
//     external DTD or entity is loaded, nothing is validated, and only the five
//     predefined entities and character references are expanded. A reference to
//     an entity declared in the document's own DTD stays an entity-reference
//     node; a reference to an undeclared entity is a parse error.
//   - A document whose markup goes over the limits of markup_limits.h is
//     refused before it is parsed.
//   - A parse failure's reason is the parser's first error message on one line;
//     the parse stops there. The parser never prints anything.
//
// Nodes and node lists are views into their Document (or, while streaming,
// into the node handed over) and are valid while it lives.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "phoneimage/markup_limits.h"

namespace phoneimage {

namespace xml {

struct NodeData;

// Node type numbers, as the DOM standard numbers them.
inline constexpr int32_t kElementNode = 1;
inline constexpr int32_t kTextNode = 3;
inline constexpr int32_t kCdataSectionNode = 4;
inline constexpr int32_t kEntityReferenceNode = 5;

// Raised when the parser itself cannot be set up (out of memory); a document
// that does not parse is not an error of this kind.
class DomError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class NodeList;

class Node {
  public:
    explicit Node(const NodeData* node) : node_(node) {}

    // kElementNode, kTextNode, kCdataSectionNode or kEntityReferenceNode.
    int32_t type() const;
    // "element", "text", "cdatasection" or "entityreference".
    std::string_view type_name() const;
    // An element's name without its namespace prefix (an undeclared prefix is
    // tolerated and removed too); empty for other nodes.
    std::string_view local_name() const;
    // The trimmed content of a text or CDATA section node; empty for others.
    std::string_view text() const;
    // An element's reported children; empty for other nodes.
    NodeList child_nodes() const;
    // An element's attributes, namespace declarations included; 0 for others.
    size_t attribute_count() const;

  private:
    const NodeData* node_;
};

class NodeList {
  public:
    NodeList() = default;
    explicit NodeList(std::vector<Node> nodes) : nodes_(std::move(nodes)) {}

    size_t length() const { return nodes_.size(); }
    // The node at index, or null past the end.
    const Node* item(size_t index) const {
        return index < nodes_.size() ? &nodes_[index] : nullptr;
    }

  private:
    std::vector<Node> nodes_;
};

// Receives a streamed document as the parser completes it.
class DocumentVisitor {
  public:
    // The top-level nodes once the top-level element's start tag has been read:
    // the element with its name and attributes, its children still to come.
    virtual void top_level(const NodeList& nodes) = 0;
    // Each reported child of the top-level element, once complete. The node
    // is dropped when the call returns. Its own child list is kept short: at
    // most its first two reported children (enough to tell one from several),
    // and those without children of their own.
    virtual void child(const Node& node) = 0;

  protected:
    ~DocumentVisitor() = default;
};

class Document {
  public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Parses a whole document held in memory. Returns false when it does not
    // parse; parse_error_reason() then says why. Throws DomError when the
    // parser cannot be created.
    bool parse(std::span<const uint8_t> bytes);

    // Reads the file at path (a plain file only: no standard input, devices,
    // pipes or folders, and no decompression) and parses its bytes. A file that
    // cannot be read fails like a document that does not parse, with a reason
    // that names the path and the error. A file larger than max_bytes is
    // refused before it is read (before more than max_bytes are, should it
    // grow meanwhile); oversize_bytes() then gives its size.
    bool load_file(const std::string& path, uint64_t max_bytes = INT_MAX);

    // Like parse and load_file, but the document is handed to visitor as it is
    // read and not kept: child_nodes() stays empty. A false result (the
    // document does not parse, or cannot be read) may come after the visitor
    // has seen part of the document.
    bool stream(std::span<const uint8_t> bytes, DocumentVisitor& visitor);
    bool stream_file(const std::string& path, uint64_t max_bytes, DocumentVisitor& visitor);

    // The size of the file the last load_file refused as too large, else 0.
    uint64_t oversize_bytes() const { return oversize_bytes_; }

    // The reason of the last failure, on one line; empty after a success.
    const std::string& parse_error_reason() const { return reason_; }

    // The markup limit the last document went over, when that refused it.
    const MarkupExcess& markup_excess() const { return excess_; }

    // The reported top-level nodes (for a parsed document: the root element).
    NodeList child_nodes() const;

  private:
    void reset();
    bool read(const std::string& path, uint64_t max_bytes, std::vector<uint8_t>& bytes);
    bool build(std::span<const uint8_t> bytes, DocumentVisitor* visitor,
               std::vector<uint8_t>* owner = nullptr);

    std::unique_ptr<NodeData> top_;  // holds the top-level nodes
    std::string reason_;
    uint64_t oversize_bytes_ = 0;
    MarkupExcess excess_;
};

}  // namespace xml

}  // namespace phoneimage
