#include "platform/dispatch/Queue.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include "platform/dispatch/detail/Context.h"
#include "platform/dispatch/detail/GlobalQueue.h"
#include "platform/dispatch/detail/MainQueue.h"
#include "platform/dispatch/detail/QueueAccess.h"
#include "platform/dispatch/detail/Scheduler.h"
#include "platform/dispatch/detail/SerialQueue.h"
#include "platform/time/Clock.h"

namespace telvo::dispatch {

struct Queue::Specifics {
    mutable std::mutex mutex;
    std::unordered_map<const void*, void*> values;
};

void QueueAccess::initialise(Queue& queue) { queue.specifics_ = std::make_shared<Queue::Specifics>(); }

QueuePtr Queue::createSerial(const std::string& label) { return std::make_shared<detail::SerialQueue>(label); }

QueuePtr Queue::main() { return detail::MainQueue::shared(); }

QueuePtr Queue::global() {
    static QueuePtr* queue = new QueuePtr(std::make_shared<detail::GlobalQueue>());
    return *queue;
}

namespace {
// The innermost queue of the calling thread; the main thread outside any block counts as
// running the main queue (start-up code runs there before the main loop does).
Queue* innermost() {
    auto& chain = detail::currentChain();
    if (!chain.empty()) return chain.back();
    if (detail::isMainThread()) return &detail::MainQueue::instance();
    return nullptr;
}
}  // namespace

QueuePtr Queue::current() {
    Queue* queue = innermost();
    return queue ? queue->shared_from_this() : nullptr;
}

bool Queue::isMain() const { return this == &detail::MainQueue::instance(); }

bool Queue::isCurrent() const {
    auto& chain = detail::currentChain();
    if (chain.empty()) return isMain() && detail::isMainThread();
    return std::find(chain.begin(), chain.end(), this) != chain.end();
}

void Queue::setSpecific(const void* key, void* value) {
    std::lock_guard<std::mutex> lock(specifics_->mutex);
    if (value) {
        specifics_->values[key] = value;
    } else {
        specifics_->values.erase(key);
    }
}

void* Queue::specific(const void* key) const {
    std::lock_guard<std::mutex> lock(specifics_->mutex);
    auto it = specifics_->values.find(key);
    return it == specifics_->values.end() ? nullptr : it->second;
}

void* Queue::getSpecific(const void* key) {
    Queue* queue = innermost();
    return queue ? queue->specific(key) : nullptr;
}

void Queue::asyncHereIfIdle(Block block) {
    // Never on the main thread: it carries the collectors' ticks, and a socket's reads and
    // writes (TLS, system calls) need nothing of theirs.
    if (servedByEventThread() && !detail::isMainThread()) {
        if (auto* serial = dynamic_cast<detail::SerialQueue*>(this); serial && serial->runIfIdle(block)) return;
    }
    async(std::move(block));
}

void Queue::after(double seconds, Block block) {
    using platform::Clock;
    // Never, for a delay that is infinite or centuries long.
    const int64_t delay = Clock::toNanos(seconds > 0 ? seconds : 0);
    if (delay >= Clock::kForeverNanos) return;
    const int64_t deadline = Clock::addNanos(Clock::monotonicNanos(), delay);
    if (deadline >= Clock::kForeverNanos) return;
    auto& scheduler = detail::Scheduler::instance();
    QueuePtr self = shared_from_this();
    scheduler.add(detail::ClockKind::Monotonic, deadline,
                  [self, block = std::move(block)]() mutable { self->async(std::move(block)); });
    scheduler.kick();
}

}  // namespace telvo::dispatch
