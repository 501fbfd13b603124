#pragma once
// Listens for the notifications of DistributedNotificationCenter, in this process: on a thread
// of its own it receives every notification posted on the machine, keeps them in order for
// waitFor()/received() (unless made without history, as a long-running program's listener
// is), and calls the handler (when given) on that thread.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::notify {

struct DistributedNotification {
    std::string name;
    Value userInfo;
};

class DistributedNotificationListener {
public:
    using Handler = std::function<void(const DistributedNotification&)>;

    enum class History { Kept, None };

    explicit DistributedNotificationListener(Handler handler = nullptr, History history = History::Kept);
    ~DistributedNotificationListener();
    DistributedNotificationListener(const DistributedNotificationListener&) = delete;
    DistributedNotificationListener& operator=(const DistributedNotificationListener&) = delete;

    // False when the socket could not be made; error() says why.
    bool isListening() const { return fd_ >= 0; }
    ErrorPtr error() const { return error_; }

    // Waits up to timeoutSeconds of real time for a notification of this name that was not
    // yet taken by an earlier waitFor; answers it through *out.
    bool waitFor(const std::string& name, double timeoutSeconds, DistributedNotification* out = nullptr);
    // Every notification received so far, in arrival order (none without history).
    std::vector<DistributedNotification> received() const;
    size_t count(const std::string& name) const;

private:
    void run();

    Handler handler_;
    bool keepHistory_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    std::string socketPath_;  // host path
    ErrorPtr error_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<DistributedNotification> received_;
    std::vector<bool> handedOut_;
    std::thread thread_;
};

}  // namespace telvo::notify
