#include "platform/dispatch/detail/TimerSource.h"

#include <algorithm>
#include <cmath>
#include "platform/time/Clock.h"

namespace telvo::dispatch::detail {

using platform::Clock;

TimerSource::~TimerSource() {
    if (entry_) Scheduler::instance().remove(entry_);
}

namespace {
// Deadlines this far off (or infinite) mean "never", as the platform's forever does.
constexpr double kNever = 1e15;
}

void TimerSource::scheduleAfter(double delaySeconds, double intervalSeconds, double leewaySeconds) {
    double delay = std::isnan(delaySeconds) ? 0.0 : std::max(0.0, delaySeconds);
    arm(ClockKind::Monotonic, delay >= kNever ? kNever * 2 : Clock::monotonic() + delay, intervalSeconds,
        leewaySeconds);
}

void TimerSource::scheduleAtWallTime(double wallTime, double intervalSeconds, double leewaySeconds) {
    double at = std::isnan(wallTime) ? Clock::now() : wallTime;
    arm(ClockKind::Wall, at >= kNever ? kNever * 2 : at, intervalSeconds, leewaySeconds);
}

void TimerSource::arm(ClockKind kind, double deadline, double interval, double leeway) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) return;
        kind_ = kind;
        deadline_ = deadline;
        interval_ = std::isfinite(interval) && interval > 0 && interval < kNever ? interval : 0;
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
    if (deadline_ >= kNever) {
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
        double now = kind_ == ClockKind::Wall ? Clock::now() : Clock::monotonic();
        double late = now - deadline_;
        double missed = late > interval_ ? std::floor(late / interval_) : 0;
        count += static_cast<size_t>(missed);
        deadline_ += static_cast<double>(count) * interval_;
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
