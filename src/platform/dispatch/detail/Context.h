#pragma once
// Which queues the calling thread is running blocks of: the innermost last. A sync pushes
// its target onto the caller's chain; a worker starts each block with a fresh chain.
#include <vector>

namespace telvo::dispatch {
class Queue;
}

namespace telvo::dispatch::detail {

using Chain = std::vector<Queue*>;

Chain& currentChain();

// Replaces the chain for the lifetime of the scope.
class ChainScope {
public:
    explicit ChainScope(Chain chain);
    ~ChainScope();
    ChainScope(const ChainScope&) = delete;
    ChainScope& operator=(const ChainScope&) = delete;

private:
    Chain saved_;
};

// Appends one queue to the chain for the lifetime of the scope (sync).
class PushScope {
public:
    explicit PushScope(Queue* queue);
    ~PushScope();
    PushScope(const PushScope&) = delete;
    PushScope& operator=(const PushScope&) = delete;
};

// The thread that drives the main queue: the process's first thread until MainLoop runs
// elsewhere.
bool isMainThread();
void setMainThread();

}  // namespace telvo::dispatch::detail
