#pragma once
// The update windows' texts in the user's language: the main bundle's string table
// "Contents/Resources/<language>.lproj/<table>.strings" (an XML property list of strings),
// the language being the first of the user's "AppleLanguages" that the bundle has, else "en".
// A missing table or key gives the key itself. Tables are read once per file.
#include <string>

namespace telvo::update {

std::string KXRUpdaterLocalizedString(const std::string& key, const std::string& comment, const std::string& table);

// The language KXRUpdaterLocalizedString reads ("en" when the bundle has none of the user's).
std::string updaterLanguage();
// Tests: forgets the tables read so far.
void resetLocalizedStringsForTesting();

}  // namespace telvo::update
