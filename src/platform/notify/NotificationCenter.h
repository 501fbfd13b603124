#pragma once
// The in-process notification centre: components post a notification by name, with the
// posting object and a user-information value, and every observer registered for that name
// (and that object, when it named one) is told. Without a queue an observer is called
// synchronously on the posting thread, in registration order; with a queue the call is
// queued there with async.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo::notify {

struct Notification {
    std::string name;
    const void* object = nullptr;
    Value userInfo;
};

// Identifies one registration; 0 is never handed out.
using ObserverToken = uint64_t;

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Registers `callback` for notifications named `name` (an empty name: every name) posted
    // by `object` (null: by any object). `queue` null means synchronous delivery on the
    // posting thread.
    ObserverToken addObserver(const std::string& name, const void* object, dispatch::QueuePtr queue,
                              Callback callback);
    // Ends a registration. No call of it starts afterwards (blocks already queued for it do
    // nothing); a call already running on another thread finishes. Callable from inside a
    // callback. Unknown tokens are ignored.
    void removeObserver(ObserverToken token);
    // Tells every matching observer. Observers may add or remove observers and post again
    // from inside their callback; those added during a post are not told of that post.
    void post(const std::string& name, const void* object = nullptr, const Value& userInfo = Value());

    // The number of registrations (for tests).
    size_t observerCount() const;
    // Drops every registration of the default centre.
    static void resetForTesting();

private:
    struct Observer;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Observer>> observers_;
    ObserverToken nextToken_ = 1;
};

}  // namespace telvo::notify
