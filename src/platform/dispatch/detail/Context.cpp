#include "platform/dispatch/detail/Context.h"

#include <atomic>
#include <unistd.h>
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

namespace {
std::atomic<long> mainThread{0};
}

Chain& currentChain() {
    thread_local Chain chain;
    return chain;
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
