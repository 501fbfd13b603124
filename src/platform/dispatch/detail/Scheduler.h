#pragma once
// The deadline table behind delayed blocks and timer sources. Entries fire in deadline order
// against the process clock: a thread waits for the next one in real mode; in virtual mode
// Clock::advance fires them as virtual time reaches them. Deadlines are whole nanoseconds on
// the clock's nanosecond scale (Clock::monotonicNanos, Clock::nowNanos).
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace telvo::dispatch::detail {

enum class ClockKind { Monotonic, Wall };

class Scheduler {
public:
    using Fire = std::function<void()>;

    static Scheduler& instance();

    // Adds an entry due at `deadline` on the given clock; answers its id. `fire` runs on the
    // scheduler's thread (or inside Clock::advance / kick) with no lock of the scheduler held;
    // it must only queue work. Call kick() afterwards, outside the caller's own locks.
    uint64_t add(ClockKind kind, int64_t deadline, Fire fire);
    // Removes an entry that has not fired yet; answers whether it was there.
    bool remove(uint64_t id);
    // Fires what is due now (virtual mode); in real time add() has woken the thread already
    // when the new entry is due before every other, so this does nothing.
    void kick();
    // Fires every entry due on the current clock, earliest first, including entries added
    // by the fired ones while they are due.
    void fireDue();
    // The earliest deadline expressed on the monotonic clock, if any entry is waiting.
    std::optional<int64_t> nextMonotonicDeadline();
    // The earliest entry's clock and deadline on that clock, if any entry is waiting.
    std::optional<std::pair<ClockKind, int64_t>> nextDeadline();
    // The clock changed mode or stepped: re-evaluate.
    void clockChanged();
    size_t size();
    // Drops every waiting entry.
    void clear();

private:
    Scheduler();
    struct Entry {
        ClockKind kind;
        int64_t deadline;
        Fire fire;
    };
    using Key = std::pair<int64_t, uint64_t>;
    bool popDueLocked(Fire& fire);
    void notifyLocked();
    std::optional<int64_t> nextMonotonicLocked() const;
    void threadMain();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<Key, Fire> monotonic_;
    std::map<Key, Fire> wall_;
    std::unordered_map<uint64_t, std::pair<ClockKind, Key>> index_;
    uint64_t nextId_ = 1;
    uint64_t changes_ = 0;
};

}  // namespace telvo::dispatch::detail
