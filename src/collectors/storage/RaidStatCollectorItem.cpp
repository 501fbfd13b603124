#include "collectors/storage/RaidStatCollectorItem.h"

#include <algorithm>

namespace telvo {

void RaidStatCollectorItem::resetMembers() {
    for (auto& m : members) m->exists = false;
}

void RaidStatCollectorItem::removeInvalidMembers() {
    members.erase(std::remove_if(members.begin(), members.end(), [](const auto& m) { return !m->exists; }),
                  members.end());
}

std::shared_ptr<RaidStatCollectorMember> RaidStatCollectorItem::memberWithKey(const std::string& key) {
    for (auto& m : members)
        if (m->key == key) return m;
    auto m = std::make_shared<RaidStatCollectorMember>();
    m->key = key;
    members.push_back(m);
    return m;
}

Value RaidStatCollectorItem::xmlSamplesFromAttributes(const Value&) const {
    Value d(ValueDictionary{});
    d.set("key", Value(key()));
    if (!bsd.empty()) d.set("bsd", Value(bsd));
    if (!name.empty()) d.set("name", Value(name));
    if (!status.empty()) d.set("status", Value(status));
    d.set("uuid", Value(key()));
    ValueArray parts;
    for (const auto& m : members) {
        Value a(ValueDictionary{});
        a.set("key", Value(m->key));
        if (!m->status.empty()) a.set("status", Value(m->status));
        if (!m->bsd.empty()) a.set("bsd", Value(m->bsd));
        parts.push_back(std::move(a));
    }
    d.set("attributes", Value(std::move(parts)));
    return d;
}

std::string RaidStatCollectorItem::description() const {
    return "key = " + key() + ", bsd = " + bsd + ", slices = " + std::to_string(members.size());
}

}  // namespace telvo
