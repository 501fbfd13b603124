#pragma once
// Where the network state of the dynamic store comes from: a snapshot of every key with its
// value, and a listener told of the keys that changed. The process uses rtnetlink; tests hand
// the store a fixture instead.
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::netstate {

class NetworkStateSource {
public:
    // Told with the changed keys, in the order the source reports them, on a thread of the
    // source's choosing.
    using ChangeListener = std::function<void(const std::vector<std::string>& changedKeys)>;

    virtual ~NetworkStateSource() = default;
    // Every key of the store with its value (a dictionary of key -> dictionary).
    virtual ValueDictionary snapshot() = 0;
    // Starts telling `listener` of changes; a second call replaces the listener. An empty
    // listener stops the telling.
    virtual void setChangeListener(ChangeListener listener) = 0;
};

using NetworkStateSourcePtr = std::shared_ptr<NetworkStateSource>;

}  // namespace telvo::netstate
