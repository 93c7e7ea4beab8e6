// Limits on the markup of a document, checked by a quick scan before the XML
// parser sees it.
//
// libxml2 checks each attribute of a start tag against the others, looks up
// each namespace prefix through every declaration in scope, checks each
// attribute definition of a document type declaration against the others of
// its element and adds each default to every start tag of that element,
// checking it against the tag's attributes: a document built to feed those
// loops takes time that grows with the square of its size (a 2 MB start tag
// takes minutes). A phone image needs none of this markup, so a
// document that carries more of it than these limits is refused before it is
// parsed, in time linear in its size.
//
// The scan reads the document as UTF-8 text and follows XML's lexical
// structure: comments, CDATA sections, processing instructions, quoted
// values and the document type declaration with its internal subset. It
// reads the replacement text of the entities declared there too (after their
// character references), since the parser reads it as markup as well. A
// document that is not well formed may be scanned differently than the
// parser reads it; the parser then refuses it anyway.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace phoneimage {

namespace xml {

// Attributes in one start tag, namespace declarations included.
inline constexpr size_t kMaxAttributesPerElement = 256;
// Namespace declarations in the whole document.
inline constexpr size_t kMaxNamespaceDeclarations = 256;
// Attributes defined in attribute-list declarations of the document type
// declaration (each default is added to every start tag of its element).
inline constexpr size_t kMaxAttributeDefinitions = 16;

struct MarkupExcess {
    enum class Kind {
        none,
        root_attributes,         // the first start tag (the top-level element)
        element_attributes,      // any later start tag
        namespace_declarations,  // over kMaxNamespaceDeclarations in all
        attribute_definitions,   // over kMaxAttributeDefinitions in all
    };
    Kind kind = Kind::none;
    std::string element;  // the start tag's name, for the attribute kinds

    bool found() const { return kind != Kind::none; }
    // The refusal on one line, e.g. "Element Title has more than 256
    // attributes."; empty when nothing was found.
    std::string reason() const;
};

// The first limit the document's markup goes over, in document order.
MarkupExcess find_markup_excess(std::string_view utf8_document);

}  // namespace xml

}  // namespace phoneimage
