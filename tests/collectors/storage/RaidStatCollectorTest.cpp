// The RAID collector on fixture machines with md sets: the registry shape, the wire form of a
// mirror, members that fail, rebuild or wait as spares, nested sets, the scans after disk
// changes and on the clock; and the SoftRAID and CoreStorage collectors on fixture registries.
#include <gtest/gtest.h>

#include "collectors/storage/CoreStorageStatCollector.h"
#include "collectors/storage/RaidStatCollectorMac.h"
#include "collectors/storage/SoftRAIDStatCollector.h"
#include "collectors/storage/StorageFixture.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/time/Clock.h"

using namespace telvo;
using namespace telvo::storagetest;

namespace {

class RaidTest : public StorageFixture {
protected:
    void SetUp() override {
        StorageFixture::SetUp();
        const std::string sda = scsiDisk("sda", 0, 0, 100000, "8:0", "ATA", "Disk A");
        const std::string sdb = scsiDisk("sdb", 1, 0, 100000, "8:16", "ATA", "Disk B");
        partition(sda, "sda1", 1, 90000, "8:1");
        partition(sdb, "sdb1", 1, 90000, "8:17");
        sda1_ = sda + "/sda1";
        sdb1_ = sdb + "/sdb1";
        udev("8:1", {{"ID_FS_UUID_SUB", "aaaa-1111"}});
        udev("8:17", {{"ID_FS_UUID_SUB", "bbbb-2222"}});
    }
    void TearDown() override {
        RaidStatCollectorMac::resetForTesting();
        SoftRAIDStatCollector::resetForTesting();
        CoreStorageStatCollector::resetForTesting();
        StorageFixture::TearDown();
    }
    // An md set with its members: (member folder, state, slot, recovery_start).
    struct Member {
        std::string folder, state, slot, recovery;
    };
    std::string mdSet(const std::string& md, const std::string& dev, const std::string& uuid,
                      const std::vector<Member>& members, const std::string& degraded = "0",
                      const std::string& sync = "idle") {
        const std::string dir = virtualDisk(md, 180000, dev);
        file(dir + "/md/level", "raid1\n");
        file(dir + "/md/array_state", "clean\n");
        file(dir + "/md/degraded", degraded + "\n");
        file(dir + "/md/sync_action", sync + "\n");
        file(dir + "/md/raid_disks", std::to_string(members.size()) + "\n");
        file(dir + "/md/uuid", uuid + "\n");
        for (const Member& m : members) member(dir, m);
        return dir;
    }
    void member(const std::string& dir, const Member& m) {
        const std::string bsd = stdfs::path(m.folder).filename().string();
        const std::string d = dir + "/md/dev-" + bsd;
        file(d + "/state", m.state + "\n");
        file(d + "/slot", m.slot + "\n");
        file(d + "/recovery_start", m.recovery + "\n");
        link(d + "/block", machine_ + m.folder);
    }
    std::shared_ptr<RaidStatCollectorMac> scan() {
        registry::Registry::refreshShared();
        auto c = RaidStatCollectorMac::sharedRaidCollector();
        c->fetchDisks();
        return c;
    }
    static std::shared_ptr<RaidStatCollectorItem> item(RaidStatCollector& c, size_t i = 0) {
        return std::static_pointer_cast<RaidStatCollectorItem>(c.items().at(i));
    }
    static Value wire() { return Value(ValueDictionary{{"samples", Value("0")}, {"protocol", Value(3)}}); }

    std::string sda1_, sdb1_;
};

}  // namespace

TEST_F(RaidTest, MirrorInTheRegistryAndOnTheWire) {
    const std::string md0 = mdSet("md0", "9:0", "11111111:22222222:33333333:44444444",
                                  {{sda1_, "in_sync", "0", "none"}, {sdb1_, "in_sync", "1", "none"}});
    udev("9:0", {{"MD_NAME", "fixture:mirror"}});
    auto c = scan();
    ASSERT_EQ(c->items().size(), 1u);
    auto set = item(*c);
    EXPECT_EQ(set->key(), "11111111:22222222:33333333:44444444");
    EXPECT_EQ(set->bsd, "md0") << "the set's medium under the first member";
    EXPECT_EQ(set->name, "fixture:mirror");
    EXPECT_EQ(set->status, "Online");
    EXPECT_EQ(set->type, "raid1");
    ASSERT_EQ(set->members.size(), 2u);
    EXPECT_EQ(set->members[0]->bsd, "sda1");
    EXPECT_EQ(set->members[0]->key, "aaaa-1111");
    EXPECT_EQ(set->members[1]->bsd, "sdb1");

    // The md medium sits once in the registry, under the first member's set object.
    auto media = registry::Registry::shared()->matchingServices(registry::Registry::bsdNameMatching("md0"));
    ASSERT_EQ(media.size(), 1u);
    EXPECT_EQ(media[0]->parent()->className(), "AppleRAIDSet");
    EXPECT_EQ(media[0]->parent()->parent()->parent()->bsdName(), "sda1");

    c->setSession(5);
    expectGolden("raid.xml", c->xmlNodesFromAttributes(wire()));
}

TEST_F(RaidTest, FailingRebuildingAndSpareMembers) {
    udev("8:17", {});  // no member UUID: the fallback key
    const std::string sdc = scsiDisk("sdc", 2, 0, 100000, "8:32", "ATA", "Disk C");
    const std::string sdd = scsiDisk("sdd", 3, 0, 100000, "8:48", "ATA", "Disk D");
    const std::string md0 = mdSet("md0", "9:0", "u0",
                                  {{sda1_, "in_sync", "0", "none"},
                                   {sdb1_, "in_sync", "1", "none"},
                                   {sdc, "spare", "2", "4096"},
                                   {sdd, "spare", "none", "none"}},
                                  "1", "recover");
    auto c = scan();
    ASSERT_EQ(c->items().size(), 1u);
    auto set = item(*c);
    EXPECT_EQ(set->status, "Rebuilding");
    ASSERT_EQ(set->members.size(), 4u);
    EXPECT_EQ(set->members[1]->key, "u0/dev-sdb1") << "metadata without member UUIDs";
    EXPECT_EQ(set->members[2]->status, "Rebuilding") << "a spare holding a slot is being rebuilt";
    EXPECT_EQ(set->members[3]->status, "Spare");

    // A member marked faulty shows at the next scan, under a new session.
    const int64_t session = c->session();
    file(md0 + "/md/dev-sdb1/state", "faulty\n");
    file(md0 + "/md/sync_action", "idle\n");
    c->fetchDisks();  // the registry is not rebuilt: the states are read live
    EXPECT_GT(c->session(), session);
    EXPECT_EQ(set->members[1]->status, "Failed");
    EXPECT_EQ(set->status, "Degraded");

    // A member that leaves the set is dropped; a set that goes away is removed.
    stdfs::remove_all(machine_ + md0 + "/md/dev-sdb1");
    c = scan();
    EXPECT_EQ(item(*c)->members.size(), 3u);
    stdfs::remove_all(machine_ + md0);
    removeDisk("md0");
    c = scan();
    EXPECT_TRUE(c->items().empty());
}

TEST_F(RaidTest, NestedSets) {
    const std::string sdc = scsiDisk("sdc", 2, 0, 100000, "8:32", "ATA", "Disk C");
    const std::string sdd = scsiDisk("sdd", 3, 0, 100000, "8:48", "ATA", "Disk D");
    // md2 mirrors md0 and md1, which come after it in name order.
    mdSet("md0", "9:0", "u0", {{sda1_, "in_sync", "0", "none"}, {sdb1_, "in_sync", "1", "none"}});
    mdSet("md1", "9:1", "u1", {{sdc, "in_sync", "0", "none"}, {sdd, "in_sync", "1", "none"}});
    mdSet("md2", "9:2", "u2",
          {{"/sys/devices/virtual/block/md0", "in_sync", "0", "none"},
           {"/sys/devices/virtual/block/md1", "in_sync", "1", "none"}});
    auto c = scan();
    ASSERT_EQ(c->items().size(), 3u);
    std::map<std::string, std::shared_ptr<RaidStatCollectorItem>> byKey;
    for (size_t i = 0; i < 3; ++i) byKey[item(*c, i)->key()] = item(*c, i);
    EXPECT_EQ(byKey["u2"]->bsd, "md2");
    ASSERT_EQ(byKey["u2"]->members.size(), 2u);
    EXPECT_EQ(byKey["u2"]->members[0]->bsd, "md0");
    EXPECT_EQ(byKey["u2"]->members[1]->bsd, "md1");

    // A set object whose first child is the set object of an inner set takes the BSD name of
    // that child's first child.
    registry::RegistryBuilder b;
    auto disk = b.add(nullptr, "IOMedia", "disk", {{"BSD Name", Value("disk2")}});
    auto memberObject = b.add(disk, "AppleRAIDMember", "m",
                              {{"CFBundleIdentifier", Value("com.apple.driver.AppleRAID")},
                               {"AppleRAID-MemberUUID", Value("M1")},
                               {"AppleRAID-SetUUID", Value("OUTER")}});
    auto outer = b.add(memberObject, "AppleRAIDSet", "outer", {{"AppleRAID-SetUUID", Value("OUTER")}});
    auto inner = b.add(outer, "AppleRAIDSet", "inner", {{"AppleRAID-SetUUID", Value("INNER")}});
    b.add(inner, "IOMedia", "vol", {{"BSD Name", Value("disk9")}});
    b.install();
    c->fetchDisks();
    ASSERT_EQ(c->items().size(), 1u);
    EXPECT_EQ(item(*c)->bsd, "disk9");
}

TEST_F(RaidTest, ScansOnTheClockAndAfterDiskChanges) {
    auto c = scan();
    const int base = c->scans();
    EXPECT_TRUE(c->shouldUpdateStateForSequence(0));
    EXPECT_FALSE(c->shouldUpdateStateForSequence(30)) << "no sets: only sequence 0";

    // Two notifications 1 s apart: a scan 2 s after each.
    notify::NotificationCenter::defaultCenter().post(storage::kDiskChangedNotification);
    platform::Clock::advance(1.0);
    dispatch::MainLoop::runUntilIdle();
    notify::NotificationCenter::defaultCenter().post(storage::kDiskChangedNotification);
    platform::Clock::advance(0.9);
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(c->scans(), base);
    platform::Clock::advance(0.2);
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(c->scans(), base + 1) << "2 s after the first";
    platform::Clock::advance(1.0);
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(c->scans(), base + 2) << "2 s after the second";

    mdSet("md0", "9:0", "u0", {{sda1_, "in_sync", "0", "none"}, {sdb1_, "in_sync", "1", "none"}});
    c = scan();
    EXPECT_TRUE(c->shouldUpdateStateForSequence(30)) << "with a set: every 30 ticks";
    EXPECT_FALSE(c->shouldUpdateStateForSequence(31));
}

TEST_F(RaidTest, SoftRAIDVolumesOnAFixtureRegistry) {
    auto c = SoftRAIDStatCollector::sharedSoftRaidCollector();
    EXPECT_EQ(c->session(), 1);
    c->fetchDisks();
    EXPECT_TRUE(c->items().empty()) << "no driver: nothing";
    EXPECT_EQ(c->session(), 2);
    EXPECT_TRUE(c->shouldUpdateStateForSequence(30));
    EXPECT_FALSE(c->shouldUpdateStateForSequence(31));

    EXPECT_EQ(SoftRAIDStatCollector::rootBSDDiskForKey("disk3s2"), "disk3");
    EXPECT_EQ(SoftRAIDStatCollector::rootBSDDiskForKey("disk10"), "disk10");
    EXPECT_EQ(SoftRAIDStatCollector::rootBSDDiskForKey("sda2"), "sda2");

    registry::RegistryBuilder b;
    b.add(nullptr, "IOMedia", "SoftRAID_Media",
          {{"BSD Name", Value("disk5")},
           {"SoftRAID Volume ID", Value(12)},
           {"SoftRAID Provider Array", Value(ValueArray{Value("disk2s2"), Value("disk3s2")})}});
    b.add(nullptr, "IOMedia", "SoftRAID_Media", {{"BSD Name", Value("disk6")}});
    b.add(nullptr, "IOMedia", "SoftRAID_Media", {{"SoftRAID Volume ID", Value(13)}});  // no BSD name
    b.install();
    c->fetchDisks();
    c->setSession(9);
    expectGolden("softraid.xml", c->xmlNodesFromAttributes(wire()));
}

TEST_F(RaidTest, CoreStorageGroupsOnAFixtureRegistry) {
    auto c = CoreStorageStatCollector::sharedCoreStorageCollector();
    EXPECT_TRUE(c->description().empty());
    registry::RegistryBuilder b;
    for (const char* disk : {"disk0", "disk1"}) {
        auto whole = b.add(nullptr, "IOMedia", disk, {{"BSD Name", Value(disk)}});
        auto part = b.add(b.add(whole, "IOPartitionScheme", "scheme"), "IOMedia", "part",
                          {{"BSD Name", Value(std::string(disk) + "s2")}});
        b.add(part, "CoreStoragePhysical", "pv",
              {{"CFBundleIdentifier", Value("com.apple.driver.CoreStorage")},
               {"com.apple.corestorage.lvg.uuid", Value("G1")},
               {"com.apple.corestorage.pv.uuid", Value(std::string("PV-") + disk)},
               {"com.apple.corestorage.pv.status", Value("Online")}});
    }
    auto group = b.add(nullptr, "CoreStorageGroup", "group", {{"com.apple.corestorage.lvg.uuid", Value("G1")}});
    b.add(group, "IOMedia", "Macintosh HD", {{"BSD Name", Value("disk2")}});
    b.add(nullptr, "CoreStorageGroup", "lonely", {{"com.apple.corestorage.lvg.uuid", Value("G2")}});
    b.install();
    c->fetchDisks();
    ASSERT_EQ(c->items().size(), 1u) << "a group without physical volumes is dropped";
    auto g = std::static_pointer_cast<CoreStorageStatCollectorItem>(c->items()[0]);
    EXPECT_EQ(g->bsd, "disk2");
    EXPECT_EQ(g->name, "Macintosh HD");
    ASSERT_EQ(g->members.size(), 2u);
    EXPECT_EQ(g->members[0]->bsd, "disk0");
    EXPECT_EQ(g->members[1]->bsd, "disk1");

    registry::RegistryBuilder().install();
    c->fetchDisks();
    EXPECT_TRUE(c->items().empty()) << "a group whose volumes are gone is removed";
}
