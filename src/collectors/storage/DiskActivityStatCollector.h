#pragma once
// DiskActivityStatCollector: bytes and operations per second read and written by each
// physical disk, served as stat type "diskactivity" (storage type 2, tables with prefix
// "diskactivity"). Items are keyed by the disk's serial number (and logical unit), so a disk
// finds its history again under another BSD name.
#include <string>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class DiskActivityStatCollector : public StatCollector {
public:
    DiskActivityStatCollector();
    // Rates 0 to 3 ("r", "w", "rIOPS", "wIOPS"), then the four driver counters (level 0 only).
    static int64_t sampleCount() { return 8; }
    static std::string statTypeName() { return "diskactivity"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "DiskActivityStatCollector"; }
};

}  // namespace telvo
