#include "update/KXRUpdaterLocalizedString.h"

#include <map>
#include <mutex>

#include "platform/bundle/MainBundle.h"
#include "platform/defaults/UserDefaults.h"
#include "update/HostFiles.h"

namespace telvo::update {
namespace {

std::mutex gMutex;
std::map<std::string, Value> gTables;  // file -> its dictionary (empty when unreadable)

// A language name that can be a folder name of its own.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool hasLanguage(const std::string& bundle, const std::string& language) {
    return plainName(language) && hostIsDirectory(bundle + "/Contents/Resources/" + language + ".lproj");
}

}  // namespace

std::string updaterLanguage() {
    const std::string bundle = bundle::MainBundle::path();
    const Value languages = defaults::UserDefaults::standard().objectForKey("AppleLanguages");
    if (!bundle.empty() && languages.isArray()) {
        for (const Value& entry : languages.array()) {
            const std::string language = entry.stringValue();
            if (hasLanguage(bundle, language)) return language;
            // "de-DE" and "de_DE" fall back to "de".
            const size_t cut = language.find_first_of("-_");
            if (cut != std::string::npos && hasLanguage(bundle, language.substr(0, cut))) return language.substr(0, cut);
        }
    }
    return "en";
}

std::string KXRUpdaterLocalizedString(const std::string& key, const std::string&, const std::string& table) {
    const std::string bundle = bundle::MainBundle::path();
    if (bundle.empty() || !plainName(table)) return key;
    const std::string file = bundle + "/Contents/Resources/" + updaterLanguage() + ".lproj/" + table + ".strings";
    std::lock_guard lock(gMutex);
    auto found = gTables.find(file);
    if (found == gTables.end()) {
        Value contents = readHostPropertyList(file);
        if (!contents.isDictionary()) contents = Value(ValueDictionary{});
        found = gTables.emplace(file, contents).first;
    }
    const Value& value = found->second[key];
    return value.isString() ? value.string() : key;
}

void resetLocalizedStringsForTesting() {
    std::lock_guard lock(gMutex);
    gTables.clear();
}

}  // namespace telvo::update
