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

void PasscodeThrottle::forgetQuietLocked(double now) {
    for (auto it = entries_.begin(); it != entries_.end();)
        it = it->second.waiting.empty() && now - it->second.last > kForgetAfter ? entries_.erase(it) : std::next(it);
}

void PasscodeThrottle::updateGlobalLocked(double now) {
    while (!globalFailures_.empty() && now - globalFailures_.front() >= kGlobalWindow) globalFailures_.pop_front();
    if (globallyLimited_ && now - lastFailure_ >= kGlobalWindow) globallyLimited_ = false;
}

std::optional<PasscodeThrottle::Ticket> PasscodeThrottle::enqueue(const std::string& address) {
    std::lock_guard lock(mutex_);
    double now = platform::Clock::monotonic();
    forgetQuietLocked(now);
    Entry& entry = entries_[address];
    if (int(entry.waiting.size()) >= kMaximumWaiting) return std::nullopt;
    entry.last = now;
    Ticket ticket = nextTicket_++;
    entry.waiting.push_back(ticket);
    return ticket;
}

PasscodeThrottle::Turn PasscodeThrottle::admit(const std::string& address, Ticket ticket, double* wait) {
    std::lock_guard lock(mutex_);
    double now = platform::Clock::monotonic();
    auto it = entries_.find(address);
    if (it == entries_.end()) return Turn::kUnknown;
    Entry& entry = it->second;
    auto position = std::find(entry.waiting.begin(), entry.waiting.end(), ticket);
    if (position == entry.waiting.end()) return Turn::kUnknown;
    updateGlobalLocked(now);
    double opens = entry.nextCheck;
    if (globallyLimited_) opens = std::max(opens, globalNextCheck_);
    if (position != entry.waiting.begin() || opens > now) {
        // Behind another guess of its address: that one goes first, then this one's gap.
        if (wait) *wait = std::max(opens - now, position != entry.waiting.begin() ? kFirstDelay : 0.0);
        return Turn::kWait;
    }
    entry.waiting.pop_front();
    entry.last = now;
    if (globallyLimited_) globalNextCheck_ = now + kGlobalInterval;
    ++checks_;
    return Turn::kCheckNow;
}

void PasscodeThrottle::recordResult(const std::string& address, bool right) {
    std::lock_guard lock(mutex_);
    double now = platform::Clock::monotonic();
    Entry& entry = entries_[address];
    entry.last = now;
    if (right) {
        entry.failures = 0;
        entry.nextCheck = 0;
        return;
    }
    entry.failures += 1;
    entry.nextCheck = now + delayForFailure(entry.failures + 1);
    updateGlobalLocked(now);
    globalFailures_.push_back(now);
    lastFailure_ = now;
    if (!globallyLimited_ && int(globalFailures_.size()) >= kGlobalFailures) {
        globallyLimited_ = true;
        globalNextCheck_ = now + kGlobalInterval;
    }
}

void PasscodeThrottle::cancel(const std::string& address, Ticket ticket) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    if (it == entries_.end()) return;
    auto& waiting = it->second.waiting;
    waiting.erase(std::remove(waiting.begin(), waiting.end(), ticket), waiting.end());
}

int PasscodeThrottle::failures(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    return it == entries_.end() ? 0 : it->second.failures;
}

int PasscodeThrottle::waiting(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(address);
    return it == entries_.end() ? 0 : int(it->second.waiting.size());
}

bool PasscodeThrottle::globallyLimited() const {
    std::lock_guard lock(mutex_);
    return globallyLimited_ && platform::Clock::monotonic() - lastFailure_ < kGlobalWindow;
}

long PasscodeThrottle::checks() const {
    std::lock_guard lock(mutex_);
    return checks_;
}

void PasscodeThrottle::reset() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    globalFailures_.clear();
    lastFailure_ = -1e300;
    globallyLimited_ = false;
    globalNextCheck_ = 0;
    checks_ = 0;
}

}  // namespace telvo
