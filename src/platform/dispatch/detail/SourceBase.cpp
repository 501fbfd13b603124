#include "platform/dispatch/detail/SourceBase.h"

#include <unordered_map>

#include "platform/dispatch/detail/SerialQueue.h"

namespace telvo::dispatch::detail {

namespace {
// Every resumed source that has not been cancelled yet, as the platform keeps them: alive
// without an owner, and reachable from here rather than only from themselves.
struct ActiveSources {
    std::mutex mutex;
    std::unordered_map<Source*, SourcePtr> sources;
};
ActiveSources& active() {
    static ActiveSources* sources = new ActiveSources();
    return *sources;
}
void retain(SourcePtr source) {
    auto& a = active();
    std::lock_guard<std::mutex> lock(a.mutex);
    Source* key = source.get();
    a.sources.emplace(key, std::move(source));
}
SourcePtr release(Source* source) {
    auto& a = active();
    std::lock_guard<std::mutex> lock(a.mutex);
    auto it = a.sources.find(source);
    if (it == a.sources.end()) return nullptr;
    SourcePtr kept = std::move(it->second);
    a.sources.erase(it);
    return kept;
}
}  // namespace

SourceBase::SourceBase(QueuePtr queue, int handle) : queue_(std::move(queue)), handle_(handle) {}

void SourceBase::setEventHandlerImpl(Block handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cancelled_) eventHandler_ = std::move(handler);
}

void SourceBase::setCancelHandlerImpl(Block handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cancelQueued_) cancelHandler_ = std::move(handler);
}

bool SourceBase::isCancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

void SourceBase::resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (suspendCount_ == 0) return;  // unbalanced resume: ignored
    if (--suspendCount_ > 0) return;
    if (cancelled_) {
        cancelIfDueLocked();
        return;
    }
    if (!activated_) {
        activated_ = true;
        retain(shared_from_this());
        activateLocked();
    }
    deliverLocked();
    stateChangedLocked();
}

void SourceBase::suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++suspendCount_;
    stateChangedLocked();
}

void SourceBase::cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    cancelLocked();
    cancelIfDueLocked();
}

void SourceBase::eventLocked(size_t data, bool accumulate) {
    if (cancelled_) return;
    pendingData_ = accumulate ? pendingData_ + data : data;
    pendingEvent_ = true;
    deliverLocked();
}

void SourceBase::deliverLocked() {
    if (!pendingEvent_ || !watchingLocked()) return;
    inFlight_ = true;
    if (deferDelivery_) {
        deliveryDeferred_ = true;
        return;
    }
    auto self = std::static_pointer_cast<SourceBase>(shared_from_this());
    queue_->async([self] { self->runEvent(); });
}

void SourceBase::deliverHereOrQueue() {
    auto self = std::static_pointer_cast<SourceBase>(shared_from_this());
    auto* serial = dynamic_cast<SerialQueue*>(queue_.get());
    if (serial && serial->runIfIdle([&self] { self->runEvent(); })) return;
    queue_->async([self] { self->runEvent(); });
}

void SourceBase::runEvent() {
    Block handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) {
            inFlight_ = false;
            pendingEvent_ = false;
            cancelIfDueLocked();
            return;
        }
        if (suspendCount_ > 0) {
            inFlight_ = false;
            if (!keepsEventWhileSuspended()) pendingEvent_ = false;
            stateChangedLocked();
            return;
        }
        data_.store(pendingData_, std::memory_order_release);
        pendingData_ = 0;
        pendingEvent_ = false;
        handler = eventHandler_;
    }
    if (handler) handler();
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_ = false;
    if (cancelled_) {
        cancelIfDueLocked();
        return;
    }
    deliverLocked();
    stateChangedLocked();
}

void SourceBase::cancelIfDueLocked() {
    if (!cancelled_ || cancelQueued_ || inFlight_ || suspendCount_ > 0) return;
    cancelQueued_ = true;
    // The handlers go with the block, so whatever they hold is released on the target
    // queue once the cancel handler has run.
    Block onCancel = std::move(cancelHandler_);
    Block onEvent = std::move(eventHandler_);
    cancelHandler_ = nullptr;
    eventHandler_ = nullptr;
    SourcePtr keep = release(this);
    if (!keep) keep = shared_from_this();
    queue_->async([onCancel = std::move(onCancel), onEvent = std::move(onEvent), keep = std::move(keep)] {
        if (onCancel) onCancel();
    });
}

}  // namespace telvo::dispatch::detail
