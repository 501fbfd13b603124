#pragma once
// The process's clock: wall time (seconds since 1970, as a double) and a monotonic time.
// Tests switch it to virtual mode, in which time stands still until advanced; every timer,
// delayed block and time-out of the dispatch layer is measured against this clock, so a
// simulated day passes in well under a second of real time.
//
// Virtual time is kept in whole nanoseconds, and so are the dispatch layer's deadlines: a
// repeating timer's grid, the end of a run and the steps of an advance are then exact sums
// that always agree, where sums of seconds in floating point drift apart by a rounding.
#include <cstdint>
#include <functional>
#include <mutex>

namespace telvo::platform {

class Clock {
public:
    // Wall-clock seconds since 1970 (CLOCK_REALTIME, or the virtual time). Whole-program tests
    // may add a step to the real clock through the file named by TELVO_TEST_CLOCK_OFFSET_FILE
    // (seconds, read again at most twice a second).
    static double now();
    // Seconds on a clock that never steps (CLOCK_MONOTONIC, or the virtual time).
    static double monotonic();
    // Seconds on a clock that never steps and also runs while the machine sleeps
    // (CLOCK_BOOTTIME, or the virtual monotonic time): what the wall clock should have moved.
    static double sinceBoot();

    // Virtual mode: time is `start` (wall seconds) until advanced. Calling again restarts it.
    static void useVirtual(double start);
    // The same two clocks in whole nanoseconds (the dispatch layer's time base).
    static int64_t nowNanos();
    static int64_t monotonicNanos();
    // Deadlines this far off (about 146 years of nanoseconds) or further mean never; times in
    // nanoseconds stay within plus or minus this much.
    static constexpr int64_t kForeverNanos = INT64_MAX / 2;
    // Seconds to the nearest nanosecond, saturated at +-kForeverNanos; NaN is 0.
    static int64_t toNanos(double seconds);
    // Nanoseconds to seconds, rounded once (exact for whole and half seconds at any size).
    static double toSeconds(int64_t nanos);
    // a + b, saturated at +-kForeverNanos.
    static int64_t addNanos(int64_t a, int64_t b);

    // Back to the real clocks.
    static void useReal();
    static bool isVirtual();

    // Moves virtual time forward by `seconds` (never backwards) and fires every timer and
    // delayed block that fell due, in deadline order; their blocks are queued on their queues.
    // Has no effect in real mode.
    static void advance(double seconds);
    // advance() in nanoseconds; 0 or less only fires what is due.
    static void advanceNanos(int64_t nanos);
    // Sets virtual wall time to `wallTime` (may step backwards, as a clock change would);
    // monotonic virtual time still only moves forward by the positive part.
    static void setVirtualNow(double wallTime);
    // Steps virtual wall time by `seconds`, forwards or backwards, as a clock correction would;
    // monotonic virtual time stays where it is. Wall-clock deadlines that fall due fire.
    static void stepVirtualWall(double seconds);

    // Back to real time (the state a fresh process starts in).
    static void resetForTesting();
};

}  // namespace telvo::platform
