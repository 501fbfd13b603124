#include "platform/dispatch/detail/Scheduler.h"

#include <algorithm>
#include <chrono>
#include "platform/dispatch/detail/Threads.h"
#include "platform/time/Clock.h"

namespace telvo::dispatch::detail {

using platform::Clock;

Scheduler& Scheduler::instance() {
    // Never destroyed: threads may still use it while the process exits.
    static Scheduler* scheduler = new Scheduler();
    return *scheduler;
}

Scheduler::Scheduler() {
    startThread("telvo-timers", [this] { threadMain(); });
}

uint64_t Scheduler::add(ClockKind kind, int64_t deadline, Fire fire) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The thread sleeps until the earliest deadline; only an entry due before it (or the
    // first wall-clock entry, which sets the thread's one-second checks going) needs it woken.
    // Sockets arm and cancel a time-out timer for every read and write, mostly far later.
    const std::optional<double> earliest = nextMonotonicLocked();
    const bool firstWall = kind == ClockKind::Wall && wall_.empty();
    uint64_t id = nextId_++;
    Key key{deadline, id};
    (kind == ClockKind::Monotonic ? monotonic_ : wall_).emplace(key, std::move(fire));
    index_.emplace(id, std::make_pair(kind, key));
    const double asMonotonic = kind == ClockKind::Monotonic ? deadline : deadline - (Clock::now() - Clock::monotonic());
    if (!earliest || asMonotonic < *earliest || firstWall) notifyLocked();
    return id;
}

bool Scheduler::remove(uint64_t id) {
    Fire dropped;  // destroyed after the lock is released
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(id);
    if (it == index_.end()) return false;
    auto& table = it->second.first == ClockKind::Monotonic ? monotonic_ : wall_;
    auto entry = table.find(it->second.second);
    if (entry != table.end()) {
        dropped = std::move(entry->second);
        table.erase(entry);
    }
    index_.erase(it);
    // No wake: a thread sleeping towards this entry's deadline wakes then, finds nothing due
    // and sleeps on towards the next.
    return true;
}

void Scheduler::notifyLocked() {
    // In virtual mode the thread sleeps until the mode changes; waking it for every entry
    // would only cost time.
    if (Clock::isVirtual()) return;
    ++changes_;
    cv_.notify_all();
}

void Scheduler::kick() {
    // In real time add() has woken the thread already when the new entry is the earliest.
    if (Clock::isVirtual()) fireDue();
}

void Scheduler::clockChanged() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++changes_;
    cv_.notify_all();
}

bool Scheduler::popDueLocked(Fire& fire) {
    const int64_t mono = Clock::monotonicNanos();
    const int64_t wall = Clock::nowNanos();
    bool monoDue = !monotonic_.empty() && monotonic_.begin()->first.first <= mono;
    bool wallDue = !wall_.empty() && wall_.begin()->first.first <= wall;
    if (!monoDue && !wallDue) return false;
    std::map<Key, Fire>* table;
    if (monoDue && wallDue) {
        // Both due: the one that fell due first goes first.
        const int64_t monoLate = mono - monotonic_.begin()->first.first;
        const int64_t wallLate = wall - wall_.begin()->first.first;
        table = monoLate >= wallLate ? &monotonic_ : &wall_;
    } else {
        table = monoDue ? &monotonic_ : &wall_;
    }
    auto it = table->begin();
    fire = std::move(it->second);
    index_.erase(it->first.second);
    table->erase(it);
    return true;
}

void Scheduler::fireDue() {
    for (;;) {
        Fire fire;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!popDueLocked(fire)) return;
        }
        if (fire) fire();
    }
}

std::optional<int64_t> Scheduler::nextMonotonicLocked() const {
    std::optional<int64_t> next;
    if (!monotonic_.empty()) next = monotonic_.begin()->first.first;
    if (!wall_.empty()) {
        const int64_t asMonotonic = wall_.begin()->first.first - (Clock::nowNanos() - Clock::monotonicNanos());
        next = next ? std::min(*next, asMonotonic) : asMonotonic;
    }
    return next;
}

std::optional<int64_t> Scheduler::nextMonotonicDeadline() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nextMonotonicLocked();
}

std::optional<std::pair<ClockKind, int64_t>> Scheduler::nextDeadline() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<std::pair<ClockKind, int64_t>> next;
    if (!monotonic_.empty()) next = std::make_pair(ClockKind::Monotonic, monotonic_.begin()->first.first);
    if (!wall_.empty()) {
        const int64_t wall = wall_.begin()->first.first;
        const int64_t asMonotonic = wall - (Clock::nowNanos() - Clock::monotonicNanos());
        if (!next || asMonotonic < next->second) next = std::make_pair(ClockKind::Wall, wall);
    }
    return next;
}

size_t Scheduler::size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.size();
}

void Scheduler::clear() {
    std::map<Key, Fire> monotonic, wall;
    std::lock_guard<std::mutex> lock(mutex_);
    monotonic.swap(monotonic_);
    wall.swap(wall_);
    index_.clear();
    ++changes_;
    cv_.notify_all();
}

void Scheduler::threadMain() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        uint64_t seen = changes_;
        auto changed = [&] { return changes_ != seen; };
        if (Clock::isVirtual()) {
            // Virtual time moves only through Clock::advance, which fires on its own thread.
            cv_.wait(lock, changed);
            continue;
        }
        auto next = nextMonotonicLocked();
        if (!next) {
            cv_.wait(lock, changed);
            continue;
        }
        const int64_t waitNanos = *next - Clock::monotonicNanos();
        if (waitNanos <= 0) {
            lock.unlock();
            fireDue();
            lock.lock();
            continue;
        }
        // Wall-clock deadlines are re-checked at least once a second so that a clock step
        // is noticed.
        double wait = Clock::toSeconds(waitNanos);
        if (!wall_.empty()) wait = std::min(wait, 1.0);
        wait = std::min(wait, 3600.0);
        cv_.wait_for(lock, std::chrono::duration<double>(wait), changed);
    }
}

}  // namespace telvo::dispatch::detail
