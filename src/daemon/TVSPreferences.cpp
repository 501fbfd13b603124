#include "daemon/TVSPreferences.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/ServerLog.h"
#include "daemon/Passcode.h"
#include "daemon/TVSKeychain.h"
#include "platform/dispatch/Queue.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo {

namespace {
std::mutex gInstanceMutex;
std::unique_ptr<TVSPreferences> gInstance;
constexpr const char* kPasscodeAccount = "passcode";
constexpr const char* kPasscodeService = "TelvoServer";

// The queue of the queued writes, once one was made.
std::atomic<dispatch::Queue*> gWriteQueue{nullptr};

// Returns once the writes queued before have run.
void waitForQueuedWrites() {
    dispatch::Queue* queue = gWriteQueue.load(std::memory_order_acquire);
    if (queue && !queue->isCurrent()) queue->sync([] {});
}

// The queue of the queued writes: one for the whole process and never freed, so that no
// write queued by an instance can outlive the queue it is on. At the process's exit the
// writes still queued are made before the objects they use (the file-system root among
// them, made before the queue) are destroyed.
dispatch::Queue& writeQueue() {
    static dispatch::QueuePtr* queue = [] {
        auto* made = new dispatch::QueuePtr(dispatch::Queue::createSerial("TelvoServerPreferencesQueue"));
        gWriteQueue.store(made->get(), std::memory_order_release);
        std::atexit(waitForQueuedWrites);
        return made;
    }();
    return **queue;
}
}  // namespace

struct TVSPreferences::Store {
    mutable std::mutex mutex;  // values, changes, written, writeScheduled
    ValueDictionary values;
    uint64_t changes = 0;  // changes made to values
    uint64_t written = 0;  // changes in the file
    bool writeScheduled = false;
    std::mutex writeMutex;  // one write at a time, in order; writeFailing
    bool writeFailing = false;

    // Caller holds mutex.
    void storeLocked(const Value& value, const std::string& key) {
        if (value.isNull())
            values.erase(key);
        else
            values[key] = value;
        ++changes;
    }
    // Writes the values in effect unless the file has them already; answers whether the file
    // is up to date. Serialises and writes outside `mutex`, so readers never wait for the disk.
    bool write();
};

TVSPreferences& TVSPreferences::sharedPreferences() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new TVSPreferences());
    return *gInstance;
}

void TVSPreferences::resetForTesting() {
    std::unique_ptr<TVSPreferences> old;
    {
        std::lock_guard lock(gInstanceMutex);
        old = std::move(gInstance);
    }
    // Its destructor waits for the writes queued: the next instance reads a file that has
    // every change made before.
    old.reset();
}

TVSPreferences::~TVSPreferences() { waitForQueuedWrites(); }

TVSPreferences::TVSPreferences() : store_(std::make_shared<Store>()) {
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
        store_->values = value.dictionary();
        return;
    }
    // Keep the unreadable file for whoever wants to look at it, and start from the defaults.
    std::string aside = std::string(kPath) + ".invalid";
    std::rename(fs::resolve(kPath).c_str(), fs::resolve(aside).c_str());
    DLog("Preferences file %@ is unreadable (%@); kept as %@, starting from the defaults", kPath,
         error ? error->description() : std::string("not a dictionary"), aside);
}

bool TVSPreferences::Store::write() {
    std::lock_guard writing(writeMutex);
    ValueDictionary snapshot;
    uint64_t taken;
    {
        std::lock_guard lock(mutex);
        if (written == changes) return true;
        snapshot = values;
        taken = changes;
    }
    fs::createDirectories("/Library/Preferences", 0755);
    std::string xml = plist::serialize(Value(std::move(snapshot)));
    if (!fs::writeFileAtomically(kPath, xml, 0600)) {
        // The values stay in memory, in effect, and are written whole at the next change or
        // at the stop; one line says so, not one per change.
        const int error = errno;
        if (!writeFailing)
            DLog("Unable to write the preferences file %@ (%s); the settings are kept in memory and written again at "
                 "the next change and at the stop",
                 kPath, std::strerror(error));
        writeFailing = true;
        return false;
    }
    bool upToDate;
    {
        std::lock_guard lock(mutex);
        written = taken;
        upToDate = written == changes;
    }
    if (writeFailing) DLog("Preferences file %@ is written again", kPath);
    writeFailing = false;
    return upToDate;
}

bool TVSPreferences::flush() {
    // A change made by another queue while the file was written takes another pass; a write
    // that fails ends it.
    for (int pass = 0; pass < 4; ++pass) {
        if (store_->write()) return true;
        std::lock_guard writing(store_->writeMutex);
        if (store_->writeFailing) return false;
    }
    return !hasUnwrittenChanges();
}

bool TVSPreferences::hasUnwrittenChanges() const {
    std::lock_guard lock(store_->mutex);
    return store_->written != store_->changes;
}

Value TVSPreferences::objectForKey(const std::string& key) const {
    {
        std::lock_guard lock(store_->mutex);
        auto it = store_->values.find(key);
        if (it != store_->values.end()) return it->second;
    }
    auto it = defaults_.find(key);
    return it != defaults_.end() ? it->second : Value();
}

void TVSPreferences::setObject(const Value& value, const std::string& key) {
    {
        std::lock_guard lock(store_->mutex);
        store_->storeLocked(value, key);
    }
    store_->write();
}

void TVSPreferences::setObjectSoon(const Value& value, const std::string& key) {
    {
        std::lock_guard lock(store_->mutex);
        store_->storeLocked(value, key);
        if (store_->writeScheduled) return;  // the write queued already takes this change along
        store_->writeScheduled = true;
    }
    writeQueue().async([store = store_] {
        {
            std::lock_guard lock(store->mutex);
            store->writeScheduled = false;
        }
        store->write();
    });
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
    // One that would read back otherwise than given would lock out every device typing it.
    if (std::string why = TVSKeychain::whyPasswordWouldNotReadBack(passcode); !why.empty()) {
        DLog("Refused to set the passcode: %@; the passcode is unchanged", why);
        return makeError(TVSKeychain::kErrorDomain, keychain::errSecParam, "The passcode cannot be kept: " + why);
    }
    ErrorPtr error;
    if (TVSKeychain::sharedKeychain().storeUsernameDurably(std::string(kPasscodeAccount), passcode,
                                                           std::string(kPasscodeService), &error))
        return nullptr;
    const std::string why = error ? error->message : std::string("unknown error");
    DLog("Unable to store the new passcode in the keychain %@: %@ (%ld); the passcode is unchanged",
         TVSKeychain::kKeychainPath, why, error ? long(error->code) : 0L);
    return makeError(TVSKeychain::kErrorDomain, error ? error->code : keychain::errSecIO,
                     "The passcode could not be stored: " + why);
}

void TVSPreferences::createPasscode() {
    ErrorPtr error;
    TVSKeychain::sharedKeychain().storeUsername(std::string(kPasscodeAccount), passcode::generate(),
                                                std::string(kPasscodeService), true, &error);
}

void TVSPreferences::verifyPasscode() {
    if (!passcode()) createPasscode();
}

void TVSPreferences::upgradePasscode() { removeObjectForKey("authenc"); }

}  // namespace telvo
