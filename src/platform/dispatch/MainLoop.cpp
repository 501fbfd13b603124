#include "platform/dispatch/MainLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include "platform/dispatch/detail/Activity.h"
#include "platform/dispatch/detail/Context.h"
#include "platform/dispatch/detail/MainQueue.h"
#include "platform/dispatch/detail/Scheduler.h"
#include "platform/time/Clock.h"

namespace telvo::dispatch {

using platform::Clock;
using Steady = std::chrono::steady_clock;

void MainLoop::runForever() {
    detail::setMainThread();
    auto& queue = detail::MainQueue::instance();
    for (;;) {
        if (!queue.runOne()) queue.wait(false, std::nullopt);
    }
}

int MainLoop::runUntilIdle() {
    detail::setMainThread();
    auto& queue = detail::MainQueue::instance();
    int ran = 0;
    for (;;) {
        while (queue.runOne()) ++ran;
        if (!queue.wait(true, std::nullopt)) return ran;
    }
}

void MainLoop::runFor(double seconds) {
    if (!Clock::isVirtual()) {
        // Real time: serve the main queue for that long.
        runUntil([] { return false; }, seconds);
        return;
    }
    auto& scheduler = detail::Scheduler::instance();
    // In whole nanoseconds, as the deadlines are: a timer due exactly at the end fires.
    const int64_t end = Clock::addNanos(Clock::monotonicNanos(), Clock::toNanos(std::max(0.0, seconds)));
    for (;;) {
        runUntilIdle();
        const int64_t now = Clock::monotonicNanos();
        auto next = scheduler.nextMonotonicDeadline();
        if (!next || *next > end) {
            Clock::advanceNanos(end - now);
            runUntilIdle();
            return;
        }
        Clock::advanceNanos(*next - now);
    }
}

bool MainLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    detail::setMainThread();
    auto& queue = detail::MainQueue::instance();
    // Anything beyond a few months is as good as forever (and keeps the arithmetic in range).
    double timeout = std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, 1e7);
    const auto deadline =
        Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(timeout));
    for (;;) {
        if (predicate()) return true;
        if (queue.runOne()) continue;
        auto now = Steady::now();
        if (now >= deadline) return predicate();
        // Short slices: the predicate may watch state that other threads change.
        queue.wait(false, std::min(deadline, now + std::chrono::milliseconds(5)));
    }
}

void MainLoop::setWakeHandler(std::function<void()> handler) {
    detail::MainQueue::instance().setWakeHandler(std::move(handler));
}

uint64_t MainLoop::currentBlockNumber() { return detail::MainQueue::currentBlockNumber(); }

uint64_t MainLoop::blocksStarted() { return detail::MainQueue::blocksStarted(); }

int MainLoop::runPending() {
    detail::setMainThread();
    auto& queue = detail::MainQueue::instance();
    size_t pending = queue.queuedCount();
    int ran = 0;
    while (pending-- > 0 && queue.runOne()) ++ran;
    return ran;
}

void MainLoop::exitProcess(int status) {
    std::fflush(nullptr);
    std::exit(status);
}

void MainLoop::resetForTesting() {
    auto& queue = detail::MainQueue::instance();
    const auto deadline = Steady::now() + std::chrono::seconds(5);
    queue.clear();
    while (detail::activity() > 0 && Steady::now() < deadline) {
        // Syncs onto the main queue from the draining blocks still get served.
        while (queue.runOne()) {
        }
        queue.wait(true, Steady::now() + std::chrono::milliseconds(10));
        queue.clear();
    }
    queue.clear();
    queue.setWakeHandler(nullptr);
    detail::Scheduler::instance().clear();
    Clock::resetForTesting();
}

}  // namespace telvo::dispatch
