// The document object model over libxml2.
//
// Parsing is done from memory with a parser context of our own: the file's
// bytes are read here (so a path never reaches libxml2, which would otherwise
// read standard input for "-" and decompress gzip files), and every message the
// parser raises is routed to a handler that keeps the first one instead of
// printing it.

#include "xml_dom.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>

namespace xmldom {

namespace {

bool is_xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim_xml_space(std::string_view text) {
    while (!text.empty() && is_xml_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_xml_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view raw_content(const xmlNode* node) {
    if (node->content == nullptr) {
        return {};
    }
    return std::string_view(reinterpret_cast<const char*>(node->content));
}

// Whether a node of the tree takes part in node lists.
bool is_reported(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_ENTITY_REF_NODE:
            return true;
        case XML_TEXT_NODE:
            return !trim_xml_space(raw_content(node)).empty();
        default:
            return false;  // comments, processing instructions, DTD and the like
    }
}

NodeList reported_children(const xmlNode* first) {
    std::vector<Node> nodes;
    for (const xmlNode* child = first; child != nullptr; child = child->next) {
        if (is_reported(child)) {
            nodes.emplace_back(child);
        }
    }
    return NodeList(std::move(nodes));
}

// The parser's messages for one parse. Only the first message counts; the
// parse fails when the parser reports a fatal error (the document is not well
// formed) or a reference to an undeclared entity, which libxml2 lets pass as a
// lesser error when the document names an external DTD.
struct ParseMessages {
    bool failed = false;
    std::string failure;      // first message that fails the parse
    std::string first_error;  // first error of any kind, for a failure without one
};

// The parse in progress on this thread. libxml2 keeps its message handlers per
// thread too, so parses on different threads do not disturb each other.
thread_local ParseMessages* current_messages = nullptr;

std::string one_line(const char* message) {
    std::string text = message != nullptr ? message : "";
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    while (!text.empty() && is_xml_space(text.back())) {
        text.pop_back();
    }
    return text;
}

void keep_message(void* /*context*/, xmlErrorPtr error) {
    ParseMessages* messages = current_messages;
    if (messages == nullptr || error == nullptr) {
        return;
    }
    const bool fails = error->level == XML_ERR_FATAL || error->code == XML_ERR_UNDECLARED_ENTITY ||
                       error->code == XML_WAR_UNDECLARED_ENTITY;
    if (error->level >= XML_ERR_ERROR && messages->first_error.empty()) {
        messages->first_error = one_line(error->message);
    }
    if (fails && !messages->failed) {
        messages->failed = true;
        messages->failure = one_line(error->message);
    }
}

void drop_message(void* /*context*/, const char* /*format*/, ...) {}

// Routes every libxml2 message raised on this thread to keep_message while it
// lives: messages tied to the parser context through the context's own
// handler, and those libxml2 raises without a context (encoding conversion,
// memory) through the thread's handlers, which are restored afterwards.
class MessageRouting {
  public:
    explicit MessageRouting(ParseMessages& messages)
        : saved_structured_(xmlStructuredError),
          saved_structured_context_(xmlStructuredErrorContext),
          saved_generic_(xmlGenericError),
          saved_generic_context_(xmlGenericErrorContext),
          saved_messages_(current_messages) {
        current_messages = &messages;
        xmlSetStructuredErrorFunc(nullptr, keep_message);
        xmlSetGenericErrorFunc(nullptr, drop_message);
    }
    ~MessageRouting() {
        xmlSetStructuredErrorFunc(saved_structured_context_, saved_structured_);
        xmlSetGenericErrorFunc(saved_generic_context_, saved_generic_);
        current_messages = saved_messages_;
    }
    MessageRouting(const MessageRouting&) = delete;
    MessageRouting& operator=(const MessageRouting&) = delete;

  private:
    xmlStructuredErrorFunc saved_structured_;
    void* saved_structured_context_;
    xmlGenericErrorFunc saved_generic_;
    void* saved_generic_context_;
    ParseMessages* saved_messages_;
};

struct ParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

void init_library_once() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// What the parser may do: no network, no DTD loading or validation, and no
// substitution of entities (entity references stay nodes). Text of any
// length up to libxml2's default limits.
constexpr int kParseOptions = XML_PARSE_NONET;

std::string read_failure(const std::string& path, const std::string& why) {
    return "Unable to read file " + path + ": " + why;
}

// Reads a plain file whole, up to limit bytes (at most INT_MAX, what the
// parser takes); a larger file fails with its size in *oversize. The file is
// opened without blocking so that a named pipe cannot stall us before its
// type is checked.
bool read_plain_file(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                     std::string& reason, uint64_t* oversize) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason = read_failure(path, std::generic_category().message(errno));
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        reason = read_failure(path, std::generic_category().message(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = read_failure(path, "not a regular file");
        return false;
    }
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > limit) {
        *oversize = size;
        reason = read_failure(path, "file too large");
        return false;
    }
    // One byte more than the size fstat gave, so that the end of an unchanged
    // file is seen without growing the buffer; a file that grows meanwhile is
    // read on up to the limit.
    bytes.assign(static_cast<size_t>(size) + 1, 0);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit) {
                break;
            }
            bytes.resize(std::min(limit + 1, filled * 2));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            reason = read_failure(path, std::generic_category().message(errno));
            return false;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<size_t>(got);
    }
    if (filled > limit) {
        *oversize = filled;
        reason = read_failure(path, "file too large");
        return false;
    }
    bytes.resize(filled);
    return true;
}

}  // namespace

int32_t Node::type() const {
    switch (node_->type) {
        case XML_ELEMENT_NODE:
            return kElementNode;
        case XML_CDATA_SECTION_NODE:
            return kCdataSectionNode;
        case XML_ENTITY_REF_NODE:
            return kEntityReferenceNode;
        default:
            return kTextNode;
    }
}

std::string_view Node::type_name() const {
    switch (type()) {
        case kElementNode:
            return "element";
        case kCdataSectionNode:
            return "cdatasection";
        case kEntityReferenceNode:
            return "entityreference";
        default:
            return "text";
    }
}

std::string_view Node::local_name() const {
    if (node_->type != XML_ELEMENT_NODE || node_->name == nullptr) {
        return {};
    }
    std::string_view name(reinterpret_cast<const char*>(node_->name));
    // A declared prefix is already split off by the parser; an undeclared one
    // stays in the name.
    const size_t colon = name.rfind(':');
    if (colon != std::string_view::npos) {
        name.remove_prefix(colon + 1);
    }
    return name;
}

std::string_view Node::text() const {
    if (node_->type != XML_TEXT_NODE && node_->type != XML_CDATA_SECTION_NODE) {
        return {};
    }
    return trim_xml_space(raw_content(node_));
}

NodeList Node::child_nodes() const {
    if (node_->type != XML_ELEMENT_NODE) {
        return NodeList();
    }
    return reported_children(node_->children);
}

size_t Node::attribute_count() const {
    if (node_->type != XML_ELEMENT_NODE) {
        return 0;
    }
    size_t count = 0;
    for (const xmlAttr* attribute = node_->properties; attribute != nullptr;
         attribute = attribute->next) {
        ++count;
    }
    for (const xmlNs* ns = node_->nsDef; ns != nullptr; ns = ns->next) {
        ++count;
    }
    return count;
}

Document::~Document() {
    release();
}

void Document::release() {
    if (doc_ != nullptr) {
        xmlFreeDoc(doc_);
        doc_ = nullptr;
    }
}

bool Document::parse(std::span<const uint8_t> bytes) {
    release();
    reason_.clear();
    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
        reason_ = "Document too large";
        return false;
    }
    init_library_once();

    ParseMessages messages;
    MessageRouting routing(messages);
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(xmlNewParserCtxt());
    if (context == nullptr || context->sax == nullptr) {
        throw DomError("cannot create an XML parser");
    }
    context->sax->serror = keep_message;

    static const char kEmpty[] = "";
    const char* data = bytes.empty() ? kEmpty : reinterpret_cast<const char*>(bytes.data());
    xmlDocPtr doc = xmlCtxtReadMemory(context.get(), data, static_cast<int>(bytes.size()), nullptr,
                                      nullptr, kParseOptions);
    const bool parsed = doc != nullptr && context->wellFormed && !messages.failed;
    if (!parsed) {
        if (doc != nullptr) {
            xmlFreeDoc(doc);
        }
        reason_ = !messages.failure.empty()       ? messages.failure
                  : !messages.first_error.empty() ? messages.first_error
                                                  : std::string("Document is not well-formed");
        return false;
    }
    doc_ = doc;
    return true;
}

bool Document::load_file(const std::string& path, uint64_t max_bytes) {
    release();
    reason_.clear();
    oversize_bytes_ = 0;
    const auto limit = static_cast<size_t>(std::min<uint64_t>(max_bytes, INT_MAX));
    std::vector<uint8_t> bytes;
    if (!read_plain_file(path, limit, bytes, reason_, &oversize_bytes_)) {
        return false;
    }
    return parse(bytes);
}

NodeList Document::child_nodes() const {
    if (doc_ == nullptr) {
        return NodeList();
    }
    return reported_children(doc_->children);
}

}  // namespace xmldom
