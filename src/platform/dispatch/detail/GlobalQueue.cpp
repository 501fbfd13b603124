#include "platform/dispatch/detail/GlobalQueue.h"

#include "platform/dispatch/detail/Activity.h"
#include "platform/dispatch/detail/Context.h"
#include "platform/dispatch/detail/Pool.h"
#include "platform/dispatch/detail/QueueAccess.h"
#include "platform/dispatch/detail/Threads.h"

namespace telvo::dispatch::detail {

GlobalQueue::GlobalQueue() : Queue("com.telvo.global.default", false) { QueueAccess::initialise(*this); }

void GlobalQueue::async(Block block) {
    activityBegin();
    Pool::instance().submit([this, block = std::move(block)]() mutable {
        nameThisThread("telvo-global");
        {
            ChainScope scope(Chain{this});
            block();
            block = nullptr;
        }
        activityEnd();
    });
}

void GlobalQueue::sync(const Block& block) {
    PushScope scope(this);
    block();
}

}  // namespace telvo::dispatch::detail
