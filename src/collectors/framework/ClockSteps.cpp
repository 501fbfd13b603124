#include "collectors/framework/ClockSteps.h"

#include <cmath>
#include <cstdio>

#include "collectors/framework/FrameworkLog.h"
#include "platform/time/Clock.h"

namespace telvo::clocksteps {

namespace {
std::mutex gMutex;
// The offset of the newest look of any collector: a step seen by one collector is logged
// once, however many collectors see it afterwards.
Mark gLastSeen;
}  // namespace

double take(Mark& mark) {
    const double offset = platform::Clock::now() - platform::Clock::sinceBoot();
    double step = 0;
    if (mark.taken && std::fabs(offset - mark.offset) > kThreshold) step = offset - mark.offset;
    mark.offset = offset;
    mark.taken = true;

    std::lock_guard<std::mutex> lock(gMutex);
    if (step != 0 && (!gLastSeen.taken || std::fabs(offset - gLastSeen.offset) > kThreshold)) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "The system clock stepped by %+.0f s; history schedules follow the new time", step);
        frameworklog::log(line);
    }
    gLastSeen.offset = offset;
    gLastSeen.taken = true;
    return step;
}

void resetForTesting() {
    std::lock_guard<std::mutex> lock(gMutex);
    gLastSeen = Mark{};
}

}  // namespace telvo::clocksteps
