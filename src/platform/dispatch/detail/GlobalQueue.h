#pragma once
// The global concurrent queue: every block is a task of its own on the worker pool.
#include "platform/dispatch/Queue.h"

namespace telvo::dispatch::detail {

class GlobalQueue final : public Queue {
public:
    GlobalQueue();
    void async(Block block) override;
    // Runs the block on the calling thread (a concurrent queue has nothing to wait for).
    void sync(const Block& block) override;
    // A global queue cannot be suspended; both calls do nothing.
    void suspend() override {}
    void resume() override {}
};

}  // namespace telvo::dispatch::detail
