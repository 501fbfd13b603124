// XML-safe text: invalid UTF-8 and characters XML 1.0 forbids become U+FFFD; the rest stays.
#include <gtest/gtest.h>

#include "foundation/extensions/XmlSafeText.h"

namespace telvo {
namespace {

TEST(XmlSafeTextTest, InvalidAndForbiddenBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"Caf\xC3\xA9 <&> \t\n\r", "Caf\xC3\xA9 <&> \t\n\r"},  // valid text, markup left to the writer
        {std::string("a\0b", 3), "a" + r + "b"},                   // NUL
        {"\x01\x1F", r + r},                                        // controls
        {"\xFF\xFE", r + r},                                        // bytes that start nothing
        {"\xC3", r},                                                // cut short
        {"\xC0\xAF", r + r},                                        // overlong
        {"\xED\xA0\x80", r + r + r},                                // surrogate
        {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r},                        // U+FFFE, U+FFFF
        {"\xF0\x9F\x93\xB6", "\xF0\x9F\x93\xB6"},                   // beyond the basic plane
    };
    for (const Case& c : cases) EXPECT_EQ(xmlSafeText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace telvo
