#pragma once
// User defaults: one application domain kept as an XML property list at
// "~/Library/Preferences/<domain>.plist", read together with the global domain
// (".GlobalPreferences.plist" beside it) for the keys the whole desktop shares
// ("AppleMiniaturizeOnDoubleClick", "AppleAquaColorVariant", "AppleLanguages").
// The application domain wins over the global one; "AppleLanguages" named in neither comes
// from LANGUAGE, else LANG ("de_DE.UTF-8" gives ["de"]). Tests point the preferences folder
// elsewhere with setPreferencesFolderForTesting().
#include <map>
#include <mutex>
#include <string>

#include "platform/values/Value.h"

namespace telvo::defaults {

class UserDefaults {
public:
    // The control application's domain.
    static constexpr const char* kApplicationDomain = "com.kestro.TelvoServer";
    static constexpr const char* kGlobalDomain = ".GlobalPreferences";

    // Defaults of the control application's domain, read on first use.
    static UserDefaults& standard();
    // A private set over another domain (the update agent uses its own).
    explicit UserDefaults(std::string domain);

    // The value in the application domain, else in the global domain, else null.
    Value objectForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const { return objectForKey(key).boolValue(); }
    int64_t integerForKey(const std::string& key) const { return objectForKey(key).intValue(); }
    // Sets or (with a null value) removes a key of the application domain.
    void setObject(const std::string& key, Value value);
    void removeObject(const std::string& key) { setObject(key, Value()); }
    // Rereads the application domain's file under a lock, applies this object's changes since
    // the last synchronize and writes it back (other processes' keys survive); rereads the global
    // domain. False when writing failed.
    bool synchronize();

    // The language codes of LANGUAGE ("fr:de" gives ["fr", "de"]), else of LANG; null when
    // neither names one.
    static Value languagesFromEnvironment();

    // The file of a domain ("~/Library/Preferences/<domain>.plist", tilde expanded).
    static std::string pathForDomain(const std::string& domain);

    // Tests: the folder that stands for "~/Library/Preferences" (empty restores it).
    static void setPreferencesFolderForTesting(const std::string& folder);
    // Tests: forgets what standard() has read, so the next use reads the files again.
    static void resetForTesting();

private:
    void load();

    std::string domain_;
    mutable std::mutex mutex_;
    Value app_;
    Value global_;
    std::map<std::string, Value> changes_;  // null: removed
};

}  // namespace telvo::defaults
