#pragma once
// Trimming of leading or trailing characters of a set.
#include <string>

#include "foundation/extensions/CharacterSet.h"

namespace telvo {

// From the first character outside the set to the end; "" when there is none.
std::string stringByTrimmingLeadingCharactersInSet(const std::string& s, const CharacterSet& set);
// Up to and including the last character outside the set; "" when there is none.
std::string stringByTrimmingTrailingCharactersInSet(const std::string& s, const CharacterSet& set);
std::string stringByTrimmingLeadingWhitespaceAndNewlineCharacters(const std::string& s);
std::string stringByTrimmingTrailingWhitespaceAndNewlineCharacters(const std::string& s);

}  // namespace telvo
