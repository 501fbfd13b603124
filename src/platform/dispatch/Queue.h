#pragma once
// Dispatch queues: serial queues with labels, the main queue (driven by MainLoop), and a
// global concurrent queue. Blocks run in FIFO order, one at a time on a serial queue.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace telvo::dispatch {

using Block = std::function<void()>;

class Queue;
using QueuePtr = std::shared_ptr<Queue>;

class Queue : public std::enable_shared_from_this<Queue> {
public:
    virtual ~Queue() = default;

    // A new serial queue; its blocks run on worker threads, one at a time, in order.
    static QueuePtr createSerial(const std::string& label);
    // The main queue: runs on the thread that drives MainLoop.
    static QueuePtr main();
    // The global concurrent queue (default priority). Blocks may run in parallel and may
    // block for a long time; the pool grows rather than starve.
    static QueuePtr global();
    // The queue whose block is running on this thread (inside a sync, the target queue),
    // or null on a thread that runs no queue block.
    static QueuePtr current();

    const std::string& label() const { return label_; }
    bool isSerial() const { return serial_; }
    bool isMain() const;

    // Queues the block and returns at once.
    virtual void async(Block block) = 0;
    // Runs the block on this queue and returns when it has run. While it runs,
    // Queue::current() and getSpecific() answer for this queue. Calling sync onto the
    // queue that is running the caller deadlocks, as it would on the platform: test
    // isCurrent() (or a specific key) first.
    virtual void sync(const Block& block) = 0;
    // Queues the block once `seconds` have passed on the process clock (virtual or real).
    void after(double seconds, Block block);

    // True while a block of this queue runs on the calling thread (directly or via sync).
    bool isCurrent() const;

    // Queue-specific values: a key is any address; values are not owned.
    void setSpecific(const void* key, void* value);
    void* specific(const void* key) const;
    // The value for `key` on the current queue (see current()), or null.
    static void* getSpecific(const void* key);

    // Marks a serial queue whose blocks are short and never wait (a socket's queue): while it
    // is idle, the thread that sees a descriptor of one of its sources ready runs the source's
    // handler itself, in order and as the queue, instead of waking a worker for it.
    void setServedByEventThread(bool served) { servedByEventThread_.store(served, std::memory_order_relaxed); }
    bool servedByEventThread() const { return servedByEventThread_.load(std::memory_order_relaxed); }
    // For such a queue: when it is idle, runs the block at once on the calling thread (never
    // the main thread), as this queue (innermost on the caller's chain, as in a sync), instead
    // of waking a worker for it; otherwise, and for every other queue, queues it as async
    // does. The caller waits for the block then, so it must hold no lock the block may take.
    void asyncHereIfIdle(Block block);

    // Suspension counts: a suspended queue runs no new blocks until resumed as often.
    virtual void suspend() = 0;
    virtual void resume() = 0;

protected:
    Queue(std::string label, bool serial) : label_(std::move(label)), serial_(serial) {}

private:
    std::string label_;
    bool serial_;
    std::atomic<bool> servedByEventThread_{false};
    struct Specifics;
    std::shared_ptr<Specifics> specifics_;
    friend struct QueueAccess;
};

}  // namespace telvo::dispatch
