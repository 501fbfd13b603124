#include "platform/registry/NotificationPort.h"

#include <set>

namespace telvo::registry {
namespace {

std::mutex gPortsMutex;
std::vector<std::weak_ptr<NotificationPort>>& ports() {
    static std::vector<std::weak_ptr<NotificationPort>> p;
    return p;
}

std::vector<EntryRef> missingFrom(const std::vector<EntryRef>& entries, const std::vector<EntryRef>& other) {
    std::set<std::string> paths;
    for (const EntryRef& e : other) paths.insert(e->path());
    std::vector<EntryRef> missing;
    for (const EntryRef& e : entries)
        if (!paths.count(e->path())) missing.push_back(e);
    return missing;
}

}  // namespace

std::shared_ptr<NotificationPort> NotificationPort::create(dispatch::QueuePtr queue) {
    auto port = std::make_shared<NotificationPort>(std::move(queue));
    std::lock_guard<std::mutex> lock(gPortsMutex);
    auto& list = ports();
    std::erase_if(list, [](const std::weak_ptr<NotificationPort>& p) { return p.expired(); });
    list.push_back(port);
    return port;
}

std::vector<EntryRef> NotificationPort::addMatchingNotification(const std::string& type, const Value& matching,
                                                                Callback callback) {
    const bool publish = type == "IOServicePublish";
    if (!publish && type != "IOServiceTerminate") return {};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        registrations_.push_back(std::make_shared<Registration>(Registration{publish, matching, std::move(callback)}));
    }
    return publish ? Registry::shared()->matchingServices(matching) : std::vector<EntryRef>{};
}

void NotificationPort::destroy() {
    std::lock_guard<std::mutex> lock(mutex_);
    destroyed_ = true;
    registrations_.clear();
}

void NotificationPort::deliver(const Registry& before, const Registry& after) {
    std::vector<std::shared_ptr<Registration>> registrations;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (destroyed_) return;
        registrations = registrations_;
    }
    for (const auto& r : registrations) {
        auto old = before.matchingServices(r->matching);
        auto now = after.matchingServices(r->matching);
        auto changed = r->publish ? missingFrom(now, old) : missingFrom(old, now);
        if (changed.empty()) continue;
        std::weak_ptr<NotificationPort> weak = weak_from_this();
        queue_->async([weak, r, changed] {
            auto self = weak.lock();
            if (!self) return;
            {
                std::lock_guard<std::mutex> lock(self->mutex_);
                if (self->destroyed_) return;
            }
            r->callback(changed);
        });
    }
}

void refreshAndNotify() {
    std::shared_ptr<Registry> before = Registry::shared();
    Registry::refreshShared();
    std::shared_ptr<Registry> after = Registry::shared();
    std::vector<std::shared_ptr<NotificationPort>> live;
    {
        std::lock_guard<std::mutex> lock(gPortsMutex);
        for (const auto& weak : ports())
            if (auto p = weak.lock()) live.push_back(p);
    }
    for (const auto& port : live) port->deliver(*before, *after);
}

}  // namespace telvo::registry
