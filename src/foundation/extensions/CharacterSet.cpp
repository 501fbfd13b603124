#include "foundation/extensions/CharacterSet.h"

#include <unicode/uchar.h>

#include <memory>

#include "foundation/extensions/Utf8.h"

namespace telvo {

CharacterSet CharacterSet::characterSetWithCharactersInString(const std::string& characters) {
    auto members = std::make_shared<std::set<char32_t>>();
    for (size_t i = 0; i < characters.size();) members->insert(utf8::decode(characters, i));
    return CharacterSet([members](char32_t c) { return members->count(c) != 0; });
}

CharacterSet CharacterSet::whitespaceAndNewlineCharacterSet() {
    return CharacterSet([](char32_t c) {
        if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
        const int8_t type = u_charType(UChar32(c));
        return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
    });
}

CharacterSet CharacterSet::whitespaceCharacterSet() {
    return CharacterSet([](char32_t c) { return c == 0x09 || u_charType(UChar32(c)) == U_SPACE_SEPARATOR; });
}

}  // namespace telvo
