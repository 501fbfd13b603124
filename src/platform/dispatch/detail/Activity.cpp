#include "platform/dispatch/detail/Activity.h"

#include <atomic>
#include "platform/dispatch/detail/MainQueue.h"

namespace telvo::dispatch::detail {

namespace {
std::atomic<long> count{0};
}

void activityBegin() { count.fetch_add(1, std::memory_order_seq_cst); }

void activityEnd() {
    if (count.fetch_sub(1, std::memory_order_seq_cst) == 1) MainQueue::instance().wake();
}

long activity() { return count.load(std::memory_order_seq_cst); }

}  // namespace telvo::dispatch::detail
