// The registry stand-in: matching, paths and a tree built from a fixture sysfs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/registry/RegistryBuilder.h"
#include "platform/registry/SysfsRegistry.h"

using namespace telvo;
using namespace telvo::registry;
namespace stdfs = std::filesystem;

namespace {

std::vector<std::string> names(const std::vector<EntryRef>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e->name() + (e->bsdName().empty() ? "" : "/" + e->bsdName()));
    return out;
}

}  // namespace

TEST(Registry, MatchingByClassNameBsdNameAndProperties) {
    RegistryBuilder b;
    b.declareClass("AppleAHCIDiskDriver", "IOBlockStorageDriver");
    auto dev = b.add(nullptr, "IOBlockStorageDevice", "Disk", {{"SMART Capable", Value(true)}});
    auto drv = b.add(dev, "AppleAHCIDiskDriver", "IOBlockStorageDriver");
    auto media = b.add(drv, "IOMedia", "Disk Media", {{"BSD Name", Value("sda")}, {"Whole", Value(true)}});
    auto cd = b.add(drv, "IODVDMedia", "DVD", {{"BSD Name", Value("sr0")}, {"Whole", Value(true)}});
    b.add(media, "IOMedia", "sda1", {{"BSD Name", Value("sda1")}, {"Whole", Value(false)}});
    auto reg = b.registry();

    EXPECT_EQ(names(reg->matchingServices(Registry::serviceMatching("IOMedia"))),
              (std::vector<std::string>{"Disk Media/sda", "sda1/sda1", "DVD/sr0"}));
    // Subclasses match their ancestors' names, not the reverse.
    EXPECT_EQ(reg->matchingServices(Registry::serviceMatching("IOBlockStorageDriver")).size(), 1u);
    EXPECT_EQ(reg->matchingServices(Registry::serviceMatching("IOCDMedia")).size(), 1u);
    EXPECT_EQ(reg->matchingServices(Registry::serviceMatching("AppleAHCIDiskDriver")).size(), 1u);
    EXPECT_EQ(reg->matchingServices(Registry::serviceMatching("IOService")).size(), 5u);
    EXPECT_EQ(names(reg->matchingServices(Registry::nameMatching("IOBlockStorageDriver"))),
              (std::vector<std::string>{"IOBlockStorageDriver"}));
    EXPECT_EQ(names(reg->matchingServices(Registry::bsdNameMatching("sda1"))), (std::vector<std::string>{"sda1/sda1"}));
    EXPECT_TRUE(reg->matchingServices(Registry::bsdNameMatching("disk9")).empty());

    Value smart(ValueDictionary{{"IOPropertyMatch", Value(ValueDictionary{{"SMART Capable", Value(true)}})}});
    EXPECT_EQ(names(reg->matchingServices(smart)), (std::vector<std::string>{"Disk"}));
    Value wholeMedia(ValueDictionary{{"IOProviderClass", Value("IOMedia")}, {"Whole", Value(true)}});
    EXPECT_EQ(reg->matchingServices(wholeMedia).size(), 2u);
    EXPECT_TRUE(reg->matchingServices(Value("IOMedia")).empty());  // not a dictionary
    (void)cd;
}

TEST(Registry, PathsIdsAndLiveProperties) {
    RegistryBuilder b;
    auto pe = b.add(nullptr, "IOPlatformExpertDevice", "Linux");
    auto a = b.add(pe, "IOService", "pci0000:00");
    auto d1 = b.add(a, "IOBlockStorageDriver", "IOBlockStorageDriver");
    d1->setLocation("sda");
    auto d2 = b.add(a, "IOBlockStorageDriver", "IOBlockStorageDriver");
    d2->setLocation("sdb");
    int reads = 0;
    d2->setLiveProperty("Statistics", [&reads] { return Value(ValueDictionary{{"Bytes (Read)", Value(++reads)}}); });
    auto reg = b.registry();

    EXPECT_EQ(reg->root()->path(), "IOService:/");
    EXPECT_EQ(d2->path(), "IOService:/Linux/pci0000:00/IOBlockStorageDriver@sdb");
    EXPECT_EQ(reg->entryFromPath(d2->path()), d2);
    EXPECT_EQ(reg->entryFromPath("IOService:/Linux/pci0000:00/IOBlockStorageDriver"), d1);  // bare name: first
    EXPECT_EQ(reg->entryFromPath("IOService:/"), reg->root());
    EXPECT_EQ(reg->entryFromPath("IOService:/Linux/nothing"), nullptr);
    EXPECT_EQ(reg->entryFromPath("IODeviceTree:/Linux"), nullptr);
    EXPECT_EQ(reg->entryWithID(d1->entryID()), d1);
    EXPECT_LT(d1->entryID(), d2->entryID());

    EXPECT_EQ(d2->property("Statistics")["Bytes (Read)"].intValue(), 1);
    EXPECT_EQ(d2->properties()["Statistics"]["Bytes (Read)"].intValue(), 2);
    // An entry outlives its registry and still answers.
    EntryRef kept = d2;
    reg.reset();
    b = RegistryBuilder();
    EXPECT_TRUE(kept->conformsTo("IOStorage"));
}

// The process-wide registry is built again whenever a device comes or goes, anywhere on the
// machine. An entry found before keeps its ancestors, so a walk that started on the old tree
// still reaches the device above a driver; once nobody holds such an entry, the old tree goes.
TEST(Registry, HandedOutEntriesKeepTheirAncestorsAfterTheRegistryIsBuiltAgain) {
    std::weak_ptr<Registry> old;
    EntryRef matched, byPath, byId;
    {
        RegistryBuilder b;
        auto device = b.add(nullptr, "IOBlockStorageDevice", "Disk", {{"Serial", Value("S-1")}});
        auto driver = b.add(device, "IOBlockStorageDriver", "IOBlockStorageDriver");
        driver->setLocation("vda");
        old = b.install();
        auto found = Registry::shared()->matchingServices(Registry::serviceMatching("IOBlockStorageDriver"));
        ASSERT_EQ(found.size(), 1u);
        matched = found[0];
        byPath = Registry::shared()->entryFromPath("IOService:/Disk/IOBlockStorageDriver@vda");
        byId = Registry::shared()->entryWithID(driver->entryID());
    }
    RegistryBuilder fresh;
    fresh.add(nullptr, "IOBlockStorageDevice", "Other");
    fresh.install();
    for (const EntryRef& e : {matched, byPath, byId}) {
        ASSERT_TRUE(e);
        ASSERT_TRUE(e->parent()) << "the device above the driver is gone";
        EXPECT_EQ(e->parent()->property("Serial").stringValue(), "S-1");
    }
    EXPECT_FALSE(old.expired());
    matched.reset();
    byPath.reset();
    byId.reset();
    EXPECT_TRUE(old.expired()) << "the old tree outlives the entries handed out from it";
    Registry::resetForTesting();
}

namespace {

// A small sysfs: a virtio disk with two partitions, a SATA SSD, an unused loop device and a
// RAM-backed zram disk.
class SysfsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/telvo-sysfs-XXXXXX";
        root_ = mkdtemp(tmpl);
        file("class/dmi/id/product_name", "MacBookPro11,3\n");
        const std::string vda = "devices/pci0000:00/0000:00:04.0/virtio1/block/vda";
        dir("bus/pci");
        dir("bus/virtio");
        link("devices/pci0000:00/0000:00:04.0/subsystem", "../../../bus/pci");
        link("devices/pci0000:00/0000:00:04.0/virtio1/subsystem", "../../../../bus/virtio");
        disk(vda, "41943040", "252:0", "1");
        link(vda + "/device", "../../../virtio1");
        file(vda + "/serial", "VIRT-0001\n");
        file("devices/pci0000:00/0000:00:04.0/virtio1/vendor", "0x1af4\n");  // an id, not a name
        file(vda + "/stat", "  100 0 2048 30 50 0 4096 70 0 0 0 0 0 0 0\n");
        partition(vda + "/vda1", "1", "2048", "252:1");
        partition(vda + "/vda2", "2", "41000000", "252:2");
        link("block/vda", "../" + vda);

        const std::string sda = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";
        disk(sda, "1000000", "8:0", "0");
        link(sda + "/device", "../../../0:0:0:0");
        file("devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/vendor", "ATA     \n");
        file("devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/model", "Samsung SSD 860 \n");
        link("block/sda", "../" + sda);

        disk("devices/virtual/block/loop0", "0", "7:0", "1");
        link("block/loop0", "../devices/virtual/block/loop0");
        disk("devices/virtual/block/zram0", "8192", "254:0", "0");
        link("block/zram0", "../devices/virtual/block/zram0");
    }
    void TearDown() override {
        setSysfsRootForTesting("");
        Registry::resetForTesting();
        stdfs::remove_all(root_);
    }

    void dir(const std::string& rel) { stdfs::create_directories(root_ + "/" + rel); }
    void file(const std::string& rel, const std::string& text) {
        stdfs::create_directories(stdfs::path(root_ + "/" + rel).parent_path());
        std::ofstream(root_ + "/" + rel) << text;
    }
    void link(const std::string& rel, const std::string& target) {
        stdfs::create_directories(stdfs::path(root_ + "/" + rel).parent_path());
        stdfs::create_symlink(target, root_ + "/" + rel);
    }
    void disk(const std::string& rel, const std::string& size, const std::string& dev, const std::string& rotational) {
        file(rel + "/size", size + "\n");
        file(rel + "/dev", dev + "\n");
        file(rel + "/queue/rotational", rotational + "\n");
        file(rel + "/queue/logical_block_size", "512\n");
        file(rel + "/removable", "0\n");
        file(rel + "/ro", "0\n");
        file(rel + "/stat", "0 0 0 0 0 0 0 0 0 0 0\n");
    }
    void partition(const std::string& rel, const std::string& number, const std::string& size, const std::string& dev) {
        file(rel + "/partition", number + "\n");
        file(rel + "/size", size + "\n");
        file(rel + "/dev", dev + "\n");
        file(rel + "/ro", "0\n");
    }

    std::string root_;
};

}  // namespace

TEST_F(SysfsFixture, BlockDevicesWithTheirParentsFirst) {
    auto reg = buildFromSysfs(root_);
    auto all = reg->allEntries();
    // Parents always come before their children in registry order.
    for (size_t i = 1; i < all.size(); ++i) {
        auto p = all[i]->parent();
        ASSERT_TRUE(p);
        auto pos = std::find(all.begin(), all.end(), p);
        EXPECT_LT(pos - all.begin(), long(i));
    }

    auto drivers = reg->matchingServices(Registry::nameMatching("IOBlockStorageDriver"));
    ASSERT_EQ(drivers.size(), 2u);  // vda, sda; the empty loop device and zram are left out
    auto vdaMedia = reg->matchingServices(Registry::bsdNameMatching("vda"));
    ASSERT_EQ(vdaMedia.size(), 1u);
    const EntryRef& whole = vdaMedia[0];
    EXPECT_EQ(whole->className(), "IOMedia");
    EXPECT_EQ(whole->property("Size").intValue(), 41943040LL * 512);
    EXPECT_TRUE(whole->property("Whole").boolValue());
    EXPECT_EQ(whole->property("BSD Major").intValue(), 252);
    ASSERT_EQ(whole->children().size(), 1u);
    EntryRef scheme = whole->firstChild();
    EXPECT_EQ(scheme->className(), "IOPartitionScheme");
    EXPECT_EQ(names(scheme->children()), (std::vector<std::string>{"vda1/vda1", "vda2/vda2"}));
    EXPECT_EQ(scheme->children()[1]->property("Partition ID").intValue(), 2);

    EntryRef driver = whole->parent();
    EXPECT_EQ(driver->className(), "IOBlockStorageDriver");
    Value stats = driver->property("Statistics");
    EXPECT_EQ(stats["Operations (Read)"].intValue(), 100);
    EXPECT_EQ(stats["Bytes (Read)"].intValue(), 2048 * 512);
    EXPECT_EQ(stats["Bytes (Write)"].intValue(), 4096 * 512);
    EXPECT_EQ(stats["Total Time (Write)"].intValue(), 70LL * 1000000);

    EntryRef device = driver->parent();
    EXPECT_EQ(device->className(), "IOBlockStorageDevice");
    EXPECT_EQ(device->property("Device Characteristics")["Serial Number"].stringValue(), "VIRT-0001");
    EXPECT_FALSE(device->property("Device Characteristics").has("Vendor Name"));
    EXPECT_EQ(device->property("Device Characteristics")["Product Name"].stringValue(), "vda");
    EXPECT_EQ(whole->name(), "vda Media");
    EXPECT_EQ(device->property("Device Characteristics")["Medium Type"].stringValue(), "Rotational");
    EXPECT_EQ(device->property("Protocol Characteristics")["Physical Interconnect"].stringValue(), "Virtio");
    EXPECT_EQ(device->path(), "IOService:/MacBookPro11,3/pci0000:00/0000:00:04.0/virtio1/vda@vda");
    EXPECT_EQ(device->parent()->className(), "IOService");
    EXPECT_EQ(device->parent()->parent()->className(), "IOPCIDevice");

    auto sda = reg->matchingServices(Registry::bsdNameMatching("sda"));
    ASSERT_EQ(sda.size(), 1u);
    EXPECT_EQ(sda[0]->name(), "ATA Samsung SSD 860 Media");
    Value sdaChars = sda[0]->parent()->parent()->property("Device Characteristics");
    EXPECT_EQ(sdaChars["Vendor Name"].stringValue(), "ATA");
    EXPECT_EQ(sdaChars["Product Name"].stringValue(), "Samsung SSD 860");
    EXPECT_EQ(sdaChars["Medium Type"].stringValue(), "Solid State");
    EXPECT_EQ(sda[0]->parent()->parent()->property("Protocol Characteristics")["Physical Interconnect"].stringValue(),
              "SATA");
    EXPECT_TRUE(sda[0]->property("Leaf").boolValue());
}

TEST_F(SysfsFixture, SharedRegistryReadsTheReplaceableRoot) {
    setSysfsRootForTesting(root_);
    Registry::resetForTesting();
    EXPECT_EQ(Registry::shared()->matchingServices(Registry::serviceMatching("IOMedia")).size(), 4u);
    stdfs::remove_all(root_ + "/block/sda");
    Registry::refreshShared();
    EXPECT_EQ(Registry::shared()->matchingServices(Registry::serviceMatching("IOMedia")).size(), 3u);
}

TEST(SysfsRegistry, MissingTreeGivesPlatformExpertOnly) {
    auto reg = buildFromSysfs("/nonexistent/sysfs");
    EXPECT_EQ(reg->allEntries().size(), 2u);
    EXPECT_EQ(reg->matchingServices(Registry::serviceMatching("IOPlatformExpertDevice"))[0]->name(), "Linux");
}

TEST_F(SysfsFixture, DiskIdentityPropertiesAndWhichVirtualDevicesStay) {
    // The SATA disk's SCSI device gives the logical unit and the unit serial page; the disk
    // has no serial file, so its wwid is the serial.
    const std::string scsi = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
    dir("bus/scsi");
    link(scsi + "/subsystem", "../../../../../../../bus/scsi");
    file(scsi + "/wwid", "t10.ATA Samsung 860 S3Z\n");
    file(scsi + "/vpd_pg80", std::string("\0\x80\0\x05S3Z01", 9));
    file(scsi + "/block/sda/sda1/partition", "1\n");
    file(scsi + "/block/sda/sda1/size", "2048\n");
    file(scsi + "/block/sda/sda1/dev", "8:1\n");
    file(scsi + "/block/sda/sda1/uevent", "MAJOR=8\nMINOR=1\nPARTN=1\nPARTUUID=0f8a-77\n");
    // An attached loop device stays; a mapper device and software RAID do not.
    file("devices/virtual/block/loop0/loop/backing_file", "/tmp/image\n");
    file("devices/virtual/block/loop0/size", "2048\n");
    disk("devices/virtual/block/dm-0", "4096", "253:0", "1");
    link("block/dm-0", "../devices/virtual/block/dm-0");

    auto reg = buildFromSysfs(root_);
    std::vector<std::string> drivers;
    for (const auto& d : reg->matchingServices(Registry::serviceMatching("IOBlockStorageDriver")))
        drivers.push_back(d->location());
    EXPECT_EQ(drivers, (std::vector<std::string>{"loop0", "sda", "vda"}));

    EntryRef sda = reg->matchingServices(Registry::bsdNameMatching("sda"))[0];
    EntryRef device = sda->parent()->parent();
    EXPECT_EQ(device->property("Device Characteristics")["Serial Number"].stringValue(), "t10.ATA Samsung 860 S3Z");
    EXPECT_EQ(device->property("Protocol Characteristics")["SCSI Logical Unit Number"].intValue(), 0);
    EXPECT_EQ(device->parent()->property("INQUIRY Unit Serial Number").stringValue(), "S3Z01");
    // The partition stands three levels below the driver, with its entry's UUID.
    EntryRef part = sda->firstChild()->firstChild();
    ASSERT_TRUE(part);
    EXPECT_EQ(part->bsdName(), "sda1");
    EXPECT_EQ(part->property("UUID").stringValue(), "0f8a-77");
    EXPECT_EQ(part->property("Partition ID").intValue(), 1);

    EntryRef loop = reg->matchingServices(Registry::bsdNameMatching("loop0"))[0];
    EXPECT_EQ(loop->parent()->parent()->property("Protocol Characteristics")["Physical Interconnect"].stringValue(),
              "Virtual Interface");
}
