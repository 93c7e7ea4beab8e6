// The parse: libxml2's SAX2 parser with handlers of our own that keep only
// the reported nodes.
//
// libxml2's own tree builder is left out: it keeps every node of the document
// (some hundreds of bytes for each), walks an element's attribute list to
// append each attribute, and searches the namespace declarations of every
// ancestor for each prefixed name, which makes some documents take time that
// grows with the square of their size. Our handlers keep a node only as long
// as it can still be asked for: while streaming, each child of the top-level
// element goes to the visitor when it ends, and is then dropped.
//
// How the nodes are cut from the events follows libxml2's tree builder, so
// that the model sees what a DOM over libxml2 sees: consecutive character
// events form one text node and consecutive CDATA sections one CDATA node;
// anything else in between (a comment or processing instruction included)
// starts a new one. Attribute defaults of the document type declaration are
// not counted as attributes; namespace declarations are.
//
// libxml2 parses the replacement text of an entity with a parser context of
// its own, sending its events to the same handlers. The model reports an
// entity reference as a node without content, so those events are dropped:
// only events of the document's own context build nodes.
//
// Before the parse, the document's markup is checked against the limits of
// markup_limits.h. The check reads the document as UTF-8 text, so a document
// in another encoding is first converted the way libxml2 reads it: a first
// parse, stopped at the start of the document, tells which encoding that is
// (from a byte order mark, the first bytes, or the XML declaration).

#include "phoneimage/xml_parse.h"

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string_view>

namespace phoneimage {

namespace xml {

namespace {

bool is_xml_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view as_view(const xmlChar* text, int length) {
    return length > 0
               ? std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(length))
               : std::string_view();
}

// ---- The parser's messages ----

// The parser's messages for one parse. Only the first message counts; the
// parse fails when the parser reports a fatal error (the document is not well
// formed) or a reference to an undeclared entity, which libxml2 lets pass as a
// lesser error when the document names an external DTD.
struct ParseMessages {
    bool failed = false;
    std::string failure;      // first message that fails the parse
    std::string first_error;  // first error of any kind, for a failure without one

    std::string reason() const {
        return !failure.empty()       ? failure
               : !first_error.empty() ? first_error
                                      : std::string("Document is not well-formed");
    }
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

void init_library_once() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// What the parser may do: no network, no DTD loading or validation, and no
// substitution of entities (entity references stay nodes).
constexpr int kParseOptions = XML_PARSE_NONET;

struct ContextDeleter {
    void operator()(xmlParserCtxt* context) const {
        if (context->myDoc != nullptr) {
            xmlFreeDoc(context->myDoc);  // the DTD and entities; it holds no elements
            context->myDoc = nullptr;
        }
        xmlFreeParserCtxt(context);
    }
};
using ContextPtr = std::unique_ptr<xmlParserCtxt, ContextDeleter>;

// A parser context over bytes (not empty) with the given handlers. The parser
// reads a copy of its own.
ContextPtr new_context(std::span<const uint8_t> bytes, const xmlSAXHandler& handlers, void* owner) {
    ContextPtr context(xmlCreateMemoryParserCtxt(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<int>(bytes.size())));
    if (context == nullptr || context->sax == nullptr) {
        throw DomError("cannot create an XML parser");
    }
    *context->sax = handlers;
    context->_private = owner;
    xmlCtxtUseOptions(context.get(), kParseOptions);
    return context;
}

// ---- The document's encoding ----

// libxml2 settles the encoding before the document's first event, after at
// most the XML declaration; this much of the document holds any declaration
// that is not padded out of all measure.
constexpr size_t kDeclarationBytes = size_t{64} << 10;

struct EncodingProbe {
    bool reached_document = false;
    std::string encoding;  // the name of the encoder in use, "" for UTF-8
};

// The first event: the encoding is settled. Stopping the parser drops its
// input, so the encoder's name is taken first.
void stop_at_document(void* context) {
    auto* parser = static_cast<xmlParserCtxt*>(context);
    auto* probe = static_cast<EncodingProbe*>(parser->_private);
    probe->reached_document = true;
    const xmlParserInputBuffer* input = parser->input != nullptr ? parser->input->buf : nullptr;
    if (input != nullptr && input->encoder != nullptr && input->encoder->name != nullptr) {
        probe->encoding = input->encoder->name;
    }
    xmlStopParser(parser);
}

// The name of the encoding libxml2 reads the document in ("" for UTF-8), or
// the reason the document fails before its first event.
bool find_encoding(std::span<const uint8_t> bytes, std::string& encoding, std::string& reason) {
    ParseMessages messages;
    MessageRouting routing(messages);
    xmlSAXHandler handlers{};
    handlers.initialized = XML_SAX2_MAGIC;
    handlers.startDocument = stop_at_document;
    handlers.serror = keep_message;
    EncodingProbe probe;
    ContextPtr context =
        new_context(bytes.first(std::min(bytes.size(), kDeclarationBytes)), handlers, &probe);
    xmlParseDocument(context.get());
    if (!probe.reached_document) {
        reason = messages.reason();
        return false;
    }
    encoding = probe.encoding;
    return true;
}

// The document converted to UTF-8 from encoding, as far as it converts.
std::string converted_to_utf8(std::span<const uint8_t> bytes, const std::string& encoding) {
    ParseMessages ignored;
    MessageRouting routing(ignored);
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(encoding.c_str());
    if (handler == nullptr) {
        return {};
    }
    xmlBufferPtr in = xmlBufferCreateSize(bytes.size() + 1);
    xmlBufferPtr out = xmlBufferCreateSize(bytes.size() * 2 + 1);
    std::string text;
    if (in != nullptr && out != nullptr &&
        xmlBufferAdd(in, bytes.data(), static_cast<int>(bytes.size())) == 0) {
        // Each call converts what fits; one that makes no progress has met
        // bytes that do not convert, where the parser stops too.
        while (xmlBufferLength(in) > 0) {
            const int before = xmlBufferLength(in);
            xmlCharEncInFunc(handler, out, in);
            if (xmlBufferLength(in) == before) {
                break;
            }
        }
        text.assign(reinterpret_cast<const char*>(xmlBufferContent(out)),
                    static_cast<size_t>(xmlBufferLength(out)));
    }
    xmlBufferFree(in);
    xmlBufferFree(out);
    xmlCharEncCloseFunc(handler);
    return text;
}

// The markup limit the document goes over, or the reason it fails before
// its first event (then the parse would fail there too).
bool check_markup(std::span<const uint8_t> bytes, MarkupExcess& excess, std::string& reason) {
    std::string encoding;
    if (!find_encoding(bytes, encoding, reason)) {
        return false;
    }
    if (encoding.empty() || encoding == "UTF-8") {
        excess = find_markup_excess(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } else {
        excess = find_markup_excess(converted_to_utf8(bytes, encoding));
    }
    if (excess.found()) {
        reason = excess.reason();
        return false;
    }
    return true;
}

// ---- Building the nodes ----

// What the last content events of an open element have been adding to.
enum class Run { none, text, cdata };

struct OpenElement {
    NodeData* node;
    size_t depth;  // 0 for the document's top level, 1 for the top-level element
    Run run = Run::none;
    NodeData* run_node = nullptr;  // the open run's node, once it holds something
    bool run_dropped = false;      // the open run's node is not kept
};

class TreeBuilder {
  public:
    TreeBuilder(NodeData& top, DocumentVisitor* visitor) : visitor_(visitor) {
        open_.push_back(OpenElement{&top, 0});
    }

    void set_context(const xmlParserCtxt* context) { context_ = context; }
    // Whether an event comes from the document itself rather than from the
    // parse of an entity's replacement text.
    bool is_own(const void* context) const { return context == context_; }

    void start_element(std::string_view local_name, size_t attributes);
    void end_element();
    void characters(std::string_view text);
    void cdata(std::string_view text);
    void reference();
    void other_markup();

  private:
    bool streaming() const { return visitor_ != nullptr; }
    NodeData* add_child(OpenElement& parent, int32_t type);
    void close_run(OpenElement& element);
    void hand_over_children(OpenElement& element);

    const xmlParserCtxt* context_ = nullptr;
    DocumentVisitor* visitor_;
    std::vector<OpenElement> open_;  // open_[0] is the top level
    size_t skipped_ = 0;             // depth inside an element whose content is not kept
};

// While streaming, a child of the top-level element keeps its first two
// reported children, and those keep none: nothing further down is ever asked
// for. Returns null for a node that is not kept.
NodeData* TreeBuilder::add_child(OpenElement& parent, int32_t type) {
    if (streaming() && parent.depth >= 2 && parent.node->children.size() >= 2) {
        return nullptr;
    }
    parent.node->children.push_back(std::make_unique<NodeData>());
    NodeData* node = parent.node->children.back().get();
    node->type = type;
    return node;
}

void TreeBuilder::close_run(OpenElement& element) {
    if (element.run == Run::none) {
        return;
    }
    if (element.run_node != nullptr) {
        std::string& text = element.run_node->text;
        // Text was kept from its first non-blank character; a CDATA section
        // keeps all of its own.
        size_t end = text.size();
        while (end > 0 && is_xml_space(text[end - 1])) {
            --end;
        }
        size_t begin = 0;
        while (begin < end && is_xml_space(text[begin])) {
            ++begin;
        }
        text = text.substr(begin, end - begin);
    }
    element.run = Run::none;
    element.run_node = nullptr;
    element.run_dropped = false;
    hand_over_children(element);
}

// While streaming, the completed children of the top-level element go to the
// visitor, in document order, and are dropped.
void TreeBuilder::hand_over_children(OpenElement& element) {
    if (!streaming() || element.depth != 1) {
        return;
    }
    auto& children = element.node->children;
    const size_t complete = element.run_node != nullptr ? children.size() - 1 : children.size();
    for (size_t i = 0; i < complete; ++i) {
        visitor_->child(Node(children[i].get()));
    }
    children.erase(children.begin(), children.begin() + static_cast<ptrdiff_t>(complete));
}

void TreeBuilder::start_element(std::string_view local_name, size_t attributes) {
    if (skipped_ > 0) {
        ++skipped_;
        return;
    }
    OpenElement& parent = open_.back();
    close_run(parent);
    NodeData* node = add_child(parent, kElementNode);
    if (node != nullptr) {
        node->name.assign(local_name);
        node->attribute_count = attributes;
    }
    const size_t depth = parent.depth + 1;
    if (streaming() && depth >= 3) {
        skipped_ = 1;  // its content is never asked for
        return;
    }
    if (streaming() && depth == 1) {
        std::vector<Node> top;
        for (const auto& child : parent.node->children) {
            top.emplace_back(child.get());
        }
        visitor_->top_level(NodeList(std::move(top)));
    }
    open_.push_back(OpenElement{node, depth});
}

void TreeBuilder::end_element() {
    if (skipped_ > 0) {
        --skipped_;
        return;
    }
    if (open_.size() < 2) {
        return;
    }
    close_run(open_.back());
    open_.pop_back();
    hand_over_children(open_.back());
}

void TreeBuilder::characters(std::string_view text) {
    if (skipped_ > 0 || open_.size() < 2) {
        return;
    }
    OpenElement& element = open_.back();
    if (element.run != Run::text) {
        close_run(element);
        element.run = Run::text;
    }
    if (element.run_dropped) {
        return;
    }
    if (element.run_node == nullptr) {
        // Blank text is not reported, and leading blanks are trimmed anyway.
        while (!text.empty() && is_xml_space(text.front())) {
            text.remove_prefix(1);
        }
        if (text.empty()) {
            return;
        }
        element.run_node = add_child(element, kTextNode);
        if (element.run_node == nullptr) {
            element.run_dropped = true;
            return;
        }
    }
    element.run_node->text.append(text);
}

void TreeBuilder::cdata(std::string_view text) {
    if (skipped_ > 0 || open_.size() < 2) {
        return;
    }
    OpenElement& element = open_.back();
    if (element.run != Run::cdata) {
        close_run(element);
        element.run = Run::cdata;
        element.run_node = add_child(element, kCdataSectionNode);
        element.run_dropped = element.run_node == nullptr;
    }
    if (element.run_node != nullptr) {
        element.run_node->text.append(text);
    }
}

void TreeBuilder::reference() {
    if (skipped_ > 0 || open_.size() < 2) {
        return;
    }
    OpenElement& element = open_.back();
    close_run(element);
    add_child(element, kEntityReferenceNode);
    hand_over_children(element);
}

void TreeBuilder::other_markup() {
    if (skipped_ > 0 || open_.size() < 2) {
        return;
    }
    close_run(open_.back());
}

// ---- The SAX handlers ----

// The builder of an event from the document's own context, else null.
TreeBuilder* builder_of(void* context) {
    auto* parser = static_cast<xmlParserCtxt*>(context);
    auto* builder = static_cast<TreeBuilder*>(parser->_private);
    return builder != nullptr && builder->is_own(parser) ? builder : nullptr;
}

void on_start_element(void* context, const xmlChar* local_name, const xmlChar* /*prefix*/,
                      const xmlChar* /*uri*/, int namespaces, const xmlChar** /*declared*/,
                      int attributes, int defaulted, const xmlChar** /*values*/) {
    if (TreeBuilder* builder = builder_of(context)) {
        std::string_view name(local_name != nullptr ? reinterpret_cast<const char*>(local_name)
                                                    : "");
        // A name with a further colon keeps only its last part, as an
        // undeclared prefix is removed too.
        const size_t colon = name.rfind(':');
        if (colon != std::string_view::npos) {
            name.remove_prefix(colon + 1);
        }
        builder->start_element(name, static_cast<size_t>(std::max(0, namespaces)) +
                                         static_cast<size_t>(std::max(0, attributes - defaulted)));
    }
}

void on_end_element(void* context, const xmlChar* /*local_name*/, const xmlChar* /*prefix*/,
                    const xmlChar* /*uri*/) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->end_element();
    }
}

void on_characters(void* context, const xmlChar* text, int length) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->characters(as_view(text, length));
    }
}

void on_cdata(void* context, const xmlChar* text, int length) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->cdata(as_view(text, length));
    }
}

void on_reference(void* context, const xmlChar* /*name*/) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->reference();
    }
}

void on_comment(void* context, const xmlChar* /*value*/) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->other_markup();
    }
}

void on_processing_instruction(void* context, const xmlChar* /*target*/, const xmlChar* /*data*/) {
    if (TreeBuilder* builder = builder_of(context)) {
        builder->other_markup();
    }
}

// libxml2 parses an entity's replacement text when the entity is first
// referenced, to check it. Later references parse it again for handlers that
// do not keep the entity's content as nodes, as ours do not: each reference
// would cost the whole text. The entity is given a content that stands for
// the one not kept, which libxml2 neither reads nor frees (the entity does
// not own it), so that a reference costs no more than its own bytes.
xmlNode content_not_kept{};

xmlEntityPtr on_get_entity(void* context, const xmlChar* name) {
    xmlEntityPtr entity = xmlSAX2GetEntity(context, name);
    if (entity != nullptr && entity->etype == XML_INTERNAL_GENERAL_ENTITY &&
        entity->children == nullptr && entity->owner == 0) {
        entity->children = &content_not_kept;
    }
    return entity;
}

// libxml2's SAX2 handlers for the document type declaration and entities
// (they keep those in the context's own document), ours for the content.
xmlSAXHandler content_handlers() {
    xmlSAXHandler handlers{};
    xmlSAXVersion(&handlers, 2);
    handlers.startElement = nullptr;
    handlers.endElement = nullptr;
    handlers.startElementNs = on_start_element;
    handlers.endElementNs = on_end_element;
    handlers.characters = on_characters;
    handlers.ignorableWhitespace = on_characters;
    handlers.cdataBlock = on_cdata;
    handlers.reference = on_reference;
    handlers.getEntity = on_get_entity;
    handlers.comment = on_comment;
    handlers.processingInstruction = on_processing_instruction;
    handlers.warning = nullptr;
    handlers.error = nullptr;
    handlers.fatalError = nullptr;
    handlers.serror = keep_message;
    return handlers;
}

}  // namespace

ParseOutcome parse_document(std::span<const uint8_t> bytes, NodeData& top, DocumentVisitor* visitor,
                            std::vector<uint8_t>* owner) {
    ParseOutcome outcome;
    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
        outcome.reason = "Document too large";
        return outcome;
    }
    if (bytes.empty()) {
        outcome.reason = "Document is empty";  // libxml2's words; it takes no empty input
        return outcome;
    }
    init_library_once();
    if (!check_markup(bytes, outcome.excess, outcome.reason)) {
        return outcome;
    }

    ParseMessages messages;
    MessageRouting routing(messages);
    TreeBuilder builder(top, visitor);
    ContextPtr context = new_context(bytes, content_handlers(), &builder);
    builder.set_context(context.get());
    if (owner != nullptr) {
        std::vector<uint8_t>().swap(*owner);  // the parser reads its own copy
    }
    xmlParseDocument(context.get());
    outcome.parsed = context->wellFormed && !messages.failed;
    if (!outcome.parsed) {
        outcome.reason = messages.reason();
    }
    return outcome;
}

}  // namespace xml

}  // namespace phoneimage
