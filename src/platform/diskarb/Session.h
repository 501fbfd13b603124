#pragma once
// The disk-arbitration session of this system: on its queue it reports every disk already
// present as appeared, then, after each block device event or mount-table change, rescans
// (DiskScanner) and reports what appeared, disappeared (partitions before their disk) or
// changed. Descriptions are dictionaries with the keys of DiskDescription.h.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/diskarb/DeviceEventMonitor.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo::diskarb {

class Session : public std::enable_shared_from_this<Session> {
public:
    enum class Event { Appeared, Disappeared, Changed };
    using Callback = std::function<void(Event event, const Value& description)>;
    // Scans the machine; tests hand in their own.
    using Scanner = std::function<std::vector<Value>()>;

    static std::shared_ptr<Session> create(dispatch::QueuePtr queue, Callback callback, Scanner scanner = nullptr);
    ~Session();

    // Starts listening and queues the first scan (everything present appears).
    void schedule();
    // No callback starts afterwards.
    void unschedule();
    // Queues a rescan on the session's queue.
    void rescan();
    // Scans and reports now; call it on the session's queue.
    void rescanNow();

    // The newest description of the whole disk holding the partition, or of a disk itself,
    // by BSD name; null when none.
    Value copyWholeDisk(const std::string& bsdName) const;
    // A description's identity: its BSD name, or for a volume without one "volume:" and its path.
    static std::string identity(const Value& description);

    Session(dispatch::QueuePtr queue, Callback callback, Scanner scanner);

private:
    dispatch::QueuePtr queue_;
    Callback callback_;
    Scanner scanner_;
    mutable std::mutex mutex_;
    std::vector<Value> current_;
    bool scheduled_ = false;
    DeviceEventMonitor::Token token_ = 0;
};

}  // namespace telvo::diskarb
