#pragma once
// Turns changes of the dynamic store of network state into in-process notifications: for each
// changed key it posts, on the default notification centre, a notification named by the key,
// with this manager as the object and the key's current value (none when removed) as the user
// information. Changes are taken on the queue given at creation (the port mapper's own).
#include <string>
#include <vector>
#include "platform/dispatch/Queue.h"
#include "platform/netstate/DynamicStore.h"

namespace telvo {

class IXSCNotificationManager {
public:
    // Observes every key (one pattern ".*") from creation on.
    explicit IXSCNotificationManager(dispatch::QueuePtr queue);
    ~IXSCNotificationManager();
    IXSCNotificationManager(const IXSCNotificationManager&) = delete;
    IXSCNotificationManager& operator=(const IXSCNotificationManager&) = delete;

    // Replaces the observed keys and patterns; logs "%s desired keys could not be observed."
    // when the store refuses them.
    void setObservedKeys(const std::vector<std::string>& keys, const std::vector<std::string>& regExes);

private:
    void changed(const std::vector<std::string>& keys);

    netstate::DynamicStoreSessionPtr dynStore_;
};

}  // namespace telvo
