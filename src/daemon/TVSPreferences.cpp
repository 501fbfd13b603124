#include "daemon/TVSPreferences.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/ServerLog.h"
#include "daemon/Passcode.h"
#include "daemon/TVSKeychain.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo {

namespace {
std::mutex gInstanceMutex;
std::unique_ptr<TVSPreferences> gInstance;
constexpr const char* kPasscodeAccount = "passcode";
constexpr const char* kPasscodeService = "TelvoServer";
}  // namespace

TVSPreferences& TVSPreferences::sharedPreferences() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new TVSPreferences());
    return *gInstance;
}

void TVSPreferences::resetForTesting() {
    std::lock_guard lock(gInstanceMutex);
    gInstance.reset();
}

TVSPreferences::TVSPreferences() {
    defaults_ = {{"port", Value(5109)},          {"debugging", Value(0)},         {"passcodeType", Value(0)},
                 {"passcode lock", Value(0)},    {"map external port", Value(0)}, {"port external", Value(5109)},
                 {"bonjour enabled", Value(1)},  {"ssl", Value(1)}};
    load();
    if (objectForKey("port map identifier").isNull()) setObject(Value(passcode::generate()), "port map identifier");
}

void TVSPreferences::load() {
    if (!fs::exists(kPath)) return;
    ErrorPtr error;
    Value value = plist::readFile(kPath, &error);
    if (!error && value.isDictionary()) {
        stored_ = value.dictionary();
        return;
    }
    // Keep the unreadable file for whoever wants to look at it, and start from the defaults.
    std::string aside = std::string(kPath) + ".invalid";
    std::rename(fs::resolve(kPath).c_str(), fs::resolve(aside).c_str());
    DLog("Preferences file %@ is unreadable (%@); kept as %@, starting from the defaults", kPath,
         error ? error->description() : std::string("not a dictionary"), aside);
}

bool TVSPreferences::writeLocked() {
    fs::createDirectories("/Library/Preferences", 0755);
    std::string xml = plist::serialize(Value(stored_));
    if (!fs::writeFileAtomically(kPath, xml, 0600)) {
        // The values stay in memory, in effect, and are written whole at the next change or
        // at the stop; one line says so, not one per change.
        const int error = errno;
        unwritten_ = true;
        if (!writeFailing_)
            DLog("Unable to write the preferences file %@ (%s); the settings are kept in memory and written again at "
                 "the next change and at the stop",
                 kPath, std::strerror(error));
        writeFailing_ = true;
        return false;
    }
    unwritten_ = false;
    if (writeFailing_) DLog("Preferences file %@ is written again", kPath);
    writeFailing_ = false;
    return true;
}

bool TVSPreferences::flush() {
    std::lock_guard lock(mutex_);
    return !unwritten_ || writeLocked();
}

bool TVSPreferences::hasUnwrittenChanges() const {
    std::lock_guard lock(mutex_);
    return unwritten_;
}

Value TVSPreferences::objectForKey(const std::string& key) const {
    {
        std::lock_guard lock(mutex_);
        auto it = stored_.find(key);
        if (it != stored_.end()) return it->second;
    }
    auto it = defaults_.find(key);
    return it != defaults_.end() ? it->second : Value();
}

void TVSPreferences::setObject(const Value& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    if (value.isNull())
        stored_.erase(key);
    else
        stored_[key] = value;
    writeLocked();
}

void TVSPreferences::removeObjectForKey(const std::string& key) { setObject(Value(), key); }

std::optional<std::string> TVSPreferences::passcode() {
    ErrorPtr error;
    return TVSKeychain::sharedKeychain().getPasswordForUsername(std::string(kPasscodeAccount),
                                                                std::string(kPasscodeService), &error);
}

ErrorPtr TVSPreferences::setPasscode(const std::string& passcode) {
    if (passcode.empty()) {
        DLog("Refused to set an empty passcode; the passcode is unchanged");
        return makeError(TVSKeychain::kErrorDomain, TVSKeychain::kMissingArgument, "The passcode is empty");
    }
    ErrorPtr error;
    TVSKeychain::sharedKeychain().storeUsername(std::string(kPasscodeAccount), passcode, std::string(kPasscodeService),
                                                true, &error);
    return nullptr;
}

void TVSPreferences::createPasscode() { setPasscode(passcode::generate()); }

void TVSPreferences::verifyPasscode() {
    if (!passcode()) createPasscode();
}

void TVSPreferences::upgradePasscode() { removeObjectForKey("authenc"); }

}  // namespace telvo
