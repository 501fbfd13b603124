#include "platform/dispatch/detail/TimerSource.h"

#include <algorithm>
#include <cmath>
#include "platform/time/Clock.h"

namespace telvo::dispatch::detail {

using platform::Clock;

TimerSource::~TimerSource() {
    if (entry_) Scheduler::instance().remove(entry_);
}

void TimerSource::scheduleAfter(double delaySeconds, double intervalSeconds, double leewaySeconds) {
    // A delay that is infinite or centuries long means never.
    const int64_t delay = Clock::toNanos(std::isnan(delaySeconds) ? 0.0 : std::max(0.0, delaySeconds));
    arm(ClockKind::Monotonic,
        delay >= Clock::kForeverNanos ? Clock::kForeverNanos : Clock::addNanos(Clock::monotonicNanos(), delay),
        intervalSeconds, leewaySeconds);
}

void TimerSource::scheduleAtWallTime(double wallTime, double intervalSeconds, double leewaySeconds) {
    arm(ClockKind::Wall, std::isnan(wallTime) ? Clock::nowNanos() : Clock::toNanos(wallTime), intervalSeconds,
        leewaySeconds);
}

void TimerSource::arm(ClockKind kind, int64_t deadline, double interval, double leeway) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) return;
        kind_ = kind;
        deadline_ = deadline;
        // An interval too short to count in nanoseconds is the shortest there is.
        const int64_t nanos = std::isfinite(interval) && interval > 0 ? std::max<int64_t>(1, Clock::toNanos(interval)) : 0;
        interval_ = nanos < Clock::kForeverNanos ? nanos : 0;
        leeway_ = leeway;
        armLocked();
    }
    Scheduler::instance().kick();
}

void TimerSource::armLocked() {
    auto& scheduler = Scheduler::instance();
    if (entry_) scheduler.remove(entry_);
    entry_ = 0;
    uint64_t generation = ++generation_;
    if (deadline_ >= Clock::kForeverNanos) {
        armed_ = false;
        return;
    }
    std::weak_ptr<Source> weak = weak_from_this();
    entry_ = scheduler.add(kind_, deadline_, [weak, generation] {
        if (auto self = weak.lock()) static_cast<TimerSource*>(self.get())->fired(generation);
    });
    armed_ = true;
}

void TimerSource::fired(uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_ || cancelled_) return;
    entry_ = 0;
    size_t count = 1;
    if (interval_ > 0) {
        // Firings missed while the process was held up count in data(); the next deadline
        // stays on the timer's own grid.
        const int64_t now = kind_ == ClockKind::Wall ? Clock::nowNanos() : Clock::monotonicNanos();
        const int64_t late = now - deadline_;
        const int64_t missed = late > interval_ ? late / interval_ : 0;
        count += static_cast<size_t>(missed);
        // missed * interval_ is at most `late`, so the product stays in range.
        deadline_ = Clock::addNanos(Clock::addNanos(deadline_, missed * interval_), interval_);
        armLocked();
    } else {
        armed_ = false;
    }
    eventLocked(count, true);
}

void TimerSource::cancelLocked() {
    if (entry_) Scheduler::instance().remove(entry_);
    entry_ = 0;
    armed_ = false;
}

}  // namespace telvo::dispatch::detail
