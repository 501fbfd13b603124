// XML-safe text.
#include "foundation/extensions/XmlSafeText.h"

#include "foundation/extensions/Utf8.h"

namespace telvo {

namespace {
void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool allowed(char32_t cp) {
    if (cp < 0x20) return cp == 0x9 || cp == 0xA || cp == 0xD;
    return cp != 0xFFFE && cp != 0xFFFF;
}
}  // namespace

std::string xmlSafeText(std::string_view text) {
    const std::string s(text);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t cp = utf8::decode(s, i);
        appendUtf8(out, allowed(cp) ? cp : char32_t(0xFFFD));
    }
    return out;
}

}  // namespace telvo
