#include "platform/diskarb/Session.h"

#include <map>

#include "platform/diskarb/DiskDescription.h"
#include "platform/diskarb/DiskScanner.h"

namespace telvo::diskarb {

std::shared_ptr<Session> Session::create(dispatch::QueuePtr queue, Callback callback, Scanner scanner) {
    return std::make_shared<Session>(std::move(queue), std::move(callback), std::move(scanner));
}

Session::Session(dispatch::QueuePtr queue, Callback callback, Scanner scanner)
    : queue_(std::move(queue)), callback_(std::move(callback)), scanner_(scanner ? std::move(scanner) : Scanner(scanDisks)) {}

Session::~Session() {
    if (token_) DeviceEventMonitor::shared().unsubscribe(token_);
}

std::string Session::identity(const Value& d) {
    const std::string bsd = d[key::kMediaBSDName].stringValue();
    return bsd.empty() ? "volume:" + d[key::kVolumePath].stringValue() : bsd;
}

void Session::schedule() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (scheduled_) return;
        scheduled_ = true;
    }
    std::weak_ptr<Session> weak = weak_from_this();
    token_ = DeviceEventMonitor::shared().subscribe([weak](const Uevent*) {
        if (auto self = weak.lock()) self->rescan();
    });
    rescan();
}

void Session::unschedule() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scheduled_ = false;
    }
    if (token_) DeviceEventMonitor::shared().unsubscribe(token_);
    token_ = 0;
}

void Session::rescan() {
    std::weak_ptr<Session> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) self->rescanNow();
    });
}

void Session::rescanNow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!scheduled_) return;
    }
    std::vector<Value> fresh = scanner_();
    std::vector<Value> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old.swap(current_);
        current_ = fresh;
    }
    std::map<std::string, const Value*> before, after;
    for (const Value& d : old) before[identity(d)] = &d;
    for (const Value& d : fresh) after[identity(d)] = &d;

    auto tell = [this](Event event, const Value& d) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!scheduled_) return;
        }
        callback_(event, d);
    };
    // Gone: partitions before their disk (the reverse of scan order).
    for (auto it = old.rbegin(); it != old.rend(); ++it)
        if (!after.count(identity(*it))) tell(Event::Disappeared, *it);
    for (const Value& d : fresh) {
        auto was = before.find(identity(d));
        if (was == before.end())
            tell(Event::Appeared, d);
        else if (*was->second != d)
            tell(Event::Changed, d);
    }
}

Value Session::copyWholeDisk(const std::string& bsdName) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string whole = bsdName;
    for (const Value& d : current_)
        if (d[key::kMediaBSDName].stringValue() == bsdName && d.has(key::kWholeDiskBSDName))
            whole = d[key::kWholeDiskBSDName].stringValue();
    for (const Value& d : current_)
        if (d[key::kMediaBSDName].stringValue() == whole) return d;
    return Value();
}

}  // namespace telvo::diskarb
