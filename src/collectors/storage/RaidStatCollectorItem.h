#pragma once
// RaidStatCollectorItem: one software-RAID set (UUID key, volume BSD name, name, status word,
// level) with its members in the order they were first found. Served with one "a" child per
// member; no samples.
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollectorItem.h"
#include "collectors/storage/RaidStatCollectorMember.h"

namespace telvo {

class RaidStatCollectorItem : public StatCollectorItem {
public:
    RaidStatCollectorItem() : StatCollectorItem(0) {}

    int64_t session = 0;
    std::string bsd, name, status, type;
    std::vector<std::shared_ptr<RaidStatCollectorMember>> members;

    void resetMembers();
    void removeInvalidMembers();
    std::shared_ptr<RaidStatCollectorMember> memberWithKey(const std::string& key);
    void updateSampleID(double sampleID) { setID(sampleID, 0); }

    // "key", "bsd", "name", "status" (each when known), "uuid", and "attributes": one
    // dictionary "key", "status", "bsd" per member.
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    void xmlResetAttributes() override { resetMembers(); }
    void xmlRemoveInvalidAttributes() override { removeInvalidMembers(); }
    std::string description() const override;
};

}  // namespace telvo
