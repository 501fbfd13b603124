// The RAID collector's registry walk and item update.
#include "collectors/storage/RaidStatCollectorMac.h"

#include <algorithm>
#include <map>

#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/GoneItems.h"
#include "collectors/storage/StorageNotifications.h"
#include "foundation/extensions/KXRIOKitUtilities.h"
#include "platform/dispatch/Queue.h"

namespace telvo {
namespace {

// The disk information collector's copy of a registry value: a number as decimal text, a
// string trimmed of white space and line ends; empty when missing.
std::string copyValue(const Value& v) {
    if (v.isNull()) return "";
    std::string s = v.stringValue();
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

struct MemberRecord {
    std::string uuid, bsd, status;
};
struct SetRecord {
    std::string bsd, name, status, level;
    std::vector<MemberRecord> members;
};

}  // namespace

std::shared_ptr<RaidStatCollectorMac> RaidStatCollectorMac::sharedRaidCollector() {
    return SharedCollector<RaidStatCollectorMac>::get([] {
        auto c = std::make_shared<RaidStatCollectorMac>();
        c->setup();
        c->updateStats();
        return c;
    });
}

void RaidStatCollectorMac::cleanupShared() { SharedCollector<RaidStatCollectorMac>::drop(); }

void RaidStatCollectorMac::setup() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    observer_ = notify::NotificationCenter::defaultCenter().addObserver(
        storage::kDiskChangedNotification, nullptr, nullptr, [weak](const notify::Notification&) {
            if (auto self = std::static_pointer_cast<RaidStatCollectorMac>(weak.lock())) self->diskChange();
        });
}

void RaidStatCollectorMac::cleanup() {
    StatCollector::cleanup();
    if (observer_) notify::NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_ = 0;
}

void RaidStatCollectorMac::diskChange() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->after(2.0, [weak] {
        auto self = std::static_pointer_cast<RaidStatCollectorMac>(weak.lock());
        if (self && !self->stopped()) self->updateStats();
    });
}

void RaidStatCollectorMac::fetchDisks() {
    ++scans_;
    setSession(session() + 1);
    setChildrenChanged(false);
    sampleIndexRecord(0)->sampleID += 1;
    const double counter = idForInterval(0);

    // 1. The walk: member objects below every medium, set objects below them.
    std::vector<std::string> order;
    std::map<std::string, SetRecord> sets;
    KXRIOKitUtilities media = KXRIOKitUtilities::iteratorWithServiceMatch("IOMedia");
    for (Value mediaProps = media.next(); !mediaProps.isNull(); mediaProps = media.next()) {
        const std::string mediaBSD = copyValue(mediaProps["BSD Name"]);
        KXRIOKitUtilities children = KXRIOKitUtilities::childIteratorFromObject(media.object());
        for (Value p = children.next(); !p.isNull(); p = children.next()) {
            if (!p.has("CFBundleIdentifier") || p["CFBundleIdentifier"].stringValue() != "com.apple.driver.AppleRAID" ||
                !p.has("AppleRAID-MemberUUID"))
                continue;
            MemberRecord member{copyValue(p["AppleRAID-MemberUUID"]), mediaBSD, copyValue(p["AppleRAID-MemberStatus"])};
            for (const auto& setObject : children.object()->children()) {
                if (!setObject->hasProperty("AppleRAID-SetUUID")) continue;
                const std::string setUUID = copyValue(setObject->property("AppleRAID-SetUUID"));
                if (!sets.count(setUUID)) {
                    SetRecord set;
                    set.name = copyValue(setObject->property("AppleRAID-SetName"));
                    set.status = copyValue(setObject->property("AppleRAID-SetStatus"));
                    set.level = copyValue(setObject->property("AppleRAID-LevelName"));
                    if (auto first = setObject->firstChild()) {
                        if (first->hasProperty("BSD Name")) {
                            set.bsd = copyValue(first->property("BSD Name"));
                        } else if (first->hasProperty("AppleRAID-SetUUID")) {
                            if (auto inner = first->firstChild()) set.bsd = copyValue(inner->property("BSD Name"));
                        }
                    }
                    sets[setUUID] = set;
                    order.push_back(setUUID);
                }
                sets[setUUID].members.push_back(member);
            }
        }
    }

    // 2. The items.
    for (const auto& item : items()) {
        item->setExists(false);
        std::static_pointer_cast<RaidStatCollectorItem>(item)->resetMembers();
    }
    for (const std::string& uuid : order) {
        const SetRecord& set = sets[uuid];
        auto item = raidItemWithKey(uuid);
        item->bsd = set.bsd;
        item->name = set.name;
        item->status = set.status;
        item->type = set.level;
        item->setExists(true);
        item->updateSampleID(counter);
        for (const MemberRecord& m : set.members) {
            auto member = item->memberWithKey(m.uuid);
            member->bsd = m.bsd;
            member->status = m.status;
            member->exists = true;
        }
    }
    for (const auto& item : items()) std::static_pointer_cast<RaidStatCollectorItem>(item)->removeInvalidMembers();
    for (const auto& item : items()) std::static_pointer_cast<RaidStatCollectorItem>(item)->session = session();
    storage::dropGoneItems(*this);
}

}  // namespace telvo
