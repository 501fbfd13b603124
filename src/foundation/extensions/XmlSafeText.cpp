// Replacement of what an XML 1.0 document cannot carry.
#include "foundation/extensions/XmlSafeText.h"

#include "foundation/extensions/Utf8.h"

namespace telvo {

namespace {

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string xmlSafeText(std::string_view text) {
    // Plain printable ASCII, the usual case, is returned as it is.
    bool plain = true;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) {
            plain = false;
            break;
        }
    }
    if (plain) return std::string(text);

    const std::string s(text);
    std::string out;
    out.reserve(s.size() + 8);
    size_t i = 0;
    while (i < s.size()) {
        const size_t start = i;
        const char32_t c = utf8::decode(s, i);
        if (c == 0xFFFD || !allowedInXml(c)) {
            appendUtf8(out, 0xFFFD);
        } else {
            out.append(s, start, i - start);
        }
    }
    return out;
}

}  // namespace telvo
