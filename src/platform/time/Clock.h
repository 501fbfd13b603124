#pragma once
// The process's clock: wall time (seconds since 1970, as a double) and a monotonic time.
// Tests switch it to virtual mode, in which time stands still until advanced; every timer,
// delayed block and time-out of the dispatch layer is measured against this clock, so a
// simulated day passes in well under a second of real time.
#include <cstdint>
#include <functional>
#include <mutex>

namespace telvo::platform {

class Clock {
public:
    // Wall-clock seconds since 1970 (CLOCK_REALTIME, or the virtual time).
    static double now();
    // Seconds on a clock that never steps (CLOCK_MONOTONIC, or the virtual time).
    static double monotonic();

    // Virtual mode: time is `start` (wall seconds) until advanced. Calling again restarts it.
    static void useVirtual(double start);
    // Back to the real clocks.
    static void useReal();
    static bool isVirtual();

    // Moves virtual time forward by `seconds` (never backwards) and fires every timer and
    // delayed block that fell due, in deadline order; their blocks are queued on their queues.
    // Has no effect in real mode.
    static void advance(double seconds);
    // Sets virtual wall time to `wallTime` (may step backwards, as a clock change would);
    // monotonic virtual time still only moves forward by the positive part.
    static void setVirtualNow(double wallTime);

    // Back to real time (the state a fresh process starts in).
    static void resetForTesting();
};

}  // namespace telvo::platform
