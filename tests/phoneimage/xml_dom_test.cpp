#include "phoneimage/xml_dom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

using namespace phoneimage;

namespace {

using test_support::TempDir;

bool parse(xml::Document& document, std::string_view text) {
    return document.parse(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

const xml::Node& root_of(const xml::Document& document, xml::NodeList& keep) {
    keep = document.child_nodes();
    return *keep.item(0);
}

// Runs body with standard error sent to a file and returns what was written.
template <typename Body>
std::string captured_stderr(Body body) {
    TempDir dir;
    const std::string path = (dir / "err").string();
    fflush(stderr);
    const int saved = dup(2);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    body();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return test_support::read_text(path);
}

TEST(XmlDomLists, SkipCommentsInstructionsDoctypeAndBlankText) {
    xml::Document document;
    ASSERT_TRUE(parse(document,
                      "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ELEMENT r ANY>]>\n"
                      "<!-- before --><?pi data?>\n<r>\n  <a>1</a> <!-- c -->\r\n\t<?x?>"
                      "<b>  two words \n</b>\n</r>\n<!-- after -->"));
    const xml::NodeList top = document.child_nodes();
    ASSERT_EQ(top.length(), 1u);
    const xml::Node& root = *top.item(0);
    EXPECT_EQ(root.type(), xml::kElementNode);
    EXPECT_EQ(root.type_name(), "element");
    EXPECT_EQ(root.local_name(), "r");
    const xml::NodeList children = root.child_nodes();
    ASSERT_EQ(children.length(), 2u);
    EXPECT_EQ(children.item(2), nullptr);
    EXPECT_EQ(children.item(0)->local_name(), "a");
    const xml::NodeList text = children.item(1)->child_nodes();
    ASSERT_EQ(text.length(), 1u);
    EXPECT_EQ(text.item(0)->type(), xml::kTextNode);
    EXPECT_EQ(text.item(0)->type_name(), "text");
    EXPECT_EQ(text.item(0)->local_name(), "");
    // Trimmed at both ends, inner white space kept.
    EXPECT_EQ(text.item(0)->text(), "two words");
}

TEST(XmlDomNodes, TypesOfContentNodes) {
    xml::Document document;
    ASSERT_TRUE(parse(document,
                      "<!DOCTYPE r [<!ENTITY logo \"TARVO\">]>"
                      "<r><c><![CDATA[ 1 ]]></c><e>&logo;</e><p>&lt;&#x41;&amp;&#66;&gt;</p></r>"));
    xml::NodeList top;
    const xml::NodeList children = root_of(document, top).child_nodes();
    ASSERT_EQ(children.length(), 3u);

    const xml::NodeList cdata = children.item(0)->child_nodes();
    ASSERT_EQ(cdata.length(), 1u);
    EXPECT_EQ(cdata.item(0)->type(), xml::kCdataSectionNode);
    EXPECT_EQ(cdata.item(0)->type_name(), "cdatasection");
    EXPECT_EQ(cdata.item(0)->text(), "1");

    // An entity declared in the document stays a reference: it is not expanded.
    const xml::NodeList entity = children.item(1)->child_nodes();
    ASSERT_EQ(entity.length(), 1u);
    EXPECT_EQ(entity.item(0)->type(), xml::kEntityReferenceNode);
    EXPECT_EQ(entity.item(0)->type_name(), "entityreference");
    EXPECT_EQ(entity.item(0)->text(), "");
    EXPECT_EQ(entity.item(0)->child_nodes().length(), 0u);

    // Predefined entities and character references are expanded into one text.
    const xml::NodeList predefined = children.item(2)->child_nodes();
    ASSERT_EQ(predefined.length(), 1u);
    EXPECT_EQ(predefined.item(0)->text(), "<A&B>");
}

TEST(XmlDomNodes, LocalNamesAndAttributeCounts) {
    xml::Document document;
    ASSERT_TRUE(parse(document,
                      "<t:r xmlns:t=\"urn:t\" a=\"1\"><t:Width>1</t:Width><u:Height>2</u:Height>"
                      "<Depth xmlns=\"urn:d\"/></t:r>"));
    xml::NodeList top;
    const xml::Node& root = root_of(document, top);
    EXPECT_EQ(root.local_name(), "r");
    EXPECT_EQ(root.attribute_count(), 2u);  // the namespace declaration counts
    const xml::NodeList children = root.child_nodes();
    ASSERT_EQ(children.length(), 3u);
    EXPECT_EQ(children.item(0)->local_name(), "Width");
    EXPECT_EQ(children.item(1)->local_name(), "Height");  // undeclared prefix tolerated
    EXPECT_EQ(children.item(2)->local_name(), "Depth");
    EXPECT_EQ(children.item(2)->attribute_count(), 1u);
    EXPECT_EQ(children.item(0)->child_nodes().item(0)->attribute_count(), 0u);
}

TEST(XmlDomParse, FailureReasonIsTheFirstMessageOnOneLine) {
    xml::Document document;
    std::string stderr_text =
        captured_stderr([&] { EXPECT_FALSE(parse(document, "<r><a></b></r>")); });
    EXPECT_EQ(document.parse_error_reason(), "Opening and ending tag mismatch: a line 1 and b");
    EXPECT_EQ(document.child_nodes().length(), 0u);
    EXPECT_EQ(stderr_text, "");

    stderr_text = captured_stderr([&] { EXPECT_FALSE(parse(document, "")); });
    EXPECT_EQ(document.parse_error_reason(), "Document is empty");
    EXPECT_EQ(stderr_text, "");

    // An encoding the converter cannot handle is reported, not printed.
    stderr_text = captured_stderr(
        [&] { EXPECT_FALSE(parse(document, "<?xml version=\"1.0\" encoding=\"no-such\"?><r/>")); });
    EXPECT_NE(document.parse_error_reason(), "");
    EXPECT_EQ(document.parse_error_reason().find('\n'), std::string::npos);
    EXPECT_EQ(stderr_text, "");

    // A success clears the reason.
    EXPECT_TRUE(parse(document, "<r/>"));
    EXPECT_EQ(document.parse_error_reason(), "");
}

TEST(XmlDomParse, UndeclaredEntitiesAreErrors) {
    xml::Document document;
    EXPECT_FALSE(parse(document, "<r>&nope;</r>"));
    EXPECT_EQ(document.parse_error_reason(), "Entity 'nope' not defined");
    // With an external DTD named (and not loaded) libxml2 would let it pass.
    const std::string stderr_text = captured_stderr(
        [&] { EXPECT_FALSE(parse(document, "<!DOCTYPE r SYSTEM \"r.dtd\"><r>&nope;</r>")); });
    EXPECT_EQ(document.parse_error_reason(), "Entity 'nope' not defined");
    EXPECT_EQ(stderr_text, "");
}

TEST(XmlDomParse, NothingOutsideTheDocumentIsLoaded) {
    TempDir dir;
    test_support::write_text(dir / "secret.txt", "SECRET");
    test_support::write_text(dir / "r.dtd", "<!ENTITY inner \"SECRET\">");
    const std::string secret = (dir / "secret.txt").string();
    const std::string dtd = (dir / "r.dtd").string();

    xml::Document document;
    ASSERT_TRUE(parse(document,
                      "<!DOCTYPE r [<!ENTITY ext SYSTEM \"" + secret + "\">]><r><a>&ext;</a></r>"));
    xml::NodeList top;
    const xml::NodeList a = root_of(document, top).child_nodes().item(0)->child_nodes();
    ASSERT_EQ(a.length(), 1u);
    EXPECT_EQ(a.item(0)->type(), xml::kEntityReferenceNode);

    // The external DTD is not read, so its entity stays undeclared.
    EXPECT_FALSE(parse(document, "<!DOCTYPE r SYSTEM \"" + dtd + "\"><r>&inner;</r>"));
    EXPECT_FALSE(
        parse(document, "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><r>&inner;</r>"));
}

TEST(XmlDomLoadFile, ReadsPlainFilesOnly) {
    TempDir dir;
    test_support::write_text(dir / "ok.xml", "<r><a>1</a></r>");
    xml::Document document;
    ASSERT_TRUE(document.load_file((dir / "ok.xml").string()));
    EXPECT_EQ(document.child_nodes().length(), 1u);

    const std::string missing = (dir / "missing.xml").string();
    EXPECT_FALSE(document.load_file(missing));
    EXPECT_EQ(document.parse_error_reason(),
              "Unable to read file " + missing + ": No such file or directory");
    EXPECT_EQ(document.child_nodes().length(), 0u);

    EXPECT_FALSE(document.load_file(dir.path().string()));
    EXPECT_EQ(document.parse_error_reason(),
              "Unable to read file " + dir.path().string() + ": not a regular file");

    // A named pipe is refused without waiting for a writer.
    const std::string fifo = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(document.load_file(fifo));
    EXPECT_EQ(document.parse_error_reason(),
              "Unable to read file " + fifo + ": not a regular file");

    // "-" is a file name like any other, not standard input.
    EXPECT_FALSE(document.load_file("-"));
    EXPECT_EQ(document.parse_error_reason(), "Unable to read file -: No such file or directory");
}

TEST(XmlDomLoadFile, CompressedFilesAreNotInflated) {
    // "<r/>" compressed with gzip: libxml2 reading the path itself would inflate it.
    const std::vector<uint8_t> gzip = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x02, 0x03, 0xb3, 0x29, 0xd2, 0xb7, 0x03, 0x00,
                                       0xfd, 0x01, 0xb1, 0x1f, 0x04, 0x00, 0x00, 0x00};
    TempDir dir;
    test_support::write_file(dir / "r.xml.gz", gzip);
    xml::Document document;
    const std::string stderr_text =
        captured_stderr([&] { EXPECT_FALSE(document.load_file((dir / "r.xml.gz").string())); });
    EXPECT_NE(document.parse_error_reason(), "");
    EXPECT_EQ(stderr_text, "");
}

// What a streamed document hands over, one line per event: a node's type,
// name and text, then its children, each with its own child count.
class Recorder final : public xml::DocumentVisitor {
  public:
    void top_level(const xml::NodeList& nodes) override {
        events.push_back("top " + std::to_string(nodes.length()) + " " +
                         std::string(nodes.item(0)->local_name()) + " " +
                         std::to_string(nodes.item(0)->attribute_count()));
    }
    void child(const xml::Node& node) override {
        std::string event = describe(node) + " [";
        const xml::NodeList children = node.child_nodes();
        for (size_t i = 0; i < children.length(); ++i) {
            event += " " + describe(*children.item(i)) + "/" +
                     std::to_string(children.item(i)->child_nodes().length());
        }
        events.push_back(event + " ]");
    }
    std::vector<std::string> events;

  private:
    static std::string describe(const xml::Node& node) {
        return std::string(node.type_name()) + ":" + std::string(node.local_name()) +
               std::string(node.text());
    }
};

TEST(XmlDomStream, ChildrenOfTheRootArriveOneAtATimeAndAreNotKept) {
    const std::string text =
        "<!DOCTYPE r [<!ENTITY e \"<x/>\">]><r a='1'>\n<a> 1 </a>text<!--c-->more\n"
        "<b><c><d/></c> <e/><f/></b><![CDATA[x]]><![CDATA[y]]>&e;&e;</r>";
    xml::Document document;
    Recorder recorder;
    ASSERT_TRUE(document.stream(
        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), recorder));
    // A child keeps its first two reported children, and those none of theirs.
    const std::vector<std::string> expected = {
        "top 1 r 1",
        "element:a [ text:1/0 ]",
        "text:text [ ]",
        "text:more [ ]",
        "element:b [ element:c/0 element:e/0 ]",
        "cdatasection:xy [ ]",
        "entityreference: [ ]",
        "entityreference: [ ]",
    };
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(document.child_nodes().length(), 0u);

    // Parsed whole, the same document keeps every node.
    ASSERT_TRUE(parse(document, text));
    xml::NodeList top;
    const xml::NodeList children = root_of(document, top).child_nodes();
    ASSERT_EQ(children.length(), 7u);
    EXPECT_EQ(children.item(3)->child_nodes().length(), 3u);
    EXPECT_EQ(children.item(3)->child_nodes().item(0)->child_nodes().length(), 1u);
}

std::string attributes(int count, const std::string& quote = "'") {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += " a" + std::to_string(i) + "=" + quote + "1" + quote;
    }
    return text;
}

std::string repeated(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

TEST(XmlDomLimits, MarkupOverTheLimitsIsRefusedBeforeItIsParsed) {
    using Kind = xml::MarkupExcess::Kind;
    std::string definitions;
    for (int i = 0; i < 17; ++i) {
        definitions += " a" + std::to_string(i) + (i % 2 ? " CDATA #IMPLIED" : " CDATA 'v'");
    }
    std::string utf16;
    for (char c : "<r" + attributes(257) + "/>") {
        utf16 += c;
        utf16 += '\0';
    }
    struct Row {
        std::string what;
        std::string document;
        Kind kind;
        std::string reason;
    };
    const Row rows[] = {
        {"root", "<r" + attributes(257) + "/>", Kind::root_attributes,
         "Element r has more than 256 attributes."},
        {"256 attributes", "<r" + attributes(256) + "/>", Kind::none, ""},
        {"child", "<r><c a='>'" + attributes(256) + "/></r>", Kind::element_attributes,
         "Element c has more than 256 attributes."},
        {"namespaces", "<r>" + repeated("<c xmlns:p='u'/>", 257) + "</r>",
         Kind::namespace_declarations, "Document declares more than 256 namespaces."},
        {"attribute definitions", "<!DOCTYPE r [<!ATTLIST r" + definitions + ">]><r/>",
         Kind::attribute_definitions, "Document type declaration defines more than 16 attributes."},
        {"definitions in a parameter entity",
         "<!DOCTYPE r [<!ENTITY % p \"<!ATTLIST r" + definitions + ">\"> %p;]><r/>",
         Kind::attribute_definitions, "Document type declaration defines more than 16 attributes."},
        {"start tag behind character references in an entity",
         "<!DOCTYPE r [<!ENTITY e \"&#60;c" + attributes(257, "&#34;") + "/>\">]><r>&e;</r>",
         Kind::element_attributes, "Element c has more than 256 attributes."},
        {"markup in comments, CDATA and instructions",
         "<r><!-- <c" + attributes(300) + "> --><![CDATA[<c" + attributes(300) + ">]]><?p <c" +
             attributes(300) + "> ?></r>",
         Kind::none, ""},
        {"UTF-16", "\xff\xfe" + utf16, Kind::root_attributes,
         "Element r has more than 256 attributes."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        xml::Document document;
        EXPECT_EQ(parse(document, row.document), row.kind == Kind::none);
        EXPECT_EQ(document.markup_excess().kind, row.kind);
        EXPECT_EQ(document.parse_error_reason(), row.reason);
    }
}

}  // namespace
