#pragma once
// The dynamic store of network state, as the components read it: keys such as
// "State:/Network/Global/IPv4" ("Router", "PrimaryInterface") and
// "State:/Network/Interface/<name>/IPv4" ("Addresses", "SubnetMasks"), and sessions that are
// told when keys they watch change. The values come from a NetworkStateSource (rtnetlink in
// the process, a fixture in tests).
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>
#include "platform/dispatch/Queue.h"
#include "platform/netstate/NetworkStateSource.h"

namespace telvo::netstate {

class DynamicStoreSession;
using DynamicStoreSessionPtr = std::shared_ptr<DynamicStoreSession>;

class DynamicStore {
public:
    static constexpr const char* kGlobalIPv4Key = "State:/Network/Global/IPv4";
    // "State:/Network/Interface/<name>/IPv4"
    static std::string interfaceIPv4Key(const std::string& interfaceName);

    static DynamicStore& shared();
    // Tests: replace the source (null: back to rtnetlink on next use) and drop every session.
    static void setSourceForTesting(NetworkStateSourcePtr source);
    static void resetForTesting();

    // The current value of a key, or null when the key does not exist.
    Value copyValue(const std::string& key);

    // Every key named in `keys` or matching one of `patterns` (whole-key regular expressions),
    // read from one snapshot, so the values agree with each other. Invalid patterns match
    // nothing.
    ValueDictionary copyMultiple(const std::vector<std::string>& keys, const std::vector<std::string>& patterns);

    // Sessions register here; the store holds them weakly.
    void addSession(const std::weak_ptr<DynamicStoreSession>& session);

private:
    DynamicStore() = default;
    NetworkStateSourcePtr source();
    void changed(const std::vector<std::string>& keys);

    std::mutex mutex_;
    NetworkStateSourcePtr source_;
    std::vector<std::weak_ptr<DynamicStoreSession>> sessions_;
};

// One client's view of the store: a name, the keys and patterns it watches, and a callback
// that receives the changed keys it watches. Callbacks run as blocks on the session's queue
// (given at creation), in the order the store reports the keys.
class DynamicStoreSession : public std::enable_shared_from_this<DynamicStoreSession> {
public:
    using Callback = std::function<void(const std::vector<std::string>& changedKeys)>;

    // `queue` null: callbacks are dropped until a queue is set.
    static DynamicStoreSessionPtr create(const std::string& name, dispatch::QueuePtr queue, Callback callback);

    const std::string& name() const { return name_; }
    Value copyValue(const std::string& key) const;
    ValueDictionary copyMultiple(const std::vector<std::string>& keys, const std::vector<std::string>& patterns) const;
    // Replaces the watched keys and patterns (regular expressions matched against the whole
    // key). False when a pattern is not a valid expression; nothing is watched then.
    bool setNotificationKeys(const std::vector<std::string>& keys, const std::vector<std::string>& patterns);
    // Stops every callback; blocks already queued do nothing.
    void invalidate();

    // Called by the store.
    void storeChanged(const std::vector<std::string>& keys);

private:
    DynamicStoreSession(std::string name, dispatch::QueuePtr queue, Callback callback);
    bool watches(const std::string& key) const;

    std::string name_;
    dispatch::QueuePtr queue_;
    Callback callback_;
    mutable std::mutex mutex_;
    std::vector<std::string> keys_;
    std::vector<std::regex> patterns_;
    bool valid_ = true;
};

}  // namespace telvo::netstate
