#pragma once
// MemoryStatCollector: how physical memory is divided (wired, active, inactive, free,
// compressed, file cache, app memory), swap use, paging and memory pressure, served as stat
// type "memory" and scaled per client protocol (bytes for protocol 3, GB and MB for protocol
// 2, stored units otherwise). Storage type 1, tables "<level>memoryhistory"; older tables
// gain the columns added since (migrateDatabase).
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class MemoryStatCollector : public StatCollector {
public:
    // Value positions of a sample (9 and 18 are unused).
    enum : int {
        kTotal = 0, kFree = 1, kUnused = 2, kPageins = 3, kPageouts = 4, kPageinsPerTick = 5, kPageoutsPerTick = 6,
        kSwapUsed = 7, kSwapTotal = 8, kWired = 10, kActive = 11, kInactive = 12, kCompressed = 13,
        kPressure = 14, kFileCache = 15, kApp = 16, kPressureLevel = 17,
    };

    MemoryStatCollector();
    static int64_t sampleCount() { return 19; }
    static std::string statTypeName() { return "memory"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "MemoryStatCollector"; }

    // Adds the columns "compressed", "pagesinsf" and "pageoutsf" where a level table lacks
    // them; answers true when the incoming flag was true or a column was added.
    bool migrateDatabase(bool flag) override;

    double pressureLevel() const { return pressureLevel_; }
    void setPressureLevel(double v) { pressureLevel_ = v; }

private:
    double pressureLevel_ = 0;
};

}  // namespace telvo
