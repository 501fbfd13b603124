#include "collectors/storage/CoreStorageStatCollectorItem.h"

#include <algorithm>

namespace telvo {

void CoreStorageStatCollectorItem::resetMembers() {
    for (auto& m : members) m->exists = false;
}

void CoreStorageStatCollectorItem::removeInvalidMembers() {
    members.erase(std::remove_if(members.begin(), members.end(), [](const auto& m) { return !m->exists; }),
                  members.end());
}

std::shared_ptr<CoreStorageStatCollectorMember> CoreStorageStatCollectorItem::memberWithKey(const std::string& key) {
    for (auto& m : members)
        if (m->key == key) return m;
    auto m = std::make_shared<CoreStorageStatCollectorMember>();
    m->key = key;
    members.push_back(m);
    return m;
}

Value CoreStorageStatCollectorItem::xmlSamplesFromAttributes(const Value&) const {
    Value d(ValueDictionary{});
    d.set("key", Value(key()));
    if (!bsd.empty()) d.set("bsd", Value(bsd));
    ValueArray parts;
    for (const auto& m : members) {
        Value a(ValueDictionary{});
        if (!m->status.empty()) a.set("status", Value(m->status));
        if (!m->key.empty()) a.set("key", Value(m->key));
        if (!m->bsd.empty()) a.set("bsd", Value(m->bsd));
        parts.push_back(std::move(a));
    }
    d.set("attributes", Value(std::move(parts)));
    return d;
}

}  // namespace telvo
