#include "platform/defaults/UserDefaults.h"

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
}  // namespace

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
    return Value();
}

void UserDefaults::setObject(const std::string& key, Value value) {
    std::lock_guard lock(mutex_);
    if (value.isNull())
        app_.remove(key);
    else
        app_.set(key, std::move(value));
}

bool UserDefaults::synchronize() {
    Value app;
    {
        std::lock_guard lock(mutex_);
        app = app_;
    }
    fs::createDirectories(preferencesFolder(), 0700);
    bool ok = plist::writeFile(app, pathForDomain(domain_));
    Value global = readDomain(pathForDomain(kGlobalDomain));
    std::lock_guard lock(mutex_);
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
