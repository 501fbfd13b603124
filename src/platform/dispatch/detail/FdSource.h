#pragma once
// Read, write and signal sources: a descriptor watched by the event thread.
#include <cstdint>
#include "platform/dispatch/detail/EventLoop.h"
#include "platform/dispatch/detail/SourceBase.h"

namespace telvo::dispatch::detail {

class FdSource final : public SourceBase, public FdWatcher {
public:
    enum class Kind { Read, Write, Signal };
    // For Signal, `fd` is the signalfd (owned and closed here) and `handle` the signal.
    FdSource(Kind kind, int fd, int handle, QueuePtr queue);
    ~FdSource() override;

    void onReady(uint32_t events) override;

private:
    void readyLocked(uint32_t events);
    void activateLocked() override;
    void cancelLocked() override;
    void stateChangedLocked() override;
    bool keepsEventWhileSuspended() const override { return kind_ == Kind::Signal; }
    uint32_t interest() const;

    const Kind kind_;
    int fd_;
    uint64_t watch_ = 0;
};

}  // namespace telvo::dispatch::detail
