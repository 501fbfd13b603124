#pragma once
// The last steps of a storage-type-1 collector's tick: shift the level-0 ring and write its
// newest slot (values, this second's sample number, the current time), or an empty slot when
// the operating system could not be read, then run the collector's finish callback.
#include <cstdint>

#include "collectors/framework/StatCollector.h"

namespace telvo::livesample {

// Shifts level 0 and answers its slot 0, with the sample number and the current time set,
// `empty` 0 and the values as the previous sample left them (callers write them).
statsample& push(StatCollector& collector);
// Shifts level 0 and writes slot 0 as an empty sample: every value 0, `empty` 1.
void pushEmpty(StatCollector& collector);
// Tells the delegates, through the collector's finish callback, that level 0 has a sample.
void finish(StatCollector& collector);

}  // namespace telvo::livesample
