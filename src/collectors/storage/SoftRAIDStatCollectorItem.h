#pragma once
// SoftRAIDStatCollectorItem: one volume of the third-party SoftRAID driver, keyed by its volume
// ID (or BSD name), with the whole disks it is built from. Served without samples or children.
#include <string>
#include <vector>

#include "collectors/framework/StatCollectorItem.h"

namespace telvo {

class SoftRAIDStatCollectorItem : public StatCollectorItem {
public:
    SoftRAIDStatCollectorItem() : StatCollectorItem(0) {}

    int64_t session = 0;
    std::string bsd, name;
    std::vector<std::string> members;

    void updateSampleID(double sampleID) { setID(sampleID, 0); }
    // "members" (joined with ","), "key", "bsd" and "name" when set, "uuid".
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    std::string description() const override {
        return "key = " + key() + ", bsd = " + bsd + ", slices = " + std::to_string(members.size());
    }
};

}  // namespace telvo
