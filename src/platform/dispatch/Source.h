#pragma once
// Dispatch sources: timers, signals, descriptor readability and writability. A source is
// created suspended (suspend count 1) and starts delivering after resume(). Its event handler
// runs as a block on its target queue. cancel() stops further events; the cancel handler then
// runs exactly once on the target queue, after any running event handler has returned.
// Suspend and resume count: a source suspended twice needs two resumes.
#include <cstddef>
#include <memory>
#include "platform/dispatch/Queue.h"

namespace telvo::dispatch {

class Source;
using SourcePtr = std::shared_ptr<Source>;

class Source : public std::enable_shared_from_this<Source> {
public:
    virtual ~Source() = default;

    // A timer; arm it with scheduleAfter/scheduleAt before or after resume().
    static SourcePtr createTimer(QueuePtr queue);
    // A signal source (signalfd). The signal is blocked in every thread of the process so
    // that it arrives as a block on `queue`; call this early in main(), before threads start.
    static SourcePtr createSignal(int signo, QueuePtr queue);
    // Readable: data() is the count of readable bytes (FIONREAD; 0 at end of stream);
    // on a listening socket, the handler fires while connections are pending.
    static SourcePtr createRead(int fd, QueuePtr queue);
    // Writable: the handler fires while the descriptor accepts writes.
    static SourcePtr createWrite(int fd, QueuePtr queue);

    void setEventHandler(Block handler);
    void setCancelHandler(Block handler);

    // Timers. One-shot after `delaySeconds` when intervalSeconds <= 0, else repeating.
    // Re-arming replaces the previous deadline. Deadlines follow the process clock.
    virtual void scheduleAfter(double delaySeconds, double intervalSeconds = 0, double leewaySeconds = 0) = 0;
    // One-shot at a wall-clock moment (seconds since 1970).
    virtual void scheduleAtWallTime(double wallTime, double intervalSeconds = 0, double leewaySeconds = 0) = 0;

    virtual void resume() = 0;
    virtual void suspend() = 0;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;

    // For read sources the readable byte count at the last event; for signals the number of
    // deliveries since the last event; for timers the number of firings.
    virtual size_t data() const = 0;
    // The descriptor or signal number watched.
    virtual int handle() const = 0;

protected:
    Block eventHandler_;
    Block cancelHandler_;
};

}  // namespace telvo::dispatch
