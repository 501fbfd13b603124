#include "platform/dispatch/detail/Context.h"

#include <atomic>
#include <unistd.h>
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

namespace {
std::atomic<long> mainThread{0};
}

Chain& currentChain() {
    // The chain lives on the heap behind a trivially destructible pointer. Exit hooks run
    // after the exiting thread's thread-local objects are destroyed, and some of them still
    // run blocks (the logging core flushes at exit with a sync onto its queue), so the first
    // thread's chain is never freed; every other thread frees its chain when it ends.
    thread_local Chain* chain = nullptr;
    if (!chain) {
        chain = new Chain;
        if (threadId() != static_cast<long>(getpid())) {
            struct Reaper {
                Chain*& owned;
                ~Reaper() {
                    delete owned;
                    owned = nullptr;
                }
            };
            thread_local Reaper reaper{chain};
        }
    }
    return *chain;
}

ChainScope::ChainScope(Chain chain) : saved_(std::move(currentChain())) { currentChain() = std::move(chain); }
ChainScope::~ChainScope() { currentChain() = std::move(saved_); }

PushScope::PushScope(Queue* queue) { currentChain().push_back(queue); }
PushScope::~PushScope() { currentChain().pop_back(); }

bool isMainThread() {
    long id = mainThread.load(std::memory_order_relaxed);
    long self = threadId();
    return id ? id == self : self == static_cast<long>(getpid());
}

void setMainThread() { mainThread.store(threadId(), std::memory_order_relaxed); }

}  // namespace telvo::dispatch::detail
