// The document object model: nodes over the parse's node records, and the
// reading of files. The parse itself is in xml_parse.cpp.
//
// The file's bytes are read here, so that a path never reaches libxml2, which
// would otherwise read standard input for "-" and decompress gzip files.

#include "phoneimage/xml_dom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "phoneimage/xml_parse.h"

namespace phoneimage {

namespace xml {

namespace {

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
    return node_->type;
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
    return node_->type == kElementNode ? std::string_view(node_->name) : std::string_view();
}

std::string_view Node::text() const {
    return node_->type == kTextNode || node_->type == kCdataSectionNode
               ? std::string_view(node_->text)
               : std::string_view();
}

NodeList Node::child_nodes() const {
    std::vector<Node> nodes;
    nodes.reserve(node_->children.size());
    for (const auto& child : node_->children) {
        nodes.emplace_back(child.get());
    }
    return NodeList(std::move(nodes));
}

size_t Node::attribute_count() const {
    return node_->attribute_count;
}

Document::Document() = default;

Document::~Document() = default;

void Document::reset() {
    top_.reset();
    reason_.clear();
    oversize_bytes_ = 0;
    excess_ = MarkupExcess{};
}

bool Document::build(std::span<const uint8_t> bytes, DocumentVisitor* visitor,
                     std::vector<uint8_t>* owner) {
    auto top = std::make_unique<NodeData>();
    ParseOutcome outcome = parse_document(bytes, *top, visitor, owner);
    if (!outcome.parsed) {
        reason_ = std::move(outcome.reason);
        excess_ = std::move(outcome.excess);
        return false;
    }
    if (visitor == nullptr) {
        top_ = std::move(top);
    }
    return true;
}

bool Document::parse(std::span<const uint8_t> bytes) {
    reset();
    return build(bytes, nullptr);
}

bool Document::stream(std::span<const uint8_t> bytes, DocumentVisitor& visitor) {
    reset();
    return build(bytes, &visitor);
}

bool Document::read(const std::string& path, uint64_t max_bytes, std::vector<uint8_t>& bytes) {
    const auto limit = static_cast<size_t>(std::min<uint64_t>(max_bytes, INT_MAX));
    return read_plain_file(path, limit, bytes, reason_, &oversize_bytes_);
}

bool Document::load_file(const std::string& path, uint64_t max_bytes) {
    reset();
    std::vector<uint8_t> bytes;
    return read(path, max_bytes, bytes) && build(bytes, nullptr, &bytes);
}

bool Document::stream_file(const std::string& path, uint64_t max_bytes, DocumentVisitor& visitor) {
    reset();
    std::vector<uint8_t> bytes;
    return read(path, max_bytes, bytes) && build(bytes, &visitor, &bytes);
}

NodeList Document::child_nodes() const {
    if (top_ == nullptr) {
        return NodeList();
    }
    return Node(top_.get()).child_nodes();
}

}  // namespace xml

}  // namespace phoneimage
