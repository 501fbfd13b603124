#include "update/LocalizationManager.h"

#include <memory>

#include "platform/bundle/MainBundle.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/values/Format.h"
#include "update/HostFiles.h"

namespace telvo::update {
namespace {

std::unique_ptr<LocalizationManager>& instance() {
    static std::unique_ptr<LocalizationManager> shared;
    return shared;
}

bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The first of the user's "NSLanguages" that the main bundle has; empty when none.
std::string chosenLanguage(const std::string& bundle) {
    const Value languages = defaults::UserDefaults::standard().objectForKey("NSLanguages");
    if (bundle.empty() || !languages.isArray()) return {};
    for (const Value& entry : languages.array()) {
        const std::string language = entry.stringValue();
        if (plainName(language) && hostIsDirectory(bundle + "/Contents/Resources/" + language + ".lproj")) return language;
    }
    return {};
}

}  // namespace

LocalizationManager& LocalizationManager::sharedLocalizationManager() {
    if (!instance()) instance() = std::make_unique<LocalizationManager>();
    return *instance();
}

void LocalizationManager::resetForTesting() { instance().reset(); }

std::optional<std::string> LocalizationManager::localizedString(const std::string& key,
                                                                const std::optional<std::string>& table) {
    const std::string fileName = table ? format("%@.strings", *table) : std::string("Localizable.strings");
    auto found = translations.find(fileName);
    if (found == translations.end()) {
        Value contents{ValueDictionary{}};
        const std::string bundle = bundle::MainBundle::path();
        const std::string language = chosenLanguage(bundle);
        if (!language.empty() && plainName(fileName)) {
            Value read = readHostPropertyList(bundle + "/Contents/Resources/" + language + ".lproj/" + fileName);
            if (read.isDictionary()) contents = read;
        }
        found = translations.emplace(fileName, contents).first;
    }
    const Value& value = found->second[key];
    if (!value.isString()) return std::nullopt;
    return value.string();
}

}  // namespace telvo::update
