#include "collectors/framework/FreedMemory.h"

#include <malloc.h>

#include <atomic>

#include "platform/dispatch/Queue.h"

namespace telvo::freedmemory {

namespace {
constexpr double kDelay = 5.0;
std::atomic<bool> gScheduled{false};
}  // namespace

void releaseSoon() {
    if (gScheduled.exchange(true)) return;
    dispatch::Queue::global()->after(kDelay, [] {
        gScheduled = false;
        malloc_trim(0);
    });
}

}  // namespace telvo::freedmemory
