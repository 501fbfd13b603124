#pragma once
// Steps of the wall clock (a correction by hand or by a time service), noticed by comparing how
// far the wall clock moved with how far a clock that never steps moved since the last look.
// Each collector keeps its own mark and re-bases its schedules on a step; the first collector
// to see a step writes the one log line about it.
#include <mutex>

namespace telvo::clocksteps {

// The two clocks may drift apart this much (seconds) between looks without counting as a step.
inline constexpr double kThreshold = 5.0;

// Wall time minus the never-stepping time at a collector's last look.
struct Mark {
    double offset = 0;
    bool taken = false;
};

// The wall clock's step since `mark` was taken, in seconds (positive: it moved ahead), or 0
// when it moved with the never-stepping clock within kThreshold or the mark was not taken yet.
// Takes the mark anew.
double take(Mark& mark);

// Forgets which step was logged last.
void resetForTesting();

}  // namespace telvo::clocksteps
