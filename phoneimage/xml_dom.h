// A small read-only XML document object model over libxml2, offering just what
// the phone-image reader needs: a document's top-level nodes, and for a node its
// children, attribute count, type, local name and text.
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
//   - A parse failure's reason is the parser's first error message on one line.
//     The parser never prints anything.
//
// Nodes and node lists are views into their Document and are valid while it
// lives.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

namespace xmldom {

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
    explicit Node(const _xmlNode* node) : node_(node) {}

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
    const _xmlNode* node_;
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

class Document {
  public:
    Document() = default;
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

    // The size of the file the last load_file refused as too large, else 0.
    uint64_t oversize_bytes() const { return oversize_bytes_; }

    // The reason of the last failure, on one line; empty after a success.
    const std::string& parse_error_reason() const { return reason_; }

    // The reported top-level nodes (for a parsed document: the root element).
    NodeList child_nodes() const;

  private:
    void release();

    _xmlDoc* doc_ = nullptr;
    std::string reason_;
    uint64_t oversize_bytes_ = 0;
};

}  // namespace xmldom
