// The disk information collector's registry scan and disk-arbitration handlers.
#include "collectors/storage/DiskInfoStatCollectorMac.h"

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SharedCollector.h"
#include "collectors/storage/StorageNotifications.h"
#include "foundation/extensions/KXRIOKitUtilities.h"
#include "foundation/extensions/XmlSafeText.h"
#include "platform/diskarb/DiskDescription.h"
#include "platform/diskarb/DiskScanner.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

namespace dk = diskarb::key;

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The copy operation: numbers and booleans become their text ("1"/"0"), strings are trimmed
// unless told otherwise; nothing happens when the source lacks the key.
void copyKey(Value& to, const std::string& toKey, const Value& from, const std::string& fromKey, bool trimmed = true) {
    if (!from.has(fromKey)) return;
    const Value& v = from[fromKey];
    std::string text = v.isString() ? v.string() : v.description();
    to.set(toKey, Value(trimmed ? trim(text) : text));
}

// The removing variant: the target key goes when the source lacks it.
void copyOrRemove(Value& to, const std::string& toKey, const Value& from, const std::string& fromKey) {
    if (from.has(fromKey))
        copyKey(to, toKey, from, fromKey);
    else
        to.remove(toKey);
}

std::string removeAll(std::string s, const std::string& what) {
    for (size_t at; (at = s.find(what)) != std::string::npos;) s.erase(at, what.size());
    return s;
}

// The child tree of an entry, without the BSD clients.
Value childTree(const RegistryEntry& entry) {
    ValueArray children;
    auto it = KXRIOKitUtilities::childIteratorFromObject(entry);
    for (Value props = it.next(); !props.isNull(); props = it.next()) {
        if (it.objectName() == "IOMediaBSDClient") continue;
        Value record = props;
        Value grand = childTree(it.object());
        if (grand.count() > 0) record.set("_children", grand);
        record.set("_name", Value(it.objectName()));
        children.push_back(record);
    }
    return Value(std::move(children));
}

void findRAIDDisks(const Value& media, Value& partition) {
    for (const Value& child : media["_children"].array()) {
        if (!child.has("AppleRAID-MemberUUID")) continue;
        partition.set("RAIDMemberUUID", child["AppleRAID-MemberUUID"]);
        partition.set("RAIDSetUUID", child["AppleRAID-SetUUID"]);
        partition.set("RAIDMemberStatus", child["AppleRAID-MemberStatus"]);
        for (const Value& set : child["_children"].array()) {
            if (!set.has("AppleRAID-SetUUID")) continue;
            partition.set("RAIDMembers", set["AppleRAID-Members"]);
            partition.set("RAIDSetName", set["AppleRAID-SetName"]);
            partition.set("RAIDSetStatus", set["AppleRAID-SetStatus"]);
            partition.set("RAIDType", set["AppleRAID-LevelName"]);
            if (set["_children"].count() > 0) partition.set("RAIDBsd", set["_children"].at(0)["BSD Name"]);
        }
    }
}

// Depth first: a child's descendants come before the child itself.
void processPartitions(const Value& entry, ValueArray& partitions) {
    for (const Value& child : entry["_children"].array()) {
        processPartitions(child, partitions);
        if (!child.has("BSD Name")) continue;
        Value p{ValueDictionary{}};
        copyKey(p, "bsd", child, "BSD Name");
        copyKey(p, "visible", child, "Open");
        copyKey(p, "name", child, "_name");
        copyKey(p, "size", child, "Size");
        findRAIDDisks(child, p);
        partitions.push_back(p);
    }
}

Value driverRecord(KXRIOKitUtilities& it, const Value& props) {
    const RegistryEntry& driver = it.object();
    Value record{ValueDictionary{}};
    Value parent = KXRIOKitUtilities::dictionaryForParentAtIndex(1, driver);
    if (!parent.isNull()) record.set("_parent", parent);
    record.set("_children", childTree(driver));
    for (const auto& [k, v] : props.dictionary()) record.set(k, v);
    const std::string name = it.objectName();
    if (!name.empty()) record.set("_name", Value(name));

    Value serial;
    for (auto [key, limit] : {std::pair<const char*, int>{"GUID", 5}, {"USB Serial Number", 10},
                              {"INQUIRY Unit Serial Number", 8}}) {
        Value hit = KXRIOKitUtilities::searchForKeyInParents(key, limit, driver);
        if (!hit.isNull()) serial = hit;
    }
    if (!serial.isNull() && trim(serial.isString() ? serial.string() : serial.description()) == "000000000000")
        serial = Value();
    if (serial.isNull()) {
        const Value& third = record["_children"].at(0)["_children"].at(0)["_children"].at(0);
        if (third.has("UUID")) {
            const Value chars = parent["Device Characteristics"];
            std::string text;
            if (chars.has("Vendor Name")) text += trim(chars["Vendor Name"].stringValue());
            if (chars.has("Product Name")) text += trim(chars["Product Name"].stringValue());
            serial = Value(text + "-" + third["UUID"].stringValue());
        }
    }
    if (!serial.isNull()) record.set("Serial-Alternate", serial);
    return record;
}

}  // namespace

std::shared_ptr<DiskInfoStatCollectorMac> DiskInfoStatCollectorMac::sharedDiskInfoCollector() {
    return SharedCollector<DiskInfoStatCollectorMac>::get([] { return std::make_shared<DiskInfoStatCollectorMac>(); });
}

void DiskInfoStatCollectorMac::cleanupShared() { SharedCollector<DiskInfoStatCollectorMac>::drop(); }

DiskInfoStatCollectorMac::DiskInfoStatCollectorMac() = default;

void DiskInfoStatCollectorMac::cleanup() {
    StatCollector::cleanup();
    if (daSession_) daSession_->unschedule();
    daSession_.reset();
}

std::vector<Value> DiskInfoStatCollectorMac::scanRegistry() {
    std::vector<Value> drivers;
    for (const char* name : {"IOBlockStorageDriver", "GoFlexBlockSizeAdjuster"}) {
        auto it = KXRIOKitUtilities::iteratorWithServiceNameMatch(name);
        for (Value props = it.next(); !props.isNull(); props = it.next()) drivers.push_back(driverRecord(it, props));
    }
    std::vector<Value> records;
    for (const Value& driver : drivers) {
        if (driver["_children"].count() == 0) continue;
        const Value parent = driver["_parent"];
        const Value chars = parent["Device Characteristics"];
        const Value protocol = parent["Protocol Characteristics"];
        for (const Value& media : driver["_children"].array()) {
            if (!media.has("BSD Name")) continue;
            ValueArray partitions;
            processPartitions(media, partitions);
            Value r{ValueDictionary{}};
            copyKey(r, "serial", driver, "Serial-Alternate");
            copyKey(r, "manufacturer", chars, "Vendor Name");
            copyKey(r, "model", chars, "Product Name");
            copyKey(r, "serial", chars, "Serial Number");
            copyKey(r, "type", chars, "Medium Type");
            copyKey(r, "connectionType", protocol, "Physical Interconnect");
            copyKey(r, "connectionLocation", protocol, "Physical Interconnect Location");
            copyKey(r, "scsiLun", protocol, "SCSI Logical Unit Number");
            if (r["model"].stringValue().find("SSD") != std::string::npos) r.set("type", Value("Solid State"));
            if (media.has("Size")) r.set("size", media["Size"]);
            r.set("name", Value(removeAll(media["_name"].stringValue(), " Media")));
            r.set("bsd", media["BSD Name"]);
            r.set("partitions", Value(std::move(partitions)));
            records.push_back(r);
        }
    }
    return records;
}

void DiskInfoStatCollectorMac::fetchInfo() { rescanRegistry(false); }

void DiskInfoStatCollectorMac::diskChange() { rescanRegistry(true); }

void DiskInfoStatCollectorMac::rescanRegistry(bool raiseSession) {
    std::vector<Value> records = scanRegistry();
    setRecords(records);
    // The items and the session are read by the main queue's replies: they change there,
    // together, so that a reply never sees new disks under an old session.
    auto apply = [records, raiseSession](DiskInfoStatCollectorMac& self) {
        self.applyRecords(records);
        if (raiseSession) self.setSession(self.session() + 1);
    };
    if (dispatch::Queue::main()->isCurrent()) {
        apply(*this);
    } else {
        std::weak_ptr<StatCollector> weak = weak_from_this();
        dispatch::Queue::main()->async([weak, apply] {
            if (auto self = std::static_pointer_cast<DiskInfoStatCollectorMac>(weak.lock())) apply(*self);
        });
    }
    notify::NotificationCenter::defaultCenter().post(storage::kDiskInfoHardwareInfoChanged);
}

void DiskInfoStatCollectorMac::listenForChanges() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto self = std::static_pointer_cast<DiskInfoStatCollectorMac>(weak.lock())) self->setupDiskArbitration();
    });
}

void DiskInfoStatCollectorMac::setupDiskArbitration() {
    if (daSession_) return;
    std::weak_ptr<StatCollector> weak = weak_from_this();
    daSession_ = diskarb::Session::create(
        queue(),
        [weak](diskarb::Session::Event event, const Value& description) {
            if (auto self = std::static_pointer_cast<DiskInfoStatCollectorMac>(weak.lock()))
                self->handleEvent(event, description);
        },
        scanner_);
    daSession_->schedule();
}

void DiskInfoStatCollectorMac::handleEvent(diskarb::Session::Event event, const Value& description) {
    switch (event) {
        case diskarb::Session::Event::Appeared: DADiskAppeared(description); break;
        case diskarb::Session::Event::Disappeared: DADiskDisappeared(description); break;
        case diskarb::Session::Event::Changed: DADiskChanged(description); break;
    }
    diskChange();
    updateDiskIDS();
    notify::NotificationCenter::defaultCenter().post(storage::kDiskChangedNotification);
}

std::string DiskInfoStatCollectorMac::keyFromDADisk(const Value& d) {
    std::string key = d[dk::kMediaBSDName].stringValue();
    if (!key.empty()) return key;
    if (d[dk::kVolumeNetwork].boolValue()) {
        if (d[dk::kVolumeKind].stringValue() == "autofs") return "";
        key = diskarb::fileURLText(d[dk::kVolumePath].stringValue());
    }
    if (d[dk::kVolumeKind].stringValue() == "zfs") key = d[dk::kVolumeName].stringValue();
    return key;
}

int DiskInfoStatCollectorMac::volumeTypeFromDAInfo(const Value& d) {
    if (!d.isDictionary()) return 5;
    if (d[dk::kVolumeName].stringValue() == "Time Machine Backups") return 2;
    if (d[dk::kVolumeNetwork].boolValue()) return 2;
    if (d[dk::kDeviceProtocol].stringValue() == "Virtual Interface") return 3;
    const std::string kind = d[dk::kMediaKind].stringValue();
    if (kind == "IODVDMedia" || kind == "IOCDMedia") return 4;
    if (d[dk::kVolumeKind].stringValue() == "zfs") return 1;
    return 0;
}

Value DiskInfoStatCollectorMac::createDADiskWhole(const std::string& key, const Value& d) {
    Value r{ValueDictionary{}};
    r.set("bsd", Value(key));
    copyKey(r, "model", d, dk::kDeviceModel);
    copyKey(r, "protocol", d, dk::kDeviceProtocol);
    copyKey(r, "vendor", d, dk::kDeviceVendor);
    copyKey(r, "ejectable", d, dk::kMediaEjectable);
    if (d[dk::kVolumeNetwork].boolValue()) r.set("ejectable", Value(true));
    return r;
}

Value& DiskInfoStatCollectorMac::processDADiskWhole(const std::string& key, const Value& d) {
    for (Value& r : daDisks_)
        if (r["bsd"].stringValue() == key) return r;
    daDisks_.push_back(createDADiskWhole(key, d));
    return daDisks_.back();
}

void DiskInfoStatCollectorMac::copyVolumeKeys(Value& record, const Value& d) {
    copyKey(record, "bsdMajor", d, dk::kMediaBSDMajor);
    copyKey(record, "bsdMinor", d, dk::kMediaBSDMinor);
    copyKey(record, "mountable", d, dk::kVolumeMountable);
    if (d.has(dk::kMediaName)) record.set("mediaName", Value(trim(xmlSafeText(d[dk::kMediaName].stringValue()))));
    if (d.has(dk::kVolumeName)) record.set("name", Value(trim(xmlSafeText(d[dk::kVolumeName].stringValue()))));
    copyKey(record, "path", d, dk::kVolumePath, false);
    copyKey(record, "ejectable", d, dk::kMediaEjectable);
    if (d[dk::kVolumeNetwork].boolValue()) record.set("ejectable", Value(true));
    copyKey(record, "uuid", d, dk::kVolumeUUID);
    record.set("type", Value(volumeTypeFromDAInfo(d)));
    if (!record.has("uuid")) record.set("uuid", record["bsd"]);
    record.set("modificationTime", Value(platform::Clock::now()));
    if (d.has(dk::kMediaBSDUnit)) record.set("BSD Unit", d[dk::kMediaBSDUnit]);
    if (d.has(dk::kMediaPartitionID)) record.set("Partition ID", d[dk::kMediaPartitionID]);
}

void DiskInfoStatCollectorMac::DADiskAppeared(const Value& d) {
    if (!d.isDictionary()) return;
    const std::string key = keyFromDADisk(d);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(disksMutex_);
    if (d[dk::kMediaWhole].boolValue() || d[dk::kVolumeNetwork].boolValue() ||
        d[dk::kVolumeKind].stringValue() == "zfs") {
        copyVolumeKeys(processDADiskWhole(key, d), d);
        return;
    }
    Value whole = daSession_ ? daSession_->copyWholeDisk(key) : Value();
    if (!whole.isDictionary() || whole[dk::kMediaBSDName].stringValue() == key) return;
    Value& wholeRecord = processDADiskWhole(whole[dk::kMediaBSDName].stringValue(), whole);
    ValueArray& partitions = wholeRecord.mutableDictionary()["partitions"].mutableArray();
    for (Value& p : partitions) {
        if (p["bsd"].stringValue() == key) {
            copyVolumeKeys(p, d);
            return;
        }
    }
    Value p{ValueDictionary{{"bsd", Value(key)}}};
    copyVolumeKeys(p, d);
    partitions.push_back(p);
}

void DiskInfoStatCollectorMac::DADiskDisappeared(const Value& d) {
    const std::string key = keyFromDADisk(d);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(disksMutex_);
    for (size_t i = 0; i < daDisks_.size(); ++i) {
        Value& r = daDisks_[i];
        if (r["bsd"].stringValue() == key) {
            daDisks_.erase(daDisks_.begin() + static_cast<long>(i));
            return;
        }
        if (!r.has("partitions")) continue;
        ValueArray& partitions = r.mutableDictionary()["partitions"].mutableArray();
        for (size_t k = 0; k < partitions.size(); ++k) {
            if (partitions[k]["bsd"].stringValue() != key) continue;
            partitions.erase(partitions.begin() + static_cast<long>(k));
            break;
        }
        if (partitions.empty()) r.remove("partitions");
    }
}

void DiskInfoStatCollectorMac::DADiskChanged(const Value& d) {
    const std::string key = keyFromDADisk(d);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(disksMutex_);
    auto update = [&](Value& r) {
        copyOrRemove(r, "mountable", d, dk::kVolumeMountable);
        if (d.has(dk::kMediaName))
            r.set("mediaName", Value(trim(xmlSafeText(d[dk::kMediaName].stringValue()))));
        else
            r.remove("mediaName");
        if (d.has(dk::kVolumeName))
            r.set("name", Value(trim(xmlSafeText(d[dk::kVolumeName].stringValue()))));
        else
            r.remove("name");
        copyOrRemove(r, "path", d, dk::kVolumePath);
        copyOrRemove(r, "ejectable", d, dk::kMediaEjectable);
        if (d[dk::kVolumeNetwork].boolValue()) r.set("ejectable", Value(true));
        r.set("modificationTime", Value(platform::Clock::now()));
    };
    for (Value& r : daDisks_) {
        if (r["bsd"].stringValue() == key) return update(r);
        if (!r.has("partitions")) continue;
        for (Value& p : r.mutableDictionary()["partitions"].mutableArray())
            if (p["bsd"].stringValue() == key) return update(p);
    }
}

void DiskInfoStatCollectorMac::updateDiskIDS() {
    std::lock_guard<std::mutex> lock(disksMutex_);
    for (Value& r : daDisks_) {
        const std::string bsd = r["bsd"].stringValue();
        Value disk = physicalDiskForBSD(bsd);
        if (disk.has("serial")) r.set("serial", disk["serial"]);
        Value size = sizeForDiskWithBSD(bsd);
        if (!size.isNull()) r.set("size", size);
        if (!r.has("partitions")) continue;
        for (Value& p : r.mutableDictionary()["partitions"].mutableArray()) {
            Value partSize = sizeForDiskWithBSD(p["bsd"].stringValue());
            if (!partSize.isNull()) p.set("size", partSize);
        }
    }
}

ValueArray DiskInfoStatCollectorMac::DADisks() const {
    std::lock_guard<std::mutex> lock(disksMutex_);
    return daDisks_;
}

}  // namespace telvo
