#pragma once
// A timer source: one deadline at a time in the scheduler, on the monotonic or the wall
// clock; repeating timers re-arm themselves from their previous deadline, on a grid of whole
// nanoseconds.
#include <cstdint>
#include "platform/dispatch/detail/Scheduler.h"
#include "platform/dispatch/detail/SourceBase.h"

namespace telvo::dispatch::detail {

class TimerSource final : public SourceBase {
public:
    explicit TimerSource(QueuePtr queue) : SourceBase(std::move(queue), -1) {}
    ~TimerSource() override;

    void scheduleAfter(double delaySeconds, double intervalSeconds, double leewaySeconds) override;
    void scheduleAtWallTime(double wallTime, double intervalSeconds, double leewaySeconds) override;

private:
    void arm(ClockKind kind, int64_t deadline, double interval, double leeway);
    void armLocked();
    void fired(uint64_t generation);
    void cancelLocked() override;

    ClockKind kind_ = ClockKind::Monotonic;
    int64_t deadline_ = 0;  // nanoseconds on the clock of kind_
    int64_t interval_ = 0;  // nanoseconds; 0 for a one-shot timer
    double leeway_ = 0;  // kept for the record: deadlines are met as soon as they are due
    bool armed_ = false;
    uint64_t entry_ = 0;
    uint64_t generation_ = 0;
};

}  // namespace telvo::dispatch::detail
