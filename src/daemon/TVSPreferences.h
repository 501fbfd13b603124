#pragma once
// The daemon's settings: the machine-wide domain "com.kestro.telvoserverbackend", kept as an
// XML property list at "/Library/Preferences/com.kestro.telvoserverbackend.plist" (mode 0600,
// rewritten atomically on every change), with built-in defaults, typed getters and setters,
// and the server passcode, which lives in the private keychain instead. setObjectSoon() is for
// changes made while serving clients: the value is in effect at once, and the file is written
// shortly after (one write for the changes made meanwhile) on the preferences' own queue.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo {

class TVSPreferences {
public:
    static constexpr const char* kDomain = "com.kestro.telvoserverbackend";
    static constexpr const char* kPath = "/Library/Preferences/com.kestro.telvoserverbackend.plist";

    static TVSPreferences& sharedPreferences();
    // Waits for the writes still queued, then forgets the instance.
    static void resetForTesting();
    // Waits for the writes still queued.
    ~TVSPreferences();

    // The stored value, else the built-in default, else null.
    Value objectForKey(const std::string& key) const;
    // Stores (null removes) and writes the domain at once.
    // A write that fails leaves the values in effect in memory; they are written whole at the
    // next change or by flush().
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    // Stores (null removes) at once; the file is written on the preferences' queue, never on
    // the caller's, by one write for every change made until it runs (or by flush(), or by the
    // next setObject()).
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

    // Writes the file when a change has not reached it yet (a queued one included); answers
    // whether it is up to date.
    bool flush();
    // True while a change has not reached the file (its write failed, or is still queued).
    bool hasUnwrittenChanges() const;

    // The passcode from the private keychain; none when there is no item or it cannot be read.
    std::optional<std::string> passcode();
    // Stores a new passcode, all or nothing: answers null once the keychain file holds it.
    // Refused (logged, and answered as the error) with the passcode in effect kept: an empty
    // one, one that would not read back as given (over 1023 bytes, a zero byte, not UTF-8),
    // and one the keychain file does not take (a full or read-only disk).
    ErrorPtr setPasscode(const std::string& passcode);
    // Stores a new random passcode. A write the disk refuses leaves it in effect all the same,
    // held in memory until a write succeeds (the keychain logs it once): a daemon started on
    // a full disk still has a passcode.
    void createPasscode();
    void verifyPasscode();
    void upgradePasscode();

    const ValueDictionary& defaults() const { return defaults_; }

private:
    // The stored values and their writing, shared with the writes queued: a queued write keeps
    // them alive, never the preferences object.
    struct Store;

    TVSPreferences();
    void load();

    ValueDictionary defaults_;
    std::shared_ptr<Store> store_;
};

}  // namespace telvo
