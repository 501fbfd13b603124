#include "collectors/storage/SoftRAIDStatCollector.h"

#include <algorithm>

#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/GoneItems.h"
#include "foundation/extensions/KXRIOKitUtilities.h"

namespace telvo {
namespace {

std::string keyText(const Value& v) {
    if (v.isNull()) return "";
    return v.stringValue();
}

}  // namespace

std::shared_ptr<SoftRAIDStatCollector> SoftRAIDStatCollector::sharedSoftRaidCollector() {
    return SharedCollector<SoftRAIDStatCollector>::get([] { return std::make_shared<SoftRAIDStatCollector>(); });
}

void SoftRAIDStatCollector::cleanupShared() { SharedCollector<SoftRAIDStatCollector>::drop(); }

SoftRAIDStatCollector::SoftRAIDStatCollector() : StatCollector(0) {
    setStorageType(2);
    config().set("itemAttributeKeys", Value(ValueArray{Value("key")}));
    config().set("xmlUseMasterID", Value(true));
    config().set("xmlNoSamples", Value(true));
    config().set("xmlSessionBased", Value(true));
    setSession(1);
}

std::string SoftRAIDStatCollector::rootBSDDiskForKey(const std::string& key) {
    if (key.find("disk") == std::string::npos) return key;
    std::string rest;
    for (size_t i = 0; i < key.size();) {
        if (key.compare(i, 4, "disk") == 0) {
            i += 4;
        } else {
            rest += key[i++];
        }
    }
    if (size_t s = rest.find('s'); s != std::string::npos) rest = rest.substr(0, s);
    return "disk" + rest;
}

std::shared_ptr<SoftRAIDStatCollectorItem> SoftRAIDStatCollector::softItemWithKey(const std::string& key) {
    for (const auto& item : items())
        if (item->key() == key) return std::static_pointer_cast<SoftRAIDStatCollectorItem>(item);
    setChildrenChanged(true);
    return std::static_pointer_cast<SoftRAIDStatCollectorItem>(newItemWithKey(key));
}

void SoftRAIDStatCollector::fetchDisks() {
    setChildrenChanged(false);
    setSession(session() + 1);
    sampleIndexRecord(0)->sampleID += 1;
    const double counter = idForInterval(0);
    for (const auto& item : items()) item->setExists(false);
    KXRIOKitUtilities it = KXRIOKitUtilities::iteratorWithServiceNameMatch("SoftRAID_Media");
    for (Value p = it.next(); !p.isNull(); p = it.next()) {
        if (!p.has("BSD Name")) continue;
        const std::string key = p.has("SoftRAID Volume ID") ? keyText(p["SoftRAID Volume ID"]) : keyText(p["BSD Name"]);
        auto item = softItemWithKey(key);
        item->bsd = p["BSD Name"].stringValue();
        item->members.clear();
        for (const Value& provider : p["SoftRAID Provider Array"].array())
            item->members.push_back(rootBSDDiskForKey(provider.stringValue()));
        item->setExists(true);
    }
    for (const auto& item : items()) {
        auto soft = std::static_pointer_cast<SoftRAIDStatCollectorItem>(item);
        soft->session = session();
        soft->updateSampleID(counter);
    }
    storage::dropGoneItems(*this);
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates()))
        if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

}  // namespace telvo
