#include "platform/dispatch/detail/SourceBase.h"

namespace telvo::dispatch::detail {

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
        self_ = shared_from_this();
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
    auto self = std::static_pointer_cast<SourceBase>(shared_from_this());
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
    SourcePtr keep = std::move(self_);
    if (!keep) keep = shared_from_this();
    queue_->async([onCancel = std::move(onCancel), onEvent = std::move(onEvent), keep = std::move(keep)] {
        if (onCancel) onCancel();
    });
}

}  // namespace telvo::dispatch::detail
