#include "collectors/storage/CoreStorageStatCollector.h"

#include <algorithm>

#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/GoneItems.h"
#include "foundation/extensions/KXRIOKitUtilities.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

std::string text(const Value& v) { return v.isNull() ? "" : v.stringValue(); }

}  // namespace

std::shared_ptr<CoreStorageStatCollector> CoreStorageStatCollector::sharedCoreStorageCollector() {
    return SharedCollector<CoreStorageStatCollector>::get([] { return std::make_shared<CoreStorageStatCollector>(); });
}

void CoreStorageStatCollector::cleanupShared() { SharedCollector<CoreStorageStatCollector>::drop(); }

CoreStorageStatCollector::CoreStorageStatCollector() : StatCollector(0) {
    setStorageType(2);
    config().set("itemAttributeKeys", Value(ValueArray{Value("key")}));
    config().set("xmlNoSamples", Value(true));
    config().set("xmlSessionBased", Value(true));
    setSession(static_cast<int64_t>(platform::Clock::now()));
}

std::shared_ptr<CoreStorageStatCollectorItem> CoreStorageStatCollector::groupWithKey(const std::string& key) {
    for (const auto& item : items())
        if (item->key() == key) return std::static_pointer_cast<CoreStorageStatCollectorItem>(item);
    setChildrenChanged(true);
    return std::static_pointer_cast<CoreStorageStatCollectorItem>(newItemWithKey(key));
}

std::string CoreStorageStatCollector::description() const {
    const std::string line = "------------------------------------\n";
    std::string out;
    for (const auto& item : items()) {
        auto group = std::static_pointer_cast<CoreStorageStatCollectorItem>(item);
        out += line + "Core Storage Disk\n" + "name = " + group->name + "\nkey = " + group->key() + "\nbsd = " +
               group->bsd + "\n" + line + "Members\n";
        for (const auto& m : group->members) out += "key = " + m->key + "\nbsd = " + m->bsd + "\nstatus = " + m->status + "\n\n";
    }
    return out;
}

void CoreStorageStatCollector::fetchDisks() {
    setChildrenChanged(false);
    setSession(session() + 1);
    for (const auto& item : items()) {
        item->setExists(false);
        std::static_pointer_cast<CoreStorageStatCollectorItem>(item)->resetMembers();
    }
    // Physical volumes: children of media with the CoreStorage bundle identifier.
    KXRIOKitUtilities media = KXRIOKitUtilities::iteratorWithServiceMatch("IOMedia");
    for (Value mp = media.next(); !mp.isNull(); mp = media.next()) {
        KXRIOKitUtilities children = KXRIOKitUtilities::childIteratorFromObject(media.object());
        for (Value p = children.next(); !p.isNull(); p = children.next()) {
            if (!p.has("CFBundleIdentifier") || p["CFBundleIdentifier"].stringValue() != "com.apple.driver.CoreStorage")
                continue;
            const std::string group = text(p["com.apple.corestorage.lvg.uuid"]);
            const std::string pv = text(p["com.apple.corestorage.pv.uuid"]);
            if (group.empty() || pv.empty()) continue;
            auto whole = KXRIOKitUtilities::parentAtIndex(2, media.object());
            auto item = groupWithKey(group);
            item->setExists(true);
            auto member = item->memberWithKey(pv);
            member->exists = true;
            member->bsd = whole ? whole->bsdName() : "";
            member->status = text(p["com.apple.corestorage.pv.status"]);
        }
    }
    // Groups: their first child's BSD and registry names.
    KXRIOKitUtilities groups = KXRIOKitUtilities::iteratorWithServiceMatch("CoreStorageGroup");
    for (Value p = groups.next(); !p.isNull(); p = groups.next()) {
        if (!p.has("com.apple.corestorage.lvg.uuid")) continue;
        auto item = groupWithKey(text(p["com.apple.corestorage.lvg.uuid"]));
        auto child = groups.object()->firstChild();
        item->bsd = child ? child->bsdName() : "";
        item->name = child ? child->name() : "";
    }
    for (const auto& item : items()) {
        auto group = std::static_pointer_cast<CoreStorageStatCollectorItem>(item);
        group->session = session();
        group->removeInvalidMembers();
    }
    storage::dropGoneItems(*this);
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates()))
        if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

}  // namespace telvo
