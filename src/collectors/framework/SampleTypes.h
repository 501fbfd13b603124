#pragma once
// The sample slot, the level record and the table of the nine sample levels shared by
// every collector and collector item, plus the small helpers the collectors build their
// configuration maps and level-0 rings with.
#include <cstdint>
#include "platform/values/Value.h"

namespace telvo {

// One slot of a ring. `values` points at exactly `sampleValueCount` doubles owned by the
// ring the slot belongs to.
struct statsample {
    double sampleID = 0;
    double time = 0;
    int32_t empty = 0;
    int32_t index = 0;
    double* values = nullptr;
};

// Room for per-value peaks; kept for the concrete collectors, unused by the framework.
struct samplepeaks {
    double peaks[19] = {};
};

// The record of one sample level.
struct sampleindexconfig {
    double sampleID = 0;
    double time = 0;
    double nextTime = 0;
    double interval = 0;
    double peaks[19] = {};
    uint8_t updated = 0;
    uint8_t valuesLoaded = 0;
    uint8_t fillingGap = 0;
    int64_t historyIndex = 0;
    statsample* samples = nullptr;
};

enum SampleLevel : int64_t {
    SampleLevelLive = 0,
    SampleLevelHour = 1,
    SampleLevelDay = 2,
    SampleLevelWeek = 3,
    SampleLevelMonth = 4,
    SampleLevelThreeMonths = 5,
    SampleLevelSixMonths = 6,
    SampleLevelYear = 7,
    SampleLevelLongTerm = 8,
};

inline constexpr int64_t kSampleLevelCount = 9;
inline constexpr int64_t kSamplesPerLevel = 602;

// Seconds per sample of each level.
inline constexpr double kSampleLevelIntervals[kSampleLevelCount] = {1, 6, 144, 1008, 4320, 12960, 25920, 52560, 300};
// The level each level is averaged from (level 0 is written by the collector).
inline constexpr int64_t kSampleLevelSources[kSampleLevelCount] = {0, 0, 1, 1, 2, 2, 2, 2, 0};

inline constexpr bool isSampleLevel(int64_t level) { return level >= 0 && level < kSampleLevelCount; }

// Number objects for configuration maps and sample dictionaries.
inline Value NSDouble(double d) { return Value(d); }
inline Value NSInt(int64_t i) { return Value(static_cast<long long>(i)); }

// Shifts a 602-slot ring down by one slot: slot i takes the first `count` values, the empty
// flag, the sample number and the time of slot i-1; every slot keeps its own value array and
// its `index`. Slot 0 is left as it was.
void PushSamples(statsample* ring, int64_t count);

}  // namespace telvo
