#include "foundation/extensions/XmlSafeText.h"

#include <cstdint>

namespace telvo {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

bool allowed(uint32_t c) {
    if (c < 0x20) return c == 0x09 || c == 0x0A || c == 0x0D;
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    return c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

}  // namespace

std::string xmlSafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t c = 0;
        uint32_t minimum = 0;
        if (b < 0x80) {
            length = 1;
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2;
            c = b & 0x1F;
            minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            c = b & 0x0F;
            minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            c = b & 0x07;
            minimum = 0x10000;
        }
        bool valid = length > 0;
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char cont = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((cont & 0xC0) != 0x80) {
                valid = false;
                length = k;  // the byte that breaks the sequence starts the next one
                break;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        if (!valid || c < minimum || !allowed(c)) {
            out += kReplacement;
            i += length > 0 ? length : 1;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace telvo
