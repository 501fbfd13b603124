#pragma once
// Keeps lines about clients that are not authorised from filling the daemon's log: per
// address (or other key, such as a local caller's user) only a few such lines a minute are
// written; the rest are counted, and once the minute is over one line says how many were
// left out.
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace telvo {

class PeerLogLimiter : public std::enable_shared_from_this<PeerLogLimiter> {
public:
    static constexpr int kLinesPerMinute = 16;
    static constexpr double kWindow = 60.0;
    // Entries kept at most; beyond, the oldest ended windows are summarised and dropped early.
    static constexpr size_t kMaximumAddresses = 4096;

    // `subject` names what a key stands for in the summary line ("this host").
    explicit PeerLogLimiter(std::string subject = "this host") : subject_(std::move(subject)) {}

    // True when a line about `address` may be written now; false counts it as left out.
    bool allow(const std::string& address);
    // Writes the summary line of every window that has ended (also run by a timer a minute
    // after the first line left out).
    void flush();
    long leftOut(const std::string& address) const;

private:
    struct Entry {
        double start = 0;
        int lines = 0;
        long suppressed = 0;
    };
    void flushLocked(double now, bool all);
    void scheduleFlushLocked();

    std::string subject_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    bool flushScheduled_ = false;
};

}  // namespace telvo
