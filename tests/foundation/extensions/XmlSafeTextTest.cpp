// XML-safe text: what XML 1.0 cannot carry becomes U+FFFD, everything else stays.
#include <gtest/gtest.h>

#include "foundation/extensions/XmlSafeText.h"

using namespace telvo;

TEST(XmlSafeTextTest, ReplacesWhatXmlCannotCarry) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Battery 1", "Battery 1"},
        {"tab\tline\ncr\r", "tab\tline\ncr\r"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x8B", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x8B"},
        {"<&>\"'", "<&>\"'"},  // escaping is the writer's
        {std::string("a\x01" "b\x1F" "c", 5), "a" + r + "b" + r + "c"},
        {std::string("nul\0end", 7), "nul" + r + "end"},
        {"bad \xFF\xFE", "bad " + r + r},
        {"cut \xE2\x82", "cut " + r + r},
        {"overlong \xC0\xAF", "overlong " + r + r},
        {"surrogate \xED\xA0\x80", "surrogate " + r + r + r},
        {"not a char \xEF\xBF\xBE", "not a char " + r},
        {"", ""},
    };
    for (const Case& k : cases) EXPECT_EQ(xmlSafeText(k.in), k.out) << k.in;
}
