// The disk information collector on fixture machines: registry records, the disk list kept
// from disk events, and the session that withholds "diskinfo" until a disk changes.
#include <gtest/gtest.h>

#include "collectors/storage/StorageFixture.h"
#include "platform/diskarb/DiskDescription.h"
#include "platform/registry/RegistryBuilder.h"

using namespace telvo;
using namespace telvo::storagetest;
namespace dk = telvo::diskarb::key;

namespace {

class DiskInfoTest : public StorageFixture {};

Value description(std::initializer_list<std::pair<const char*, Value>> keys) {
    ValueDictionary d;
    for (const auto& [k, v] : keys) d[k] = v;
    return Value(std::move(d));
}

}  // namespace

TEST_F(DiskInfoTest, RecordsSerialFallbackAndSolidStateRule) {
    // sda: the unit serial page holds only zeros and the disk has no serial of its own, so the
    // serial is vendor, product, "-" and the first partition's UUID three levels down.
    const std::string sda = scsiDisk("sda", 0, 0, 2000000, "8:0", "ATA", "Fast SSD 1", true);
    file(sda.substr(0, sda.find("/block/")) + "/vpd_pg80", std::string("\0\x80\0\x0c", 4) + "000000000000");
    link(sda.substr(0, sda.find("/block/")) + "/subsystem", "../../../../../../../bus/scsi");
    partition(sda, "sda1", 1, 1000, "8:1", "7d1e-01");
    partition(sda, "sda2", 2, 5000, "8:2", "7d1e-02");
    // sdb: "ssd" in lower case is no solid-state hint; it keeps its medium.
    const std::string sdb = scsiDisk("sdb", 1, 3, 4000000, "8:16", "WD", "big ssd drive", true);
    file(sdb + "/serial", "WD-1234\n");

    auto info = startDiskInfo();
    std::vector<Value> records = info->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["bsd"].stringValue(), "sda");
    EXPECT_EQ(records[0]["serial"].stringValue(), "ATAFast SSD 1-7d1e-01");
    EXPECT_EQ(records[0]["type"].stringValue(), "Solid State");
    EXPECT_EQ(records[0]["scsiLun"].stringValue(), "0");
    EXPECT_EQ(records[0]["size"].intValue(), 2000000LL * 512);
    EXPECT_EQ(records[0]["partitions"].count(), 2u);
    EXPECT_EQ(records[0]["partitions"].at(1)["size"].stringValue(), std::to_string(5000LL * 512));
    EXPECT_EQ(records[1]["serial"].stringValue(), "WD-1234");
    EXPECT_EQ(records[1]["type"].stringValue(), "Rotational");
    EXPECT_EQ(records[1]["scsiLun"].stringValue(), "3");
    EXPECT_EQ(info->sizeForDiskWithBSD("sda2").stringValue(), std::to_string(5000LL * 512));
    EXPECT_EQ(info->physicalDiskForBSD("sda1")["bsd"].stringValue(), "sda");
    EXPECT_TRUE(info->infoForBSD("sdz").isNull());
    ASSERT_EQ(info->items().size(), 2u);
    expectGolden("diskinfo.xml", info->xmlNodesFromAttributes(request("0", 3)));
}

// Another program's loop device makes the event thread build the registry again while a scan
// walks it (here at the moment the scan reads the driver's counters). The disk's record still
// has the serial from the device above the driver, so its disk-activity key stays the same.
TEST_F(DiskInfoTest, ScanThatARebuiltRegistryRacedKeepsTheDisksSerial) {
    {
        registry::RegistryBuilder b;
        auto device = b.add(nullptr, "IOBlockStorageDevice", "Disk",
                            {{"Device Characteristics", Value(ValueDictionary{{"Product Name", Value("Disk A")},
                                                                              {"Serial Number", Value("SER-1")}})}});
        auto driver = b.add(device, "IOBlockStorageDriver", "IOBlockStorageDriver");
        driver->setLiveProperty("Statistics", [] {
            registry::RegistryBuilder().install();  // the rebuilt registry; the old one is let go
            return Value(ValueDictionary{});
        });
        b.add(driver, "IOMedia", "Disk A Media", {{"BSD Name", Value("vda")}, {"Whole", Value(true)}});
        b.install();
    }
    const std::vector<Value> records = DiskInfoStatCollectorMac::scanRegistry();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["bsd"].stringValue(), "vda");
    EXPECT_EQ(records[0]["serial"].stringValue(), "SER-1");
    EXPECT_EQ(records[0]["model"].stringValue(), "Disk A");
}

TEST_F(DiskInfoTest, PartitionBeforeItsDiskAndDiskGoingPartitionByPartition) {
    // A scripted disk list: the session reports what each scan adds and removes.
    const Value whole = description({{dk::kMediaBSDName, Value("sdc")}, {dk::kMediaWhole, Value(true)},
                                     {dk::kDeviceModel, Value("Model C")}, {dk::kDeviceProtocol, Value("USB")},
                                     {dk::kMediaEjectable, Value(true)}});
    auto part = [](const char* bsd, long long number) {
        return description({{dk::kMediaBSDName, Value(bsd)}, {dk::kMediaWhole, Value(false)},
                            {dk::kWholeDiskBSDName, Value("sdc")}, {dk::kVolumePath, Value(std::string("/mnt/") + bsd)},
                            {dk::kVolumeName, Value(bsd)}, {dk::kMediaPartitionID, Value(number)},
                            {dk::kMediaBSDUnit, Value(32)}});
    };
    std::vector<std::vector<Value>> scans = {
        {part("sdc1", 1), part("sdc2", 2), whole},  // the partitions are reported first
        {whole, part("sdc2", 2)},
        {whole},
        {},
    };
    size_t scan = 0;
    auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    info->setScannerForTesting([&] { return scans[std::min(scan, scans.size() - 1)]; });
    int changes = 0;
    auto token = notify::NotificationCenter::defaultCenter().addObserver(
        storage::kDiskChangedNotification, nullptr, nullptr, [&](const notify::Notification&) { ++changes; });
    startDiskInfo();

    ValueArray disks = info->DADisks();
    ASSERT_EQ(disks.size(), 1u);
    Value sdc = disks[0];
    EXPECT_EQ(sdc["bsd"].stringValue(), "sdc");
    EXPECT_EQ(sdc["model"].stringValue(), "Model C");  // made from the whole disk's description
    EXPECT_EQ(sdc["protocol"].stringValue(), "USB");
    ASSERT_EQ(sdc["partitions"].count(), 2u);
    EXPECT_EQ(sdc["partitions"].at(0)["path"].stringValue(), "/mnt/sdc1");
    EXPECT_EQ(sdc["partitions"].at(0)["uuid"].stringValue(), "sdc1");  // no volume UUID: the BSD name
    EXPECT_EQ(sdc["partitions"].at(1)["Partition ID"].intValue(), 2);
    EXPECT_EQ(sdc["partitions"].at(1)["type"].intValue(), 0);
    EXPECT_EQ(changes, 3);

    scan = 1;
    info->daSession()->rescan();
    settle();
    disks = info->DADisks();
    ASSERT_EQ(disks.size(), 1u);
    ASSERT_EQ(disks[0]["partitions"].count(), 1u);
    EXPECT_EQ(disks[0]["partitions"].at(0)["bsd"].stringValue(), "sdc2");

    scan = 2;
    info->daSession()->rescan();
    settle();
    disks = info->DADisks();
    ASSERT_EQ(disks.size(), 1u);  // the whole disk stays until it goes itself
    EXPECT_FALSE(disks[0].has("partitions"));

    scan = 3;
    info->daSession()->rescan();
    settle();
    EXPECT_EQ(info->DADisks().size(), 0u);
    notify::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(DiskInfoTest, VolumeKeysAndTypes) {
    using C = DiskInfoStatCollectorMac;
    const Value nfs = description({{dk::kVolumeNetwork, Value(true)}, {dk::kVolumeKind, Value("nfs4")},
                                   {dk::kVolumePath, Value("/mnt/my share")}});
    const Value autofs = description({{dk::kVolumeNetwork, Value(true)}, {dk::kVolumeKind, Value("autofs")}});
    const Value zfs = description({{dk::kVolumeKind, Value("zfs")}, {dk::kVolumeName, Value("tank/home")}});
    EXPECT_EQ(C::keyFromDADisk(nfs), "file:///mnt/my%20share/");
    EXPECT_EQ(C::keyFromDADisk(autofs), "");
    EXPECT_EQ(C::keyFromDADisk(zfs), "tank/home");
    struct Case {
        Value d;
        int type;
    } cases[] = {
        {Value(), 5},
        {description({{dk::kVolumeName, Value("Time Machine Backups")}}), 2},
        {nfs, 2},
        {description({{dk::kDeviceProtocol, Value("Virtual Interface")}, {dk::kMediaKind, Value("IOMedia")}}), 3},
        {description({{dk::kMediaKind, Value("IOCDMedia")}}), 4},
        {zfs, 1},
        {description({{dk::kMediaBSDName, Value("dm-0")}, {dk::kMediaKind, Value("IOMedia")}}), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(C::volumeTypeFromDAInfo(c.d), c.type) << c.d.description();
}

TEST_F(DiskInfoTest, SessionRaisedOnlyByDiskEvents) {
    const std::string sda = scsiDisk("sda", 0, 0, 2000000, "8:0", "ATA", "Disk A");
    auto info = startDiskInfo();
    const int64_t afterStart = info->session();
    // Nothing changed: a client that saw this session gets nothing new.
    settle();
    EXPECT_EQ(info->session(), afterStart);

    const std::string sdb = scsiDisk("sdb", 1, 0, 4000000, "8:16", "ATA", "Disk B");
    event("add", "/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:1/0:0:1:0/block/sdb");
    EXPECT_GT(info->session(), afterStart);
    ASSERT_EQ(info->items().size(), 2u);
    EXPECT_EQ(info->items()[1]->key(), "sdb");
    EXPECT_TRUE(recordWithBsd(info->DADisks(), "sdb").isDictionary());

    const int64_t afterAdd = info->session();
    removeDisk("sdb");
    event("remove", "/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:1/0:0:1:0/block/sdb");
    EXPECT_GT(info->session(), afterAdd);
    EXPECT_EQ(info->items().size(), 1u);
    EXPECT_TRUE(recordWithBsd(info->DADisks(), "sdb").isNull());
}
