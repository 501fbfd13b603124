#pragma once
// Decides when a passcode guess may be checked. Guesses wait, unchecked, for their turn: per
// source address a few failures are free, then each further check waits longer (1, 2, 4 ...
// up to 30 s after the one before); across all addresses, once many failures fall within a
// minute, at most one check every few seconds until a minute passes without a failure. Only a
// few guesses may wait per address. A right passcode clears its address's failures; counts of
// an address are forgotten after a quiet spell. All state lives here, on the process clock.
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace telvo {

class PasscodeThrottle {
public:
    // Per address.
    static constexpr int kFreeAttempts = 3;
    static constexpr double kFirstDelay = 1.0;
    static constexpr double kMaximumDelay = 30.0;
    static constexpr int kMaximumWaiting = 4;
    static constexpr double kForgetAfter = 900.0;
    // Across all addresses.
    static constexpr int kGlobalFailures = 20;
    static constexpr double kGlobalWindow = 60.0;
    static constexpr double kGlobalInterval = 3.0;

    using Ticket = uint64_t;

    enum class Turn {
        kCheckNow,  // the guess has left the queue: check it and report with recordResult
        kWait,      // not yet; ask again after the seconds given
        kUnknown,   // no such waiting guess (cancelled, or the throttle was reset)
    };

    // Queues a guess from `address`; none when that address already has kMaximumWaiting.
    std::optional<Ticket> enqueue(const std::string& address);
    // Whether the guess may be checked now; with kWait, `*wait` holds the seconds until it is
    // worth asking again.
    Turn admit(const std::string& address, Ticket ticket, double* wait = nullptr);
    // The result of a check that admit allowed.
    void recordResult(const std::string& address, bool right);
    // Drops a waiting guess unchecked (its connection closed).
    void cancel(const std::string& address, Ticket ticket);

    int failures(const std::string& address) const;
    int waiting(const std::string& address) const;
    // True while the global budget limits checks.
    bool globallyLimited() const;
    // Checks allowed since creation (or the last reset).
    long checks() const;
    // The gap after the n-th failure of an address (1-based) before its next check.
    static double delayForFailure(int n);
    void reset();

private:
    struct Entry {
        int failures = 0;
        double last = 0;       // last check or enqueue
        double nextCheck = 0;  // earliest time of the next check
        std::deque<Ticket> waiting;
    };
    void forgetQuietLocked(double now);
    void updateGlobalLocked(double now);

    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    std::deque<double> globalFailures_;  // times of failures within the window
    double lastFailure_ = -1e300;
    bool globallyLimited_ = false;
    double globalNextCheck_ = 0;
    Ticket nextTicket_ = 1;
    long checks_ = 0;
};

}  // namespace telvo
