// The disk activity collector's driver scan, disk matching, key migration and tick.
#include "collectors/storage/DiskActivityStatCollectorMac.h"

#include <algorithm>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/HistoryAccess.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/StorageNotifications.h"
#include "platform/dispatch/Queue.h"
#include "platform/registry/Registry.h"
#include "platform/time/Clock.h"

namespace telvo {

std::shared_ptr<DiskActivityStatCollectorMac> DiskActivityStatCollectorMac::sharedDiskActivityCollector() {
    return SharedCollector<DiskActivityStatCollectorMac>::get([] {
        auto c = std::make_shared<DiskActivityStatCollectorMac>();
        c->setup();
        return c;
    });
}

void DiskActivityStatCollectorMac::cleanupShared() { SharedCollector<DiskActivityStatCollectorMac>::drop(); }

DiskActivityStatCollectorMac::DiskActivityStatCollectorMac() = default;

void DiskActivityStatCollectorMac::setup() {
    setSession(static_cast<int64_t>(platform::Clock::now()));
    wrappers_.clear();
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock())) self->startNotifications();
    });
    observer_ = notify::NotificationCenter::defaultCenter().addObserver(
        storage::kDiskInfoHardwareInfoChanged, nullptr, nullptr, [weak](const notify::Notification&) {
            if (auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock()))
                self->hardwareInfoChanged();
        });
}

void DiskActivityStatCollectorMac::startNotifications() {
    if (port_ || stopped()) return;
    port_ = registry::NotificationPort::create(queue());
    std::weak_ptr<StatCollector> weak = weak_from_this();
    auto callback = [weak](const std::vector<registry::EntryRef>&) {
        if (auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock())) self->driversChanged();
    };
    const Value matching = registry::Registry::serviceMatching("IOBlockStorageDriver");
    port_->addMatchingNotification("IOServicePublish", matching, callback);
    port_->addMatchingNotification("IOServiceTerminate", matching, callback);
    // Draining both first iterators, as the callbacks would.
    driversChanged();
    driversChanged();
}

void DiskActivityStatCollectorMac::driversChanged() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    auto pair = [weak] {
        auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock());
        if (!self || self->stopped()) return;
        self->rebuildDisks();
        self->updateHardwareInfo();
    };
    dispatch::Queue::main()->async(pair);
    dispatch::Queue::main()->after(2.0, pair);
}

void DiskActivityStatCollectorMac::hardwareInfoChanged() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    auto update = [weak] {
        auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock());
        if (self && !self->stopped()) self->updateHardwareInfo();
    };
    dispatch::Queue::main()->async(update);
    dispatch::Queue::main()->after(2.0, update);
}

void DiskActivityStatCollectorMac::cleanup() {
    StatCollector::cleanup();
    if (port_) port_->destroy();
    port_.reset();
    if (observer_) notify::NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_ = 0;
}

std::shared_ptr<DiskActivityStatCollectorItemWrapper> DiskActivityStatCollectorMac::wrapperItemWithKey(
    const std::string& bsd) {
    for (const auto& w : wrappers_)
        if (w->key == bsd) return w;
    auto w = std::make_shared<DiskActivityStatCollectorItemWrapper>();
    w->key = bsd;
    wrappers_.push_back(w);
    return w;
}

void DiskActivityStatCollectorMac::rebuildDisks() {
    for (const auto& w : wrappers_) {
        w->exists = false;
        w->registryEntry.reset();
    }
    for (const auto& driver :
         registry::Registry::shared()->matchingServices(registry::Registry::serviceMatching("IOBlockStorageDriver"))) {
        const std::string bsd = driver->bsdNameBelow();
        if (bsd.empty() || !driver->hasProperty("Statistics")) continue;
        auto w = wrapperItemWithKey(bsd);
        w->registryEntry = driver;
        w->exists = true;
    }
    std::erase_if(wrappers_, [](const auto& w) { return !w->exists; });
}

void DiskActivityStatCollectorMac::updateHardwareInfo() {
    for (const auto& i : items()) {
        i->setExists(false);
        if (auto d = std::dynamic_pointer_cast<DiskActivityStatCollectorItem>(i)) d->wrapper.reset();
    }
    auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    const ValueArray disks = info->DADisks();
    bool changed = false;
    for (const auto& w : wrappers_) {
        const bool skipped = std::any_of(disks.begin(), disks.end(), [&](const Value& r) {
            return r["bsd"].stringValue() == w->key && r.has("type") && r["type"].intValue() > 1;
        });
        if (skipped) continue;
        const Value disk = info->infoForBSD(w->key);
        std::string serial = disk["serial"].stringValue();
        serial.erase(std::remove(serial.begin(), serial.end(), ' '), serial.end());
        std::string key;
        bool history = true;
        if (!serial.empty() && disk.has("scsiLun")) {
            key = serial + "_" + disk["scsiLun"].stringValue();
            migrateDisk(key, serial);
        } else if (!serial.empty()) {
            key = serial;
        } else {
            key = "temporary_" + w->key;
            history = false;
        }
        auto item = std::dynamic_pointer_cast<DiskActivityStatCollectorItem>(itemWithKey(key));
        if (!item) {
            item = std::dynamic_pointer_cast<DiskActivityStatCollectorItem>(newItemWithKey(key));
            if (!item) continue;
            item->bsd = w->key;
            changed = true;
        }
        item->hardwareType = disk["type"].stringValue();
        item->setNohistory(!history);
        item->wrapper = w;
        item->setExists(true);
    }
    const size_t before = items().size();
    std::erase_if(mutableItems(), [](const StatCollectorItemPtr& i) { return !i->exists(); });
    if (items().size() != before) changed = true;
    if (changed)
        for (const auto& d : delegates())
            if (d && d->respondsToChildrenChanged()) d->collectorChildrenChanged(*this);
}

void DiskActivityStatCollectorMac::migrateDisk(const std::string& newKey, const std::string& oldKey) {
    if (migrated_.count(newKey) || migrating_.count(newKey)) return;
    migrating_.insert(newKey);
    struct Target {
        std::string path, table;
    };
    std::vector<Target> targets;
    for (int64_t level = 1; level <= 7; ++level)
        if (!dbpath().empty()) targets.push_back({dbpath(), itemTableAtIndex(level)});
    if (!dbpathLong().empty()) targets.push_back({dbpathLong(), dbTablePrefix() + "history"});
    if (targets.empty()) {
        migrating_.erase(newKey);
        return;
    }
    std::weak_ptr<StatCollector> weak = weak_from_this();
    // The statements wait on the history files' queues, away from the main queue.
    dispatch::Queue::global()->async([weak, targets, newKey, oldKey] {
        bool ok = true;
        for (const Target& t : targets) {
            if (!historyaccess::tableExists(t.path, t.table)) continue;
            if (!historyaccess::execute(t.path, "update " + t.table + " set uuid = ? where uuid = ?",
                                        ValueArray{Value(newKey), Value(oldKey)})) {
                frameworklog::log("diskactivity: cannot move the rows of " + oldKey + " to " + newKey + " in " +
                                  t.table);
                ok = false;
            }
        }
        dispatch::Queue::main()->async([weak, newKey, ok] {
            auto self = std::static_pointer_cast<DiskActivityStatCollectorMac>(weak.lock());
            if (!self) return;
            self->migrating_.erase(newKey);
            if (ok) self->migrated_.insert(newKey);
        });
    });
}

void DiskActivityStatCollectorMac::updateStats() {
    const double now = platform::Clock::now();
    const double sampleID = idForInterval(0);
    for (const auto& i : items()) {
        if (i->temporary()) continue;
        if (auto d = std::dynamic_pointer_cast<DiskActivityStatCollectorItem>(i)) d->updateWithTime(now, sampleID);
    }
    for (const auto& d : delegates())
        if (d && d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

}  // namespace telvo
