#pragma once
// LoadStatCollector: the kernel's one-, five- and fifteen-minute load averages, served as
// stat type "load" (storage type 1, tables "<level>loadavghistory"). The sampling is the
// platform class's (LoadStatCollectorMac).
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class LoadStatCollector : public StatCollector {
public:
    LoadStatCollector();
    // one, five, fifteen.
    static int64_t sampleCount() { return 3; }
    static std::string statTypeName() { return "load"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "LoadStatCollector"; }
};

}  // namespace telvo
