#include "platform/time/Clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include "platform/dispatch/detail/Scheduler.h"

namespace telvo::platform {

namespace {
constexpr int64_t kNanosPerSecond = 1000000000;

std::atomic<bool> virtualMode{false};
std::atomic<int64_t> virtualWall{0};
std::atomic<int64_t> virtualMonotonic{0};
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

int64_t readNanos(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNanosPerSecond + static_cast<int64_t>(ts.tv_nsec);
}

// A test setting for the whole program: TELVO_TEST_CLOCK_OFFSET_FILE names a file holding a
// number of seconds added to the real wall clock, read again at most twice a second, so that a
// test steps a running daemon's clock (a day ahead, an hour back) without touching the
// machine's. Unset, the real clock is read as it is.
class WallOffset {
public:
    static WallOffset& instance() {
        static WallOffset* offset = new WallOffset();
        return *offset;
    }
    int64_t nanos() {
        if (path_.empty()) return 0;
        const int64_t mono = readNanos(CLOCK_MONOTONIC);
        if (mono >= nextRead_.load(std::memory_order_acquire)) {
            std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
            if (lock.owns_lock() && mono >= nextRead_.load()) {
                if (FILE* f = std::fopen(path_.c_str(), "r")) {
                    double seconds = 0;
                    if (std::fscanf(f, "%lf", &seconds) == 1 && std::isfinite(seconds))
                        offset_.store(Clock::toNanos(seconds), std::memory_order_release);
                    std::fclose(f);
                }
                nextRead_.store(mono + kNanosPerSecond / 2, std::memory_order_release);
            }
        }
        return offset_.load(std::memory_order_acquire);
    }

private:
    WallOffset() {
        if (const char* p = std::getenv("TELVO_TEST_CLOCK_OFFSET_FILE")) path_ = p;
    }
    std::string path_;
    std::mutex mutex_;
    std::atomic<int64_t> nextRead_{0};
    std::atomic<int64_t> offset_{0};
};
}  // namespace

int64_t Clock::toNanos(double seconds) {
    if (std::isnan(seconds)) return 0;
    constexpr double limit = static_cast<double>(kForeverNanos / kNanosPerSecond);
    if (seconds >= limit) return kForeverNanos;
    if (seconds <= -limit) return -kForeverNanos;
    // Whole seconds and the fraction apart: both are exact, so only the fraction rounds.
    const double whole = std::trunc(seconds);
    const double fraction = seconds - whole;
    return static_cast<int64_t>(whole) * kNanosPerSecond + std::llround(fraction * 1e9);
}

double Clock::toSeconds(int64_t nanos) {
    return static_cast<double>(nanos / kNanosPerSecond) +
           static_cast<double>(nanos % kNanosPerSecond) / static_cast<double>(kNanosPerSecond);
}

int64_t Clock::addNanos(int64_t a, int64_t b) {
    // Both operands are within +-kForeverNanos (a quarter of the range each way past it), so
    // the sum cannot overflow before it is clamped.
    a = std::clamp(a, -kForeverNanos, kForeverNanos);
    b = std::clamp(b, -kForeverNanos, kForeverNanos);
    return std::clamp(a + b, -kForeverNanos, kForeverNanos);
}

double Clock::now() {
    if (virtualMode.load(std::memory_order_acquire)) return toSeconds(virtualWall.load(std::memory_order_acquire));
    const int64_t offset = WallOffset::instance().nanos();
    return offset == 0 ? read(CLOCK_REALTIME) : toSeconds(readNanos(CLOCK_REALTIME) + offset);
}

double Clock::monotonic() {
    if (virtualMode.load(std::memory_order_acquire))
        return toSeconds(virtualMonotonic.load(std::memory_order_acquire));
    return read(CLOCK_MONOTONIC);
}

double Clock::sinceBoot() {
    if (virtualMode.load(std::memory_order_acquire))
        return toSeconds(virtualMonotonic.load(std::memory_order_acquire));
    return read(CLOCK_BOOTTIME);
}

int64_t Clock::nowNanos() {
    if (virtualMode.load(std::memory_order_acquire)) return virtualWall.load(std::memory_order_acquire);
    return readNanos(CLOCK_REALTIME) + WallOffset::instance().nanos();
}

int64_t Clock::monotonicNanos() {
    if (virtualMode.load(std::memory_order_acquire)) return virtualMonotonic.load(std::memory_order_acquire);
    return readNanos(CLOCK_MONOTONIC);
}

void Clock::useVirtual(double start) {
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualWall.store(toNanos(start));
        // Monotonic time carries on from where it is, so that deadlines armed before the
        // switch keep their distance and the clock never runs backwards.
        int64_t mono = virtualMode.load() ? virtualMonotonic.load() : readNanos(CLOCK_MONOTONIC);
        virtualMonotonic.store(std::max(mono, readNanos(CLOCK_MONOTONIC)));
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
    if (!isVirtual()) return;
    advanceNanos(seconds > 0 && std::isfinite(seconds) ? toNanos(seconds) : 0);
}

void Clock::advanceNanos(int64_t nanos) {
    if (!isVirtual()) return;
    auto& scheduler = dispatch::detail::Scheduler::instance();
    if (nanos <= 0) {
        scheduler.fireDue();
        return;
    }
    std::lock_guard<std::mutex> lock(advanceMutex());
    const int64_t target = addNanos(virtualMonotonic.load(), nanos);
    // Step to each deadline in turn so that a fired block sees the time it was due at.
    for (;;) {
        scheduler.fireDue();
        auto next = scheduler.nextDeadline();
        if (!next) break;
        const int64_t mono = virtualMonotonic.load();
        const int64_t wall = virtualWall.load();
        if (next->first == dispatch::detail::ClockKind::Monotonic) {
            if (next->second > target) break;
            if (next->second > mono) {
                virtualWall.store(addNanos(wall, next->second - mono));
                virtualMonotonic.store(next->second);
            }
        } else {
            const int64_t step = next->second - wall;
            if (addNanos(mono, step) > target) break;
            // Land exactly on the wall deadline so that it counts as due.
            if (step > 0) {
                virtualWall.store(next->second);
                virtualMonotonic.store(mono + step);
            }
        }
    }
    const int64_t rest = target - virtualMonotonic.load();
    if (rest > 0) {
        virtualWall.store(addNanos(virtualWall.load(), rest));
        virtualMonotonic.store(target);
    }
    scheduler.fireDue();
}

void Clock::setVirtualNow(double wallTime) {
    if (!isVirtual() || !std::isfinite(wallTime)) return;
    const int64_t wall = toNanos(wallTime);
    const int64_t delta = wall - nowNanos();
    if (delta > 0) {
        advanceNanos(delta);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualWall.store(wall);
    }
    dispatch::detail::Scheduler::instance().fireDue();
}

void Clock::stepVirtualWall(double seconds) {
    if (!isVirtual() || !std::isfinite(seconds)) return;
    {
        std::lock_guard<std::mutex> lock(advanceMutex());
        virtualWall.store(addNanos(virtualWall.load(), toNanos(seconds)));
    }
    dispatch::detail::Scheduler::instance().fireDue();
}

void Clock::resetForTesting() { useReal(); }

}  // namespace telvo::platform
