#pragma once
// What every kind of source shares: suspend counts, delivery of one event block at a time
// to the target queue, and cancellation whose handler runs once, after a running event
// handler has returned and only while the source is not suspended.
#include <atomic>
#include <mutex>
#include "platform/dispatch/Source.h"

namespace telvo::dispatch::detail {

class SourceBase : public Source {
public:
    SourceBase(QueuePtr queue, int handle);

    void scheduleAfter(double, double, double) override {}
    void scheduleAtWallTime(double, double, double) override {}
    void resume() override;
    void suspend() override;
    void cancel() override;
    bool isCancelled() const override;
    size_t data() const override { return data_.load(std::memory_order_acquire); }
    int handle() const override { return handle_; }

    void setEventHandlerImpl(Block handler);
    void setCancelHandlerImpl(Block handler);

protected:
    // Hooks, called with mutex_ held.
    virtual void activateLocked() {}
    virtual void cancelLocked() {}
    // Suspension, resumption or the end of a handler changed what the source waits for.
    virtual void stateChangedLocked() {}
    // Timers and signals keep an event that arrived while suspended; descriptor sources
    // look at the descriptor again on resume instead.
    virtual bool keepsEventWhileSuspended() const { return true; }

    // Records an event (adding to or replacing the pending data) and delivers it if it can.
    void eventLocked(size_t data, bool accumulate);
    // While set, a delivery is only marked (deliveryDeferred_), for deliverHereOrQueue()
    // once the lock is released.
    bool deferDelivery_ = false;
    bool deliveryDeferred_ = false;
    // Runs the marked delivery on this thread when the target queue is an idle serial queue
    // served by the event thread, else queues it. Called without the lock.
    void deliverHereOrQueue();
    // Active, resumed, not cancelled and no event block queued or running.
    bool watchingLocked() const { return activated_ && !cancelled_ && suspendCount_ == 0 && !inFlight_; }

    mutable std::mutex mutex_;
    const QueuePtr queue_;
    const int handle_;
    bool cancelled_ = false;

private:
    void deliverLocked();
    void runEvent();
    void cancelIfDueLocked();

    int suspendCount_ = 1;
    bool activated_ = false;
    bool inFlight_ = false;
    bool pendingEvent_ = false;
    bool cancelQueued_ = false;
    size_t pendingData_ = 0;
    std::atomic<size_t> data_{0};
};

}  // namespace telvo::dispatch::detail
