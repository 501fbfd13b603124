#pragma once
// CoreStorageStatCollectorItem: one CoreStorage logical volume group (UUID key, BSD name and
// registry name of its first child) with its physical volumes. Served with one "a" child per
// physical volume; no samples.
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollectorItem.h"
#include "collectors/storage/RaidStatCollectorMember.h"

namespace telvo {

using CoreStorageStatCollectorMember = RaidStatCollectorMember;

class CoreStorageStatCollectorItem : public StatCollectorItem {
public:
    CoreStorageStatCollectorItem() : StatCollectorItem(0) {}

    int64_t session = 0;
    std::string bsd, name;
    std::vector<std::shared_ptr<CoreStorageStatCollectorMember>> members;

    void resetMembers();
    void removeInvalidMembers();
    std::shared_ptr<CoreStorageStatCollectorMember> memberWithKey(const std::string& key);

    // "key", "bsd" (when known), and "attributes": "status", "key", "bsd" per member.
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    void xmlResetAttributes() override { resetMembers(); }
    void xmlRemoveInvalidAttributes() override { removeInvalidMembers(); }
};

}  // namespace telvo
