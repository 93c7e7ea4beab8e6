#include "phoneimage/phone_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phoneimage/phone_image_reader.h"
#include "tests/phoneimage/phone_document.h"
#include "tests/support/test_support.h"

using namespace imaging;
using namespace phoneimage;

namespace {

using phone_document::document;
using test_support::TempDir;

// What reading a document threw: a fixed text (const char*) or a composed one
// (std::string).
struct Thrown {
    bool fixed = false;
    std::string text;
    bool operator==(const Thrown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Thrown& thrown) {
    return out << (thrown.fixed ? "const char*: " : "std::string: ") << thrown.text;
}

template <typename Body>
Thrown thrown_by(Body body) {
    try {
        body();
    } catch (const char* text) {
        return {true, text};
    } catch (const std::string& text) {
        return {false, text};
    }
    return {false, "(nothing thrown)"};
}

void read_text(PhoneImage& image, std::string_view text) {
    xml::Document parsed;
    if (!parsed.parse(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()))) {
        throw parsed.parse_error_reason();
    }
    phone_image_load_document(image, parsed);
}

Thrown failure_of(std::string_view text) {
    PhoneImage image;
    return thrown_by([&] { read_text(image, text); });
}

Thrown composed(std::string text) {
    return {false, std::move(text)};
}

Thrown fixed(std::string text) {
    return {true, std::move(text)};
}

TEST(PhoneImageLoad, ReadsEveryField) {
    TempDir dir;
    test_support::write_text(
        dir / "logo.qap",
        "<?xml version=\"1.0\"?>\n<TarvoIPPhoneImage>\n  <Title>Tarvo &amp; Co</Title>\n"
        "  <Prompt>Press OK</Prompt>\n  <LocationX>-3</LocationX>\n  <LocationY>+12</LocationY>\n"
        "  <Width> 4</Width>\n  <Height>2</Height>\n  <Depth>2</Depth>\n"
        "  <Data>\n1B\nE4\n</Data>\n</TarvoIPPhoneImage>\n");
    PhoneImage image;
    image.title = "old";
    image.pixel_values = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    phone_image_load(image, (dir / "logo.qap").string());
    EXPECT_EQ(image.title, "Tarvo & Co");
    EXPECT_EQ(image.prompt, "Press OK");
    EXPECT_EQ(image.location_x, -3);
    EXPECT_EQ(image.location_y, 12);
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.depth, 2);
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{3, 2, 1, 0, 0, 1, 2, 3}));
}

TEST(PhoneImageLoad, AbsentElementsAndRepeatedOnes) {
    PhoneImage image;
    read_text(image, document("<Height>3</Height><Title>one</Title><Title>two</Title>"
                              "<Data>FF</Data><Data>1B</Data>"));
    EXPECT_EQ(image.width, 0);  // no Width element
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(image.title, "two");
    EXPECT_EQ(image.prompt, "");
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{3, 2, 1, 0}));  // the second Data

    // Reading again empties the texts and pixels but keeps numbers not given.
    read_text(image, document("<Width>5</Width>"));
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(image.title, "");
    EXPECT_TRUE(image.pixel_values.empty());
}

TEST(PhoneImageLoad, NamespacePrefixesAreIgnored) {
    PhoneImage image;
    // The namespace declaration counts as an attribute of the root.
    EXPECT_EQ(failure_of("<p:TarvoIPPhoneImage xmlns:p=\"urn:x\"/>"),
              fixed("No attributes are allowed for TarvoIpPhoneImage."));
    read_text(image, document("<p:Width>7</p:Width><q:Height>2</q:Height>"));
    EXPECT_EQ(image.width, 7);
    EXPECT_EQ(image.height, 2);
}

TEST(PhoneImageMessages, FileAndRootFailures) {
    TempDir dir;
    test_support::write_text(dir / "broken.qap", "<TarvoIPPhoneImage><Width>1</TarvoIPPhoneImage>");
    PhoneImage image;
    EXPECT_EQ(thrown_by([&] { phone_image_load(image, (dir / "broken.qap").string()); }),
              composed("Opening and ending tag mismatch: Width line 1 and TarvoIPPhoneImage"));
    const std::string missing = (dir / "missing.qap").string();
    EXPECT_EQ(thrown_by([&] { phone_image_load(image, missing); }),
              composed("Unable to read file " + missing + ": No such file or directory"));

    EXPECT_EQ(failure_of("<TarvoIPPhoneImage version=\"1\"/>"),
              fixed("No attributes are allowed for TarvoIpPhoneImage."));
    EXPECT_EQ(failure_of("<tarvoipphoneimage/>"),
              composed("Top-level XML object must be of type TarvoIPPhoneImage, not "
                       "tarvoipphoneimage."));

    // A parsed document has a single element at its top; the other root
    // failures show on hand-picked node lists.
    EXPECT_EQ(thrown_by([] { phone_image_check_root(nullptr); }),
              fixed("No TarvoIpPhoneImage object in XML file!"));
    xml::Document parsed;
    const std::string text = "<r><TarvoIPPhoneImage/><TarvoIPPhoneImage/><w>text</w></r>";
    ASSERT_TRUE(
        parsed.parse(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
    const xml::NodeList top = parsed.child_nodes();
    const xml::NodeList two = top.item(0)->child_nodes();
    EXPECT_EQ(thrown_by([&] { phone_image_check_root(&two); }),
              fixed("Multiple top-level objects in XML file!"));
    const xml::NodeList text_only = two.item(2)->child_nodes();
    EXPECT_EQ(thrown_by([&] { phone_image_check_root(&text_only); }),
              composed("Top-level XML object should be of type element, not text."));
    const xml::NodeList none;
    EXPECT_EQ(thrown_by([&] { phone_image_check_root(&none); }),
              fixed("Multiple top-level objects in XML file!"));
}

// Read from a file, the document is streamed: a parse failure anywhere counts
// before a rule broken earlier, and markup built to make the parser's work
// grow with the square of the document is refused at once, an attribute-laden
// root with the root's own rule.
TEST(PhoneImageMessages, StreamedFileFailures) {
    TempDir dir;
    PhoneImage image;
    const auto load = [&](const std::string& text) {
        test_support::write_text(dir / "doc.qap", text);
        return thrown_by([&] { phone_image_load(image, (dir / "doc.qap").string()); });
    };
    EXPECT_EQ(load("<TarvoIPPhoneImage><Foo>1</Foo><Width>1</Width>"),
              composed("Premature end of data in tag TarvoIPPhoneImage line 1"));
    std::string attributes;
    for (int i = 0; i < 200000; ++i) {
        attributes += " a" + std::to_string(i) + "=\"1\"";
    }
    EXPECT_EQ(load("<TarvoIPPhoneImage" + attributes + "><Width>1</Width></TarvoIPPhoneImage>"),
              fixed("No attributes are allowed for TarvoIpPhoneImage."));
    EXPECT_EQ(load(document("<Title" + attributes + ">x</Title>")),
              composed("Element Title has more than 256 attributes."));
}

TEST(PhoneImageMessages, ElementFailures) {
    EXPECT_EQ(failure_of(document("<Title/>")), composed("No data associated with tag Title."));
    EXPECT_EQ(failure_of(document("<Title>  \n </Title>")),
              composed("No data associated with tag Title."));
    EXPECT_EQ(failure_of(document("<Title>a<!--x-->b</Title>")),
              composed("No data associated with tag Title."));
    EXPECT_EQ(failure_of(document("<Prompt><b>bold</b></Prompt>")),
              composed("Element Prompt should only have text associated with it, not a(n) "
                       "element."));
    EXPECT_EQ(failure_of(document("<Data><![CDATA[1B]]></Data>")),
              composed("Element Data should only have text associated with it, not a(n) "
                       "cdatasection."));
    EXPECT_EQ(failure_of("<!DOCTYPE TarvoIPPhoneImage [<!ENTITY w \"4\">]>" +
                         document("<Width>&w;</Width>")),
              composed("Element Width should only have text associated with it, not a(n) "
                       "entityreference."));
    EXPECT_EQ(failure_of(document("<Width>1</Width><Colour>red</Colour>")),
              composed("Saw an unrecognized input element: Colour"));
    EXPECT_EQ(failure_of(document("<width>1</width>")),
              composed("Saw an unrecognized input element: width"));
    // The content checks come before the name check.
    EXPECT_EQ(failure_of(document("<Colour/>")), composed("No data associated with tag Colour."));
    // Text directly in the root is a child without a name.
    EXPECT_EQ(failure_of(document("loose")), composed("No data associated with tag ."));

    PhoneImage image;
    EXPECT_EQ(thrown_by([&] { phone_image_read_element(image, nullptr); }),
              fixed("Internal logic error, validating child node with null value!"));
}

TEST(PhoneImageMessages, EveryNumberElementNamesItself) {
    for (const char* name : {"LocationX", "LocationY", "Width", "Height", "Depth"}) {
        const std::string element = std::string("<") + name + ">12px</" + name + ">";
        EXPECT_EQ(failure_of(document(element)),
                  composed(std::string("Error parsing numeric value for ") + name +
                           ", saw input of 12px"));
    }
}

TEST(PhoneImageNumbers, ReadLikeStrtolInBaseTen) {
    EXPECT_EQ(phone_image_parse_number("Width", "+12"), 12);
    EXPECT_EQ(phone_image_parse_number("Width", "-7"), -7);
    EXPECT_EQ(phone_image_parse_number("Width", " \t\v\f\r\n42"), 42);
    EXPECT_EQ(phone_image_parse_number("Width", "007"), 7);
    EXPECT_EQ(phone_image_parse_number("Width", ""), 0);  // nothing to read, nothing left
    EXPECT_EQ(phone_image_parse_number("Width", "2147483647"), 2147483647);
    EXPECT_EQ(phone_image_parse_number("Width", "2147483648"), 2147483647);
    EXPECT_EQ(phone_image_parse_number("Width", "-2147483649"), -2147483647 - 1);
    EXPECT_EQ(phone_image_parse_number("Width", "99999999999999999999999999"), 2147483647);

    for (const char* bad : {"0x10", "12px", "1 2", "+", "-", " ", "+-1", "1.5", "1e3"}) {
        EXPECT_EQ(
            thrown_by([&] { phone_image_parse_number("Height", bad); }),
            composed(std::string("Error parsing numeric value for Height, saw input of ") + bad))
            << bad;
    }
    // A character the C library would stop at is still left over.
    EXPECT_EQ(thrown_by([] { phone_image_parse_number("Depth", std::string_view("2\0", 2)); }),
              composed(std::string("Error parsing numeric value for Depth, saw input of ") +
                       std::string("2\0", 2)));
}

TEST(PhoneImageData, DecodesPairsLowBitsFirst) {
    PhoneImage image;
    phone_image_decode_data(image, "1B");
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{3, 2, 1, 0}));
    phone_image_decode_data(image, "F");  // completed to F0
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{0, 0, 3, 3}));
    phone_image_decode_data(image, "aB\n\nc");  // line feeds skipped, either case
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{3, 2, 2, 2, 0, 0, 0, 3}));
    phone_image_decode_data(image, "");
    EXPECT_TRUE(image.pixel_values.empty());

    // Split over lines in a document, it reads as if on one line.
    read_text(image, document("<Data>\n1B\nE4\r\n0F\n</Data>"));
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{3, 2, 1, 0, 0, 1, 2, 3, 3, 3, 0, 0}));
}

TEST(PhoneImageData, IllegalCharactersAreNamedWhole) {
    const auto message = [](std::string character) {
        return composed("Illegal character(s) in data stream: " + character +
                        ". Must be valid hex digits.");
    };
    PhoneImage image;
    image.pixel_values = {1, 2};
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "1B 2C"); }), message(" "));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "1B\t2C"); }), message("\t"));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "1B\r\n2C"); }), message("\r"));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "12G4"); }), message("G"));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "0x12"); }), message("x"));
    EXPECT_EQ(thrown_by([&] {
                  phone_image_decode_data(image,
                                          "1\xC3\xA9"
                                          "2");
              }),
              message("\xC3\xA9"));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "\xE2\x82\xAC"); }),
              message("\xE2\x82\xAC"));
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "1\xF0\x9F\x93\x9E"); }),
              message("\xF0\x9F\x93\x9E"));
    // A sequence cut short is named as far as it goes.
    EXPECT_EQ(thrown_by([&] { phone_image_decode_data(image, "\xE2\x82"); }), message("\xE2\x82"));
    // A failed decode leaves the values of the Data before.
    EXPECT_EQ(image.pixel_values, (std::vector<uint8_t>{1, 2}));

    EXPECT_EQ(failure_of(document("<Data>1B 2C</Data>")), message(" "));
    EXPECT_EQ(failure_of(document("<Data>00&#9;00</Data>")), message("\t"));
}

// The shared steps report each failure with its status, for the viewer.
TEST(PhoneImageSteps, StatusesBesideMessages) {
    phoneimage::StepResult result = phoneimage::read_element(nullptr, nullptr);
    EXPECT_EQ(result.status, IMG_ERR_XML_NO_NODE);

    xml::Document parsed;
    const std::string text = document("<Width>1</Width>");
    ASSERT_TRUE(
        parsed.parse(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
    const xml::NodeList top = parsed.child_nodes();
    const xml::NodeList children = top.item(0)->child_nodes();
    result = phoneimage::read_element(nullptr, children.item(0));
    EXPECT_EQ(result.status, IMG_ERR_XML_NO_DEST);
    EXPECT_NE(result.fixed_message, nullptr);

    int32_t value = 0;
    result = phoneimage::parse_number("Depth", "x", IMG_ERR_XML_DEPTH, &value);
    EXPECT_EQ(result.status, IMG_ERR_XML_DEPTH);
    EXPECT_EQ(result.text(), "Error parsing numeric value for Depth, saw input of x");
}

TEST(PhoneImagePixelData, CopiesAnyRangeFlipped) {
    phoneimage::PixelData pixels;
    ASSERT_TRUE(phoneimage::decode_data("1BE4C6", &pixels).ok());
    const std::vector<uint8_t> all = {3, 2, 1, 0, 0, 1, 2, 3, 2, 1, 0, 3};
    ASSERT_EQ(pixels.size(), all.size());
    for (size_t first = 0; first <= all.size(); ++first) {
        for (size_t count = 0; first + count <= all.size(); ++count) {
            std::vector<uint8_t> out(count + 1, 9);
            pixels.copy_values(first, count, out.data(), 3);
            for (size_t i = 0; i < count; ++i) {
                ASSERT_EQ(out[i], 3 - all[first + i]) << first << "+" << count;
            }
            ASSERT_EQ(out[count], 9);  // nothing written past the range
        }
    }
}

}  // namespace
