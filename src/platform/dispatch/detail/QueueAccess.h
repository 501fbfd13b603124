#pragma once
// Lets the queue kinds set up the base class's private state.
#include "platform/dispatch/Queue.h"

namespace telvo::dispatch {

struct QueueAccess {
    // Called from every queue kind's constructor, before the queue is shared.
    static void initialise(Queue& queue);
};

}  // namespace telvo::dispatch
