#pragma once
// The steps shared by collectors and items when a sample dictionary goes into a ring slot
// and when a level's newest interval is averaged from its source ring.
#include <cstdint>
#include <vector>

#include "collectors/framework/SampleStorage.h"
#include "platform/values/Value.h"

namespace telvo::samplewriting {

// The value of the last key of "addSampleIDKeys" that the sample holds, or 0.
double sampleNumber(const Value& sample, const Value& addSampleIDKeys);
// "addSampleMap" positions (-1: the slot's time; 0 to count-1: a value; others ignored),
// then "time" when the sample holds it.
void writeValues(statsample& slot, const Value& sample, const Value& addSampleMap, int64_t count);

struct AverageWindow {
    double start = 0;      // exclusive
    double upper = 0;      // inclusive
    bool applyTests = true;
};
// Sums every non-empty slot of `ring` inside the window (walking from slot 0 and stopping at
// the first non-empty slot at or before the start) and answers the averages keyed by
// "sampleKeys"; "empty" is true when no slot was taken. The caller sets "time".
Value average(const statsample* ring, int64_t count, const AverageWindow& window, const Value& sampleKeys);

// Whether every live sample taken after `since` (walking from slot 0, stopping at the first
// unnumbered or older slot) has the sum of the values at `positions` below (above) the
// threshold. No ring answers NO.
bool liveSumsPass(const statsample* ring, int64_t count, const std::vector<int64_t>& positions, double threshold,
                  double since, bool below);

}  // namespace telvo::samplewriting
