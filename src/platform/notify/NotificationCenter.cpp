// Registration and delivery of in-process notifications.
#include "platform/notify/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace telvo::notify {

struct NotificationCenter::Observer {
    ObserverToken token = 0;
    std::string name;
    const void* object = nullptr;
    dispatch::QueuePtr queue;
    Callback callback;
    std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(const std::string& name, const void* object, dispatch::QueuePtr queue,
                                              Callback callback) {
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->queue = std::move(queue);
    observer->callback = std::move(callback);
    std::lock_guard<std::mutex> lock(mutex_);
    observer->token = nextToken_++;
    observers_.push_back(observer);
    return observer->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [token](const std::shared_ptr<Observer>& o) { return o->token == token; });
    if (it == observers_.end()) return;
    (*it)->removed = true;
    observers_.erase(it);
}

void NotificationCenter::post(const std::string& name, const void* object, const Value& userInfo) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& o : observers_) {
            if (!o->name.empty() && o->name != name) continue;
            if (o->object && o->object != object) continue;
            matching.push_back(o);
        }
    }
    if (matching.empty()) return;
    auto notification = std::make_shared<const Notification>(Notification{name, object, userInfo});
    for (const auto& o : matching) {
        if (o->removed) continue;
        if (o->queue) {
            o->queue->async([o, notification] {
                if (!o->removed) o->callback(*notification);
            });
        } else {
            o->callback(*notification);
        }
    }
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return observers_.size();
}

void NotificationCenter::resetForTesting() {
    NotificationCenter& center = defaultCenter();
    std::lock_guard<std::mutex> lock(center.mutex_);
    for (const auto& o : center.observers_) o->removed = true;
    center.observers_.clear();
}

}  // namespace telvo::notify
