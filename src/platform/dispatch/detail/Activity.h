#pragma once
// Counts blocks queued or running on queues other than the main queue, so that the main loop
// can tell when the whole process has gone idle.
namespace telvo::dispatch::detail {

void activityBegin();
void activityEnd();
long activity();

}  // namespace telvo::dispatch::detail
