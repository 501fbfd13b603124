// Machine text made fit for XML 1.0: bad UTF-8 and forbidden characters become U+FFFD, and the
// result parses back to itself.
#include <gtest/gtest.h>

#include "foundation/extensions/XmlSafeText.h"
#include "platform/xml/XmlDocument.h"

using namespace telvo;

TEST(XmlSafeTextTest, ReplacesWhatXmlCannotCarry) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain name", "plain name"},
        {"", ""},
        {"\x01x", r + "x"},
        {std::string("a\0b", 3), "a" + r + "b"},
        {"tab\there\nand\rthere", "tab\there\nand\rthere"},  // allowed controls stay
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"cut\xE4\xBD", "cut" + r + r},            // a sequence cut short, byte by byte
        {"\xC0\xAF", r + r},                        // overlong
        {"\xED\xA0\x80", r + r + r},                // a surrogate
        {"\xEF\xBF\xBE", r},                        // U+FFFE
        {"\x7F\xC2\x85", "\x7F\xC2\x85"},           // DEL and NEL are allowed in XML 1.0
        {"\xFF", r},
        {"bad \xFF\xFE", "bad " + r + r},
        {"<&>\"'", "<&>\"'"},                     // escaping is the writer's
        {std::string("a\x01" "b\x1F" "c", 5), "a" + r + "b" + r + "c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xmlSafeText(c.in), c.out) << testing::PrintToString(c.in);
        xml::XmlDocument doc("tvx");
        doc.root().setAttribute("name", xmlSafeText(c.in));
        auto parsed = xml::XmlDocument::parse(doc.xmlString());
        ASSERT_TRUE(parsed) << testing::PrintToString(c.in);
        // Attribute values normalise tab and line breaks; everything else comes back as written.
        if (c.in.find_first_of("\t\n\r") == std::string::npos) {
            EXPECT_EQ(parsed->root().attribute("name"), c.out);
        }
    }
}
