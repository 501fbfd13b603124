#include "platform/defaults/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::defaults {

namespace {
std::mutex gFolderMutex;
std::string gFolderForTesting;
std::unique_ptr<UserDefaults> gStandard;
std::mutex gStandardMutex;

std::string preferencesFolder() {
    std::lock_guard lock(gFolderMutex);
    if (!gFolderForTesting.empty()) return gFolderForTesting;
    return fs::expandTilde("~/Library/Preferences");
}

Value readDomain(const std::string& path) {
    if (!fs::exists(path)) return Value(ValueDictionary{});
    Value v = plist::readFile(path);
    if (!v.isDictionary()) return Value(ValueDictionary{});
    return v;
}
// The language code of a locale name: "de_DE.UTF-8" and "de@euro" give "de"; "C" and
// "POSIX" name no language.
std::string languageOfLocale(const std::string& locale) {
    const std::string code = locale.substr(0, locale.find_first_of("_.@"));
    if (code.empty() || code == "C" || code == "POSIX") return "";
    return code;
}
}  // namespace

Value UserDefaults::languagesFromEnvironment() {
    ValueArray languages;
    auto add = [&languages](const std::string& locale) {
        const std::string code = languageOfLocale(locale);
        if (code.empty()) return;
        for (const Value& v : languages)
            if (v.stringValue() == code) return;
        languages.push_back(Value(code));
    };
    // LANGUAGE is a list in order of preference ("fr:de"); LANG one locale.
    if (const char* list = std::getenv("LANGUAGE")) {
        std::string text = list;
        for (size_t start = 0; start <= text.size();) {
            size_t end = text.find(':', start);
            if (end == std::string::npos) end = text.size();
            add(text.substr(start, end - start));
            start = end + 1;
        }
    }
    if (languages.empty())
        if (const char* lang = std::getenv("LANG")) add(lang);
    if (languages.empty()) return Value();
    return Value(std::move(languages));
}

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(gStandardMutex);
    if (!gStandard) gStandard = std::make_unique<UserDefaults>(kApplicationDomain);
    return *gStandard;
}

UserDefaults::UserDefaults(std::string domain) : domain_(std::move(domain)) { load(); }

std::string UserDefaults::pathForDomain(const std::string& domain) {
    return preferencesFolder() + "/" + domain + ".plist";
}

void UserDefaults::load() {
    Value app = readDomain(pathForDomain(domain_));
    Value global = readDomain(pathForDomain(kGlobalDomain));
    std::lock_guard lock(mutex_);
    app_ = std::move(app);
    global_ = std::move(global);
}

Value UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (app_.has(key)) return app_[key];
    if (global_.has(key)) return global_[key];
    // The desktop's language list, where no preferences file names one.
    if (key == "AppleLanguages") return languagesFromEnvironment();
    return Value();
}

void UserDefaults::setObject(const std::string& key, Value value) {
    std::lock_guard lock(mutex_);
    changes_[key] = value;
    if (value.isNull())
        app_.remove(key);
    else
        app_.set(key, std::move(value));
}

bool UserDefaults::synchronize() {
    // Another process (the agent beside the application) may have written the domain since it
    // was read: under a lock on the folder's lock file, reread it and apply only our changes.
    fs::createDirectories(preferencesFolder(), 0700);
    const std::string path = pathForDomain(domain_);
    int lockFd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd >= 0) flock(lockFd, LOCK_EX);
    std::map<std::string, Value> changes;
    {
        std::lock_guard lock(mutex_);
        changes = changes_;
    }
    Value app = readDomain(path);
    for (const auto& [key, value] : changes) {
        if (value.isNull())
            app.remove(key);
        else
            app.set(key, value);
    }
    bool ok = changes.empty() || plist::writeFile(app, path);
    if (lockFd >= 0) close(lockFd);
    Value global = readDomain(pathForDomain(kGlobalDomain));
    std::lock_guard lock(mutex_);
    if (ok) {
        for (const auto& [key, value] : changes) {
            auto it = changes_.find(key);
            if (it != changes_.end() && it->second == value) changes_.erase(it);
        }
    }
    // Changes made while writing stay on top of what was read.
    for (const auto& [key, value] : changes_) {
        if (value.isNull())
            app.remove(key);
        else
            app.set(key, value);
    }
    app_ = std::move(app);
    global_ = std::move(global);
    return ok;
}

void UserDefaults::setPreferencesFolderForTesting(const std::string& folder) {
    std::lock_guard lock(gFolderMutex);
    gFolderForTesting = folder;
}

void UserDefaults::resetForTesting() {
    std::lock_guard lock(gStandardMutex);
    gStandard.reset();
}

}  // namespace telvo::defaults
