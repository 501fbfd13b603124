#include "daemon/PeerLogLimiter.h"

#include "foundation/ServerLog.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {

bool PeerLogLimiter::allow(const std::string& address) {
    std::lock_guard lock(mutex_);
    double now = platform::Clock::monotonic();
    auto it = entries_.find(address);
    if (it != entries_.end() && now - it->second.start >= kWindow) {
        if (it->second.suppressed > 0)
            ServerLog("%@: %li lines about %@ left out in the last minute", address, it->second.suppressed, subject_);
        entries_.erase(it);
        it = entries_.end();
    }
    if (it == entries_.end()) {
        if (entries_.size() >= kMaximumAddresses) flushLocked(now, true);
        it = entries_.emplace(address, Entry{now, 0, 0}).first;
    }
    Entry& entry = it->second;
    if (entry.lines < kLinesPerMinute) {
        ++entry.lines;
        return true;
    }
    ++entry.suppressed;
    scheduleFlushLocked();
    return false;
}

void PeerLogLimiter::flush() {
    std::lock_guard lock(mutex_);
    flushScheduled_ = false;
    flushLocked(platform::Clock::monotonic(), false);
    for (const auto& [address, entry] : entries_)
        if (entry.suppressed > 0) {
            scheduleFlushLocked();
            break;
        }
}

void PeerLogLimiter::flushLocked(double now, bool all) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (!all && now - it->second.start < kWindow) {
            ++it;
            continue;
        }
        if (it->second.suppressed > 0)
            ServerLog("%@: %li lines about %@ left out in the last minute", it->first, it->second.suppressed, subject_);
        it = entries_.erase(it);
    }
}

void PeerLogLimiter::scheduleFlushLocked() {
    if (flushScheduled_) return;
    flushScheduled_ = true;
    std::weak_ptr<PeerLogLimiter> weak = weak_from_this();
    dispatch::Queue::global()->after(kWindow, [weak] {
        if (auto self = weak.lock()) self->flush();
    });
}

long PeerLogLimiter::leftOut(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    return it == entries_.end() ? 0 : it->second.suppressed;
}

}  // namespace telvo
