#pragma once
// Slows down the guessing of passcodes: after a few wrong passcodes on one session or from one
// address, each further rejection is answered later, the delay doubling up to a limit. A right
// passcode clears the address's count. Counts of an address are forgotten after a quiet spell.
#include <map>
#include <mutex>
#include <string>

namespace telvo {

class PasscodeThrottle {
public:
    static constexpr int kFreeAttempts = 3;
    static constexpr double kFirstDelay = 1.0;
    static constexpr double kMaximumDelay = 30.0;
    static constexpr double kForgetAfter = 900.0;

    // Records one wrong passcode from `address` (whose session has now failed
    // `sessionFailures` times, this one included) and answers the seconds the rejection
    // waits before it is sent.
    double recordFailure(const std::string& address, int sessionFailures);
    void recordSuccess(const std::string& address);
    int failures(const std::string& address) const;
    // The delay for the n-th failure (1-based).
    static double delayForFailure(int n);
    void reset();

private:
    struct Entry {
        int failures = 0;
        double last = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

}  // namespace telvo
