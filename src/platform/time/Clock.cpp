#include "platform/time/Clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include "platform/dispatch/detail/Scheduler.h"

namespace telvo::platform {

namespace {
std::atomic<bool> virtualMode{false};
std::atomic<double> virtualWall{0};
std::atomic<double> virtualMonotonic{0};
// Serialises advances so that entries fire in deadline order.
std::mutex& advanceMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

double read(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
}  // namespace

double Clock::now() {
    if (virtualMode.load(std::memory_order_acquire)) return virtualWall.load(std::memory_order_acquire);
    return read(CLOCK_REALTIME);
}

double Clock::monotonic() {
    if (virtualMode.load(std::memory_order_acquire)) return virtualMonotonic.load(std::memory_order_acquire);
    return read(CLOCK_MONOTONIC);
}

void Clock::useVirtual(double start) {
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualWall.store(start);
        // Monotonic time carries on from where it is, so that deadlines armed before the
        // switch keep their distance and the clock never runs backwards.
        double mono = virtualMode.load() ? virtualMonotonic.load() : read(CLOCK_MONOTONIC);
        virtualMonotonic.store(std::max(mono, read(CLOCK_MONOTONIC)));
        virtualMode.store(true, std::memory_order_release);
    }
    dispatch::detail::Scheduler::instance().clockChanged();
}

void Clock::useReal() {
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualMode.store(false, std::memory_order_release);
    }
    dispatch::detail::Scheduler::instance().clockChanged();
}

bool Clock::isVirtual() { return virtualMode.load(std::memory_order_acquire); }

void Clock::advance(double seconds) {
    if (!isVirtual() || !(seconds > 0) || !std::isfinite(seconds)) {
        if (isVirtual()) dispatch::detail::Scheduler::instance().fireDue();
        return;
    }
    auto& scheduler = dispatch::detail::Scheduler::instance();
    std::lock_guard<std::mutex> lock(advanceMutex());
    const double target = virtualMonotonic.load() + seconds;
    // Step to each deadline in turn so that a fired block sees the time it was due at.
    for (;;) {
        scheduler.fireDue();
        auto next = scheduler.nextDeadline();
        if (!next) break;
        double mono = virtualMonotonic.load();
        double wall = virtualWall.load();
        if (next->first == dispatch::detail::ClockKind::Monotonic) {
            if (next->second > target) break;
            if (next->second > mono) {
                virtualWall.store(wall + (next->second - mono));
                virtualMonotonic.store(next->second);
            }
        } else {
            double step = next->second - wall;
            if (mono + step > target) break;
            // Land exactly on the wall deadline so that it counts as due.
            if (step > 0) {
                virtualWall.store(next->second);
                virtualMonotonic.store(mono + step);
            }
        }
    }
    double rest = target - virtualMonotonic.load();
    if (rest > 0) {
        virtualWall.store(virtualWall.load() + rest);
        virtualMonotonic.store(target);
    }
    scheduler.fireDue();
}

void Clock::setVirtualNow(double wallTime) {
    if (!isVirtual() || !std::isfinite(wallTime)) return;
    double delta = wallTime - now();
    if (delta > 0) {
        advance(delta);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualWall.store(wallTime);
    }
    dispatch::detail::Scheduler::instance().fireDue();
}

void Clock::resetForTesting() { useReal(); }

}  // namespace telvo::platform
