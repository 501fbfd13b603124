#include "collectors/storage/RaidStatCollector.h"

#include "platform/time/Clock.h"

namespace telvo {

RaidStatCollector::RaidStatCollector() : StatCollector(0) {
    setStorageType(2);
    config().set("itemAttributeKeys", Value(ValueArray{Value("key")}));
    config().set("xmlUseMasterID", Value(true));
    config().set("xmlNoSamples", Value(true));
    config().set("xmlSessionBased", Value(true));
    setSession(static_cast<int64_t>(platform::Clock::now()));
}

std::shared_ptr<RaidStatCollectorItem> RaidStatCollector::raidItemWithKey(const std::string& key) {
    for (const auto& item : items())
        if (item->key() == key) return std::static_pointer_cast<RaidStatCollectorItem>(item);
    setChildrenChanged(true);
    return std::static_pointer_cast<RaidStatCollectorItem>(newItemWithKey(key));
}

std::shared_ptr<RaidStatCollectorItem> RaidStatCollector::itemWithBSD(const std::string& bsd) const {
    for (const auto& item : items()) {
        auto raid = std::static_pointer_cast<RaidStatCollectorItem>(item);
        if (raid->bsd == bsd) return raid;
    }
    return nullptr;
}

std::vector<std::string> RaidStatCollector::disksForBSDKey(const std::string& bsd) const {
    std::vector<std::string> out;
    for (const auto& item : items()) {
        auto raid = std::static_pointer_cast<RaidStatCollectorItem>(item);
        if (raid->bsd != bsd) continue;
        for (const auto& m : raid->members)
            if (!m->bsd.empty()) out.push_back(m->bsd);
    }
    return out;
}

std::string RaidStatCollector::description1() const {
    const std::string line = "------------------------------------\n";
    std::string out;
    for (const auto& item : items()) {
        auto raid = std::static_pointer_cast<RaidStatCollectorItem>(item);
        out += line + "Raid Disk\n" + "name = " + raid->name + "\nkey = " + raid->key() + "\nbsd = " + raid->bsd +
               "\nstatus = " + raid->status + "\n" + line + "Slices\n";
        for (const auto& m : raid->members) out += "key = " + m->key + "\nbsd = " + m->bsd + "\nstatus = " + m->status + "\n\n";
    }
    return out;
}

}  // namespace telvo
