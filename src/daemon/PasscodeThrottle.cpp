#include "daemon/PasscodeThrottle.h"

#include <algorithm>
#include <cmath>

#include "platform/time/Clock.h"

namespace telvo {

double PasscodeThrottle::delayForFailure(int n) {
    if (n <= kFreeAttempts) return 0;
    double delay = kFirstDelay * std::pow(2.0, std::min(n - kFreeAttempts - 1, 30));
    return std::min(delay, kMaximumDelay);
}

double PasscodeThrottle::recordFailure(const std::string& address, int sessionFailures) {
    std::lock_guard lock(mutex_);
    double now = platform::Clock::now();
    for (auto it = entries_.begin(); it != entries_.end();)
        it = now - it->second.last > kForgetAfter ? entries_.erase(it) : std::next(it);
    Entry& entry = entries_[address];
    entry.failures += 1;
    entry.last = now;
    return delayForFailure(std::max(entry.failures, sessionFailures));
}

void PasscodeThrottle::recordSuccess(const std::string& address) {
    std::lock_guard lock(mutex_);
    entries_.erase(address);
}

int PasscodeThrottle::failures(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    return it == entries_.end() ? 0 : it->second.failures;
}

void PasscodeThrottle::reset() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace telvo
