// The hand-written network state of tests.
#include "platform/netstate/FixtureSource.h"

#include <algorithm>
#include "platform/netstate/DynamicStore.h"

namespace telvo::netstate {

ValueDictionary FixtureSource::snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
}

void FixtureSource::setChangeListener(ChangeListener listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void FixtureSource::touched(const std::string& key) {
    if (std::find(pending_.begin(), pending_.end(), key) == pending_.end()) pending_.push_back(key);
}

void FixtureSource::setValue(const std::string& key, const Value& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[key] = value;
    touched(key);
}

void FixtureSource::removeValue(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.erase(key);
    touched(key);
}

void FixtureSource::commit() {
    std::vector<std::string> keys;
    ChangeListener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        keys.swap(pending_);
        listener = listener_;
    }
    if (listener && !keys.empty()) listener(keys);
}

void FixtureSource::setNetwork(const std::string& router, const std::string& interfaceName,
                               const std::vector<std::string>& addresses, const std::vector<std::string>& masks) {
    Value global;
    if (!router.empty()) global.set("Router", router);
    global.set("PrimaryInterface", interfaceName);
    setValue(DynamicStore::kGlobalIPv4Key, global);
    Value iface;
    ValueArray a(addresses.begin(), addresses.end()), m(masks.begin(), masks.end());
    iface.set("Addresses", a);
    iface.set("SubnetMasks", m);
    setValue(DynamicStore::interfaceIPv4Key(interfaceName), iface);
}

}  // namespace telvo::netstate
