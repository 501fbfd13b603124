#pragma once
// A cache of the main bundle's string files for the user's "NSLanguages" preference: one
// dictionary per file name ("<table>.strings", or "Localizable.strings" without a table),
// read on first use. Main thread only; nothing in the system calls it yet.
#include <map>
#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace telvo::update {

class LocalizationManager {
public:
    static LocalizationManager& sharedLocalizationManager();
    static void resetForTesting();

    // The translation of `key` in `table` (nullopt: the default table), or nullopt.
    std::optional<std::string> localizedString(const std::string& key, const std::optional<std::string>& table);

    // File name -> its translations.
    std::map<std::string, Value> translations;
};

}  // namespace telvo::update
