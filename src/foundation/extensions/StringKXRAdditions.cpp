#include "foundation/extensions/StringKXRAdditions.h"

#include "foundation/extensions/Utf8.h"

namespace telvo {

std::string stringByTrimmingLeadingCharactersInSet(const std::string& s, const CharacterSet& set) {
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        if (!set.characterIsMember(utf8::decode(s, i))) return s.substr(start);
    }
    return "";
}

std::string stringByTrimmingTrailingCharactersInSet(const std::string& s, const CharacterSet& set) {
    size_t keep = 0;  // the end of the last character outside the set
    for (size_t i = 0; i < s.size();) {
        if (!set.characterIsMember(utf8::decode(s, i))) keep = i;
    }
    return s.substr(0, keep);
}

std::string stringByTrimmingLeadingWhitespaceAndNewlineCharacters(const std::string& s) {
    return stringByTrimmingLeadingCharactersInSet(s, CharacterSet::whitespaceAndNewlineCharacterSet());
}

std::string stringByTrimmingTrailingWhitespaceAndNewlineCharacters(const std::string& s) {
    return stringByTrimmingTrailingCharactersInSet(s, CharacterSet::whitespaceAndNewlineCharacterSet());
}

}  // namespace telvo
