// Text made safe for XML 1.0: invalid UTF-8 and forbidden characters become U+FFFD.
#include <gtest/gtest.h>

#include "foundation/extensions/XmlSafeText.h"

using telvo::xmlSafeText;

TEST(XmlSafeText, InvalidSequencesAndForbiddenCharactersReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"plain A&B <x>", "plain A&B <x>"},          // markup is the writer's job
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xBE", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xBE"},
        {"tab\tlf\ncr\r", "tab\tlf\ncr\r"},
        {std::string("nul\0x", 5), "nul" + r + "x"},
        {"bell\x07", "bell" + r},
        {"lone \x80 byte", "lone " + r + " byte"},
        {"cut \xE2\x82", "cut " + r},                  // a sequence cut short at the end
        {"cut \xE2" "A", "cut " + r + "A"},            // the breaking byte is kept
        {"overlong \xC0\xAF", "overlong " + r},
        {"surrogate \xED\xA0\x80", "surrogate " + r},
        {"nonchar \xEF\xBF\xBE", "nonchar " + r},
        {"beyond \xF4\x90\x80\x80", "beyond " + r},
        {"\xFF\xFE", r + r},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(xmlSafeText(in), want) << in;
}
