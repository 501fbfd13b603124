#pragma once
// The daemon's settings: the machine-wide domain "com.kestro.telvoserverbackend", kept as an
// XML property list at "/Library/Preferences/com.kestro.telvoserverbackend.plist" (mode 0600,
// rewritten atomically on every change), with built-in defaults, typed getters and setters,
// and the server passcode, which lives in the private keychain instead. setObjectSoon() is for
// changes made while serving clients: the value is in effect at once, and the write (with its
// fsync) is coalesced and made on the preferences' own queue, never on the caller's.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include "platform/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo {

class TVSPreferences {
public:
    static constexpr const char* kDomain = "com.kestro.telvoserverbackend";
    static constexpr const char* kPath = "/Library/Preferences/com.kestro.telvoserverbackend.plist";

    static TVSPreferences& sharedPreferences();
    static void resetForTesting();
    // Waits for a write still queued.
    ~TVSPreferences();

    // The stored value, else the built-in default, else null.
    Value objectForKey(const std::string& key) const;
    // Stores (null removes) and writes the domain at once.
    // A write that fails leaves the values in effect in memory; they are written whole at the
    // next change or by flush().
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    // Stores (null removes) at once; the file is written shortly after on the preferences'
    // queue, one write for all the changes made meanwhile (or by flush(), or by the next
    // setObject()).
    void setObjectSoon(const Value& value, const std::string& key);

    // The stored value as it is, with no check of its type.
    Value stringForKey(const std::string& key) const { return objectForKey(key); }
    Value arrayForKey(const std::string& key) const { return objectForKey(key); }
    Value dictionaryForKey(const std::string& key) const { return objectForKey(key); }
    Value dataForKey(const std::string& key) const { return objectForKey(key); }
    int64_t integerForKey(const std::string& key) const { return objectForKey(key).intValue(); }
    float floatForKey(const std::string& key) const { return float(objectForKey(key).doubleValue()); }
    double doubleForKey(const std::string& key) const { return objectForKey(key).doubleValue(); }
    bool boolForKey(const std::string& key) const { return objectForKey(key).boolValue(); }

    void setInteger(int64_t value, const std::string& key) { setObject(Value(static_cast<long long>(value)), key); }
    void setFloat(float value, const std::string& key) { setObject(Value(double(value)), key); }
    void setDouble(double value, const std::string& key) { setObject(Value(value), key); }
    void setBool(bool value, const std::string& key) { setObject(Value(value), key); }

    // Writes the file when a change has not reached it yet; answers whether it is up to date.
    bool flush();
    bool hasUnwrittenChanges() const;

    // The passcode from the private keychain; none when there is no item or it cannot be read.
    std::optional<std::string> passcode();
    // Stores a new passcode. An empty one is refused (logged, and answered as the error); the
    // passcode in effect stays. A write the disk refuses is no error: the new passcode is in
    // effect, held in memory until a write succeeds (the keychain logs it once).
    ErrorPtr setPasscode(const std::string& passcode);
    void createPasscode();
    void verifyPasscode();
    void upgradePasscode();

    const ValueDictionary& defaults() const { return defaults_; }

private:
    TVSPreferences();
    void load();
    // Stores in memory. Caller holds mutex_.
    void storeLocked(const Value& value, const std::string& key);
    // Writes the values in effect when they have not reached the file yet; answers whether
    // the file is up to date. Serialises and writes outside mutex_, so readers never wait
    // for the disk.
    bool write();

    ValueDictionary defaults_;
    mutable std::mutex mutex_;  // stored_, changes_, written_, writeScheduled_
    ValueDictionary stored_;
    uint64_t changes_ = 0;  // changes made to stored_
    uint64_t written_ = 0;  // changes in the file
    bool writeScheduled_ = false;
    std::mutex writeMutex_;  // one write at a time, in order; writeFailing_
    bool writeFailing_ = false;
    dispatch::QueuePtr writeQueue_;
};

}  // namespace telvo
