// The volumes collector's rebuild from the disk list and its capacity reads.
#include "collectors/storage/DisksStatCollectorMac.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/StorageNotifications.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

std::mutex gReaderMutex;
DisksStatCollectorMac::CapacityReader gReader;
std::atomic<double> gNetworkTimeout{10.0};

DisksStatCollectorMac::CapacityReader reader() {
    std::lock_guard<std::mutex> lock(gReaderMutex);
    return gReader ? gReader : DisksStatCollectorMac::CapacityReader(DisksStatCollectorMac::readCapacity);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return tolower(c); });
    return s;
}

}  // namespace

std::shared_ptr<DisksStatCollectorMac> DisksStatCollectorMac::sharedDiskCollector() {
    return SharedCollector<DisksStatCollectorMac>::get([] {
        auto c = std::make_shared<DisksStatCollectorMac>();
        c->setup();
        return c;
    });
}

void DisksStatCollectorMac::cleanupShared() { SharedCollector<DisksStatCollectorMac>::drop(); }

void DisksStatCollectorMac::resetForTesting() {
    cleanupShared();
    setCapacityReaderForTesting(nullptr);
    setNetworkTimeoutForTesting(10.0);
}

DisksStatCollectorMac::DisksStatCollectorMac() = default;

void DisksStatCollectorMac::setup() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    observer_ = notify::NotificationCenter::defaultCenter().addObserver(
        storage::kDiskChangedNotification, nullptr, nullptr, [weak](const notify::Notification&) {
            if (auto self = std::static_pointer_cast<DisksStatCollectorMac>(weak.lock())) self->diskChange();
        });
}

void DisksStatCollectorMac::cleanup() {
    StatCollector::cleanup();
    if (observer_) notify::NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_ = 0;
}

DisksStatCollectorMac::Capacity DisksStatCollectorMac::readCapacity(const std::string& path) {
    Capacity c;
    struct statvfs st {};
    if (statvfs(path.c_str(), &st) != 0) return c;
    c.read = true;
    c.size = static_cast<double>(st.f_blocks) * static_cast<double>(st.f_frsize);
    c.free = static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize);
    return c;
}

void DisksStatCollectorMac::setCapacityReaderForTesting(CapacityReader r) {
    std::lock_guard<std::mutex> lock(gReaderMutex);
    gReader = std::move(r);
}

void DisksStatCollectorMac::setNetworkTimeoutForTesting(double seconds) { gNetworkTimeout = seconds; }

void DisksStatCollectorMac::diskChange() {
    // Arrives on the disk information collector's queue; the session and the items belong to
    // the main queue.
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        auto self = std::static_pointer_cast<DisksStatCollectorMac>(weak.lock());
        if (!self || self->stopped()) return;
        self->setSession(self->session() + 1);
        // The item list only: samples are taken on the clock's ticks, one per sample number.
        self->rebuildItems();
    });
}

bool DisksStatCollectorMac::processPartition(const Value& r) {
    if (r.has("mountable") && !r["mountable"].boolValue()) return false;
    if (!r.has("path")) return false;
    const std::string media = lower(r["mediaName"].stringValue());
    if (media == "efi system partition" || media == "recovery hd") return false;
    if (r["path"].stringValue() == "/Volumes/MobileBackups") return false;

    const std::string key = r["uuid"].stringValue();
    if (key.empty()) return false;
    bool changed = false;
    std::shared_ptr<DiskStatCollectorItem> item;
    for (const auto& i : items())
        if (i->key() == key) {
            item = std::dynamic_pointer_cast<DiskStatCollectorItem>(i);
            break;
        }
    if (item && item->temporary()) {
        item->setTemporary(false);
        item->modificationTime = -1;
        setChildrenChanged(true);
        changed = true;
    } else if (!item) {
        item = std::dynamic_pointer_cast<DiskStatCollectorItem>(newItemWithKey(key));
        if (!item) return false;
        item->setTemporary(false);
        item->lastUpdate = 0;
        item->modificationTime = -1;
        setChildrenChanged(true);
        changed = true;
    }
    if (r["modificationTime"].doubleValue() == item->modificationTime) {
        item->setExists(true);
        return changed;
    }
    auto take = [&changed](auto& field, auto value) {
        if (field != value) changed = true;
        field = value;
    };
    take(item->iokitSize, r["size"].doubleValue());
    item->modificationTime = r["modificationTime"].doubleValue();
    take(item->name, r["name"].stringValue());
    take(item->bsd, r["bsd"].stringValue());
    std::string path = r["path"].stringValue();
    if (path.rfind("file://localhost", 0) == 0) path = path.substr(16);
    take(item->path, path);
    take(item->hardwareType, r["type"].intValue());
    take(item->partitionID, r["Partition ID"].intValue());
    take(item->unitID, r["BSD Unit"].intValue());
    take(item->ejectable, r["ejectable"].boolValue());
    item->type = r["type"].intValue();
    item->setNohistory(item->type != 0 && item->type != 1);
    if (!item->mounted) {
        item->mounted = true;
        changed = true;
    }
    item->setExists(true);
    return changed;
}

void DisksStatCollectorMac::sampleItem(DiskStatCollectorItem& item, const Capacity& c, double sampleID, double time) {
    item.storageSize = c.read ? c.size : 0;
    item.storageFree = c.read ? c.free : 0;
    // No estimate of purgeable space exists here: nothing is added to the free space.
    item.sizesBackups = 0;
    if (item.storageSize > 0) {
        item.storageUsed = item.storageSize - item.storageFree;
        item.storagePercentage = item.storageUsed / item.storageSize * 100.0;
    } else {
        item.storageUsed = 0;
        item.storagePercentage = 0;
    }
    item.pushSample(sampleID, time);
}

void DisksStatCollectorMac::startNetworkRead(const std::shared_ptr<DiskStatCollectorItem>& item, double sampleID) {
    const std::string key = item->key();
    if (outstanding_.count(key)) return;  // the previous read has not come back
    const uint64_t read = nextRead_++;
    outstanding_[key] = read;
    const std::string path = item->path;
    const double started = platform::Clock::monotonic();
    // The sample belongs to the tick that asked, with that tick's number and time.
    const double time = platform::Clock::now();
    std::weak_ptr<StatCollector> weak = weak_from_this();
    // A thread of its own: a read of a dead server hangs in the kernel, and must not hold a
    // worker of a shared pool.
    std::thread([weak, key, path, read, sampleID, started, time, reader = reader()] {
        Capacity c = reader(path);
        dispatch::Queue::main()->async([weak, key, read, sampleID, started, time, c] {
            auto self = std::static_pointer_cast<DisksStatCollectorMac>(weak.lock());
            if (!self) return;
            auto pending = self->outstanding_.find(key);
            if (pending == self->outstanding_.end() || pending->second != read) return;
            self->outstanding_.erase(pending);
            if (platform::Clock::monotonic() - started > gNetworkTimeout) {
                frameworklog::log("disks: the network volume " + key + " answered too late; its reading is dropped");
                return;
            }
            for (const auto& i : self->items()) {
                if (i->key() != key || i->temporary()) continue;
                auto disk = std::dynamic_pointer_cast<DiskStatCollectorItem>(i);
                if (!disk) return;
                self->sampleItem(*disk, c, sampleID, time);
                if (disk->storageSize > 0) disk->lastUpdate = platform::Clock::now();
                return;
            }
        });
    }).detach();
    dispatch::Queue::main()->after(gNetworkTimeout, [weak, key, read] {
        auto self = std::static_pointer_cast<DisksStatCollectorMac>(weak.lock());
        if (!self) return;
        auto pending = self->outstanding_.find(key);
        if (pending != self->outstanding_.end() && pending->second == read)
            frameworklog::log("disks: the network volume " + key + " does not answer; it is not read again until it does");
    });
}

bool DisksStatCollectorMac::rebuildItems() {
    for (const auto& i : items()) i->setExists(false);
    bool changed = false;
    const ValueArray disks = DiskInfoStatCollectorMac::sharedDiskInfoCollector()->DADisks();
    for (const Value& record : disks) {
        if (record.has("partitions")) {
            for (const Value& p : record["partitions"].array()) changed = processPartition(p) || changed;
        } else {
            changed = processPartition(record) || changed;
        }
    }
    auto& list = mutableItems();
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->exists()) {
            ++it;
            continue;
        }
        (*it)->cleanup();
        it = list.erase(it);
        changed = true;
    }
    if (changed) {
        setSession(session() + 1);
        for (const auto& d : delegates())
            if (d && d->respondsToChildrenChanged()) d->collectorChildrenChanged(*this);
    }
    return changed;
}

void DisksStatCollectorMac::updateStats(int64_t sequence) {
    rebuildItems();
    const double sampleID = idForInterval(0);
    const int64_t s = sequence % 36;
    const CapacityReader read = reader();
    for (const auto& i : std::vector<StatCollectorItemPtr>(items())) {
        auto item = std::dynamic_pointer_cast<DiskStatCollectorItem>(i);
        if (!item || item->temporary() || item->path.empty()) continue;
        if (item->type == 2) {
            if (s != 0 && item->lastUpdate != 0) continue;
            startNetworkRead(item, sampleID);
            continue;
        }
        sampleItem(*item, read(item->path), sampleID, platform::Clock::now());
        item->lastUpdate = platform::Clock::now();
    }
    for (const auto& d : delegates())
        if (d && d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

}  // namespace telvo
