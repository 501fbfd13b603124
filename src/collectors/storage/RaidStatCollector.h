#pragma once
// RaidStatCollector: the neutral part of the RAID collector: its configuration (session-based,
// storage type 2, no history), its items found by key, and the lookups by BSD name.
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"
#include "collectors/storage/RaidStatCollectorItem.h"

namespace telvo {

class RaidStatCollector : public StatCollector {
public:
    RaidStatCollector();
    static int64_t storageType() { return 2; }
    ItemFactory itemClass() const override {
        return [] { return std::make_shared<RaidStatCollectorItem>(); };
    }
    std::string statType() const override { return "raid"; }

    // The item of a set, appended (and childrenChanged set) when new.
    std::shared_ptr<RaidStatCollectorItem> raidItemWithKey(const std::string& key);
    std::shared_ptr<RaidStatCollectorItem> itemWithBSD(const std::string& bsd) const;
    // The members' BSD names of the sets with that volume BSD name; empty when none.
    std::vector<std::string> disksForBSDKey(const std::string& bsd) const;
    std::string description1() const;
};

}  // namespace telvo
