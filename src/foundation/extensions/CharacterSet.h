#pragma once
// A set of Unicode characters (code points) for trimming strings.
#include <functional>
#include <set>
#include <string>

namespace telvo {

class CharacterSet {
public:
    // The characters of a UTF-8 string.
    static CharacterSet characterSetWithCharactersInString(const std::string& characters);
    // Unicode spaces and separators (general categories Zs, Zl, Zp), tab and U+000A to U+000D,
    // U+0085.
    static CharacterSet whitespaceAndNewlineCharacterSet();
    // Unicode spaces (Zs) and tab.
    static CharacterSet whitespaceCharacterSet();

    bool characterIsMember(char32_t c) const { return test_(c); }

private:
    explicit CharacterSet(std::function<bool(char32_t)> test) : test_(std::move(test)) {}
    std::function<bool(char32_t)> test_;
};

}  // namespace telvo
