#pragma once
// Publish and terminate notifications of registry services: a port delivers, on its queue,
// the services matching a registration that appeared ("IOServicePublish") or went away
// ("IOServiceTerminate") each time the process-wide registry is rebuilt after a device event
// (refreshAndNotify). Services are told apart by their path in the service plane.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/registry/Registry.h"

namespace telvo::registry {

class NotificationPort : public std::enable_shared_from_this<NotificationPort> {
public:
    using Callback = std::function<void(const std::vector<EntryRef>& services)>;

    static std::shared_ptr<NotificationPort> create(dispatch::QueuePtr queue);
    // Registers for "IOServicePublish" or "IOServiceTerminate" of the services the matching
    // dictionary matches. Answers what a first drain of the notification's iterator finds:
    // the services present now for a publish registration, none for a terminate one.
    std::vector<EntryRef> addMatchingNotification(const std::string& type, const Value& matching, Callback callback);
    // Detaches the port from its queue: no callback starts afterwards.
    void destroy();

    NotificationPort(dispatch::QueuePtr queue) : queue_(std::move(queue)) {}

private:
    friend void refreshAndNotify();
    struct Registration {
        bool publish;
        Value matching;
        Callback callback;
    };
    void deliver(const Registry& before, const Registry& after);

    dispatch::QueuePtr queue_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_;
    bool destroyed_ = false;
};

// Rebuilds the process-wide registry from its backend and tells every port what appeared
// and what went away.
void refreshAndNotify();

}  // namespace telvo::registry
