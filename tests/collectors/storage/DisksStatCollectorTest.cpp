// The volumes collector on a fixture machine: which volumes become items and are sent, the
// sizes per protocol, unmounting, network volumes read off the main queue, and the migration
// of old mebibyte rows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>

#include "collectors/framework/TestCollectors.h"
#include "collectors/storage/StorageFixture.h"

using namespace telvo;
using namespace telvo::storagetest;

namespace {

const double kGiB = 1024.0 * 1024.0 * 1024.0;

class DisksTest : public StorageFixture {
protected:
    // An LVM root (dm-0); sda: an EFI system partition and a data partition (also bind-mounted
    // elsewhere); a disk image (loop0) and a CD; an NFS share; pseudo file systems.
    void SetUp() override {
        StorageFixture::SetUp();
        const std::string sda = scsiDisk("sda", 0, 0, 100000000, "8:0", "ATA", "Disk A");
        partition(sda, "sda1", 1, 200000, "8:1");
        partition(sda, "sda2", 2, 90000000, "8:2");
        udev("8:1", {{"ID_FS_TYPE", "vfat"}, {"ID_FS_UUID", "ABCD-1234"},
                     {"ID_PART_ENTRY_TYPE", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"}});
        udev("8:2", {{"ID_FS_TYPE", "ext4"}, {"ID_FS_UUID", "data-uuid"}, {"ID_FS_LABEL", "A&B <data>"}});
        virtualDisk("dm-0", 40000000, "253:0");
        file("/sys/devices/virtual/block/dm-0/dm/name", "vg-root\n");
        udev("253:0", {{"ID_FS_TYPE", "xfs"}, {"ID_FS_UUID", "root-uuid"}});
        const std::string loop = virtualDisk("loop0", 32768, "7:0");
        file(loop + "/loop/backing_file", "/tmp/image.img\n");
        udev("7:0", {{"ID_FS_TYPE", "ext4"}, {"ID_FS_UUID", "image-uuid"}});
        const std::string sr = scsiDisk("sr0", 2, 0, 1000000, "11:0", "HL-DT-ST", "DVD");
        udev("11:0", {{"ID_FS_TYPE", "iso9660"}});
        mounts(kMounts);
        capacity("/", 40 * kGiB, 10 * kGiB);
        capacity("/data", 20 * kGiB, 15 * kGiB);
        capacity("/mnt/img", 1024.0 * 1024 * 16, 1024.0 * 1024 * 8);
        capacity("/media/cd", 600.0 * 1024 * 1024, 0);
        capacity("/mnt/my share", 100 * kGiB, 50 * kGiB);
        capacity("/boot/efi", 100.0 * 1024 * 1024, 90.0 * 1024 * 1024);
    }

    std::shared_ptr<DisksStatCollectorMac> start() {
        startDiskInfo();
        auto disks = DisksStatCollectorMac::sharedDiskCollector();
        startCollector(*disks);
        settle();
        return disks;
    }
    // Ticks, letting each tick's network reads come back within its second.
    void tickAndWait(const std::shared_ptr<DisksStatCollectorMac>& disks, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return disks->outstandingNetworkReads() == 0; }, 30.0));
            dispatch::MainLoop::runFor(1.0);
        }
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return disks->outstandingNetworkReads() == 0; }, 30.0));
    }
    static std::shared_ptr<DiskStatCollectorItem> item(const std::shared_ptr<DisksStatCollectorMac>& disks,
                                                       const std::string& key) {
        for (const auto& i : disks->items())
            if (i->key() == key) return std::static_pointer_cast<DiskStatCollectorItem>(i);
        return nullptr;
    }
    std::vector<std::string> keys(const std::shared_ptr<DisksStatCollectorMac>& disks) {
        std::vector<std::string> k;
        for (const auto& i : disks->items()) k.push_back(i->key());
        return k;
    }

    static constexpr const char* kMounts =
        "22 1 0:21 / /proc rw - proc proc rw\n"
        "23 1 0:22 / /sys rw - sysfs sysfs rw\n"
        "40 1 8:2 /srv /srv rw - ext4 /dev/sda2 rw\n"
        "28 1 253:0 / / rw - xfs /dev/mapper/vg-root rw\n"
        "29 28 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
        "30 28 8:2 / /data rw - ext4 /dev/sda2 rw\n"
        "31 28 0:40 / /tmp rw - tmpfs tmpfs rw\n"
        "32 28 0:41 / /var/lib/docker/overlay rw - overlay overlay rw\n"
        "33 28 7:0 / /mnt/img rw - ext4 /dev/loop0 rw\n"
        "34 28 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
        "35 28 0:50 / /mnt/my\\040share rw - nfs4 server:/export/share rw\n"
        "36 28 0:51 / /net rw - autofs systemd-1 rw\n";
};

}  // namespace

TEST_F(DisksTest, VolumesSentAndSampledPerProtocol) {
    auto disks = start();
    tickAndWait(disks, 4);
    // In the order the disks appeared; no EFI partition, pseudo file system or automounter.
    EXPECT_EQ(keys(disks), (std::vector<std::string>{"root-uuid", "image-uuid", "data-uuid", "sr0",
                                                     "file:///mnt/my%20share/"}));
    auto root = item(disks, "root-uuid");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->path, "/");
    EXPECT_EQ(root->storageSize, 40 * kGiB);
    EXPECT_EQ(root->storageUsed, 30 * kGiB);
    EXPECT_DOUBLE_EQ(root->storagePercentage, 75.0);
    EXPECT_EQ(root->bsd, "dm-0");
    EXPECT_EQ(root->type, 0);  // an LVM root is an ordinary, sent volume with history
    EXPECT_FALSE(root->nohistory());
    EXPECT_EQ(item(disks, "data-uuid")->path, "/data");  // not the bind mount
    auto image = item(disks, "image-uuid");
    EXPECT_EQ(image->type, 3);
    EXPECT_EQ(image->storageSize, 1024.0 * 1024 * 16);  // sampled, though never sent
    EXPECT_TRUE(image->nohistory());
    auto share = item(disks, "file:///mnt/my%20share/");
    EXPECT_EQ(share->type, 2);
    EXPECT_TRUE(share->ejectable);
    EXPECT_EQ(share->storageSize, 100 * kGiB);
    EXPECT_GT(share->lastUpdate, 0);

    expectGolden("disks_v2.xml", disks->xmlNodesFromAttributes(request("-1", 2)));
    expectGolden("disks_v3.xml", disks->xmlNodesFromAttributes(request("-1", 3)));
}

TEST_F(DisksTest, UnmountRemovesTheVolumeAndRaisesTheSessionByTwo) {
    auto disks = start();
    tickAndWait(disks, 3);
    const int64_t session = disks->session();
    const double lastID = item(disks, "root-uuid")->sampleAtIndex(0, 0).sampleID;
    std::string table = kMounts;
    table.erase(table.find("33 28 7:0"), table.find("34 28") - table.find("33 28 7:0"));
    mounts(table);
    mountTableChanged();
    EXPECT_EQ(disks->session(), session + 2);
    EXPECT_FALSE(item(disks, "image-uuid"));
    // The disk change took no sample: the tick's number stays used once.
    EXPECT_EQ(item(disks, "root-uuid")->sampleAtIndex(0, 0).sampleID, lastID);
    EXPECT_LT(item(disks, "root-uuid")->sampleAtIndex(1, 0).sampleID, lastID);
}

TEST_F(DisksTest, DiskEventsRefreshTheVolumesAndAddNoSample) {
    auto disks = start();
    tickAndWait(disks, 3);
    const double firstID = item(disks, "root-uuid")->sampleAtIndex(0, 0).sampleID;
    // A loop device attached, mounted, unmounted and detached, many times within a second and
    // across the ticks, as other users' images on a shared host come and go.
    const int64_t sessionBefore = disks->session();
    for (int cycle = 0; cycle < 21; ++cycle) {
        virtualDisk("loop1", 32768, "7:1");
        udev("7:1", {{"ID_FS_TYPE", "ext4"}, {"ID_FS_UUID", "cycle-uuid"}});
        event("add", "/devices/virtual/block/loop1");
        mounts(std::string(kMounts) + "37 28 7:1 / /mnt/cycle rw - ext4 /dev/loop1 rw\n");
        mountTableChanged();
        EXPECT_TRUE(item(disks, "cycle-uuid")) << "the change refreshes the volumes at once, cycle " << cycle;
        mounts(kMounts);
        mountTableChanged();
        EXPECT_FALSE(item(disks, "cycle-uuid")) << cycle;
        removeDisk("loop1");
        event("remove", "/devices/virtual/block/loop1");
        if (cycle % 7 == 6) tickAndWait(disks, 1);
    }
    tickAndWait(disks, 6);
    EXPECT_GE(disks->session(), sessionBefore + 2 * 21);
    // One sample per sampling tick, each number once: the ids run down by one slot by slot.
    statsample* ring = item(disks, "root-uuid")->storageForType(0);
    const double newestID = ring[0].sampleID;
    EXPECT_EQ(newestID, disks->idForInterval(0));
    int64_t samples = 0;
    for (int64_t s = 0; s < kSamplesPerLevel && !ring[s].empty; ++s) {
        if (s > 0) {
            EXPECT_EQ(ring[s].sampleID, ring[s - 1].sampleID - 1) << "slot " << s;
        }
        ++samples;
    }
    // Level 0's numbering starts at 1 and the first sample is number 2.
    EXPECT_EQ(double(samples), newestID - 1) << "every sample since the start, none repeated";
    EXPECT_GT(newestID, firstID);
}

TEST_F(DisksTest, OneNetworkReadAtATimeLateAnswersDroppedAppliedByKey) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    int reads = 0;
    DisksStatCollectorMac::setCapacityReaderForTesting([&](const std::string& path) {
        if (path != "/mnt/my share") return DisksStatCollectorMac::Capacity{true, 10 * kGiB, 5 * kGiB};
        std::unique_lock<std::mutex> lock(m);
        ++reads;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        return DisksStatCollectorMac::Capacity{true, 100 * kGiB, 50 * kGiB};
    });
    auto waitForReads = [&](int n) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(30), [&] { return reads >= n; });
    };
    auto share = [&] { return item(DisksStatCollectorMac::sharedDiskCollector(), "file:///mnt/my%20share/"); };
    std::vector<std::string> log;
    fwtest::LogCapture capture(log);
    auto logged = [&](const std::string& text) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    auto disks = start();
    dispatch::MainLoop::runFor(1.0);  // the first volume tick
    ASSERT_TRUE(waitForReads(1));
    // The share does not answer: every volume tick would start another read, but one hangs.
    for (int i = 0; i < 12; ++i) dispatch::MainLoop::runFor(1.0);
    EXPECT_EQ(disks->outstandingNetworkReads(), 1u);
    EXPECT_TRUE(logged("does not answer"));
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_EQ(reads, 1);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return disks->outstandingNetworkReads() == 0; }, 30.0));
    // It answered after the time-out: dropped; never read, so the next volume tick asks again.
    EXPECT_EQ(share()->storageSize, 0);
    EXPECT_TRUE(logged("answered too late"));
    tickAndWait(disks, 3);
    EXPECT_EQ(share()->storageSize, 100 * kGiB);

    // A share unmounted while its read hangs: the late answer touches nothing.
    {
        std::lock_guard<std::mutex> lock(m);
        release = false;
    }
    const int before = reads;
    for (int i = 0; i < 36; ++i) dispatch::MainLoop::runFor(1.0);
    ASSERT_TRUE(waitForReads(before + 1));
    std::string table = kMounts;
    table.erase(table.find("35 28"), table.find("36 28") - table.find("35 28"));
    mounts(table);
    mountTableChanged();
    EXPECT_FALSE(share());
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return disks->outstandingNetworkReads() == 0; }, 30.0));
    EXPECT_FALSE(share());
}

TEST_F(DisksTest, OldMebibyteRowsAreMigratedOnce) {
    // A history file of the older format: no "format" column, sizes in mebibytes.
    fs::createDirectories("/Library/Application Support/Telvo Server/databases");
    sql(fwtest::kLocalDB,
        "create table hour_diskhistory (sample double NOT NULL, time double NOT NULL DEFAULT 0, uuid varchar(100) NOT "
        "NULL, used double NOT NULL DEFAULT 0, free double NOT NULL DEFAULT 0, size double NOT NULL); insert into "
        "hour_diskhistory values (1, 1699990000, 'root-uuid', 3, 1, 4);");
    sql(fwtest::kLongTermDB,
        "create table diskhistory (sample double, time double NOT NULL DEFAULT 0, empty integer NOT NULL DEFAULT 0, "
        "uuid varchar(100), used double NOT NULL DEFAULT 0, free double NOT NULL DEFAULT 0, size double NOT NULL "
        "DEFAULT 0); insert into diskhistory values (1, 1699990000, 0, 'root-uuid', 2, 2, 4);");
    DisksStatCollectorMac disks;
    disks.setDbpath(fwtest::kLocalDB);
    disks.setDbpathLong(fwtest::kLongTermDB);
    EXPECT_TRUE(disks.prepareDatabase(false));
    EXPECT_EQ(sql(fwtest::kLocalDB, "select used, free, size, format from hour_diskhistory"),
              "3145728.0|1048576.0|4194304.0|1.0");
    EXPECT_EQ(sql(fwtest::kLongTermDB, "select used, free, size, format from diskhistory"),
              "2097152.0|2097152.0|4194304.0|1.0");
    // A second start changes nothing.
    DisksStatCollectorMac again;
    again.setDbpath(fwtest::kLocalDB);
    again.setDbpathLong(fwtest::kLongTermDB);
    again.prepareDatabase(false);
    EXPECT_EQ(sql(fwtest::kLocalDB, "select used, free, size, format from hour_diskhistory"),
              "3145728.0|1048576.0|4194304.0|1.0");
    // New tables got the column too.
    EXPECT_EQ(sql(fwtest::kLocalDB, "select count(*) from pragma_table_info('day_diskhistory') where name = 'format'"),
              "1");
}

TEST_F(DisksTest, VolumeWithAnAnonymousDeviceNumberFoundThroughItsSource) {
    // btrfs reports "0:N" in the mount table; its source names the partition's node.
    if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: making a device node for the fixture needs root";
    partition("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda",
              "sda3", 3, 100000, "8:3");
    udev("8:3", {{"ID_FS_TYPE", "btrfs"}, {"ID_FS_UUID", "btrfs-uuid"}});
    stdfs::create_directories(machine_ + "/dev");
    ASSERT_EQ(mknod((machine_ + "/dev/sda3").c_str(), S_IFBLK | 0600, makedev(8, 3)), 0) << strerror(errno);
    mounts(std::string(kMounts) + "60 28 0:77 / /btr rw - btrfs /dev/sda3 rw\n");
    capacity("/btr", 8 * kGiB, 4 * kGiB);
    auto disks = start();
    tickAndWait(disks, 3);
    auto btr = item(disks, "btrfs-uuid");
    ASSERT_TRUE(btr);
    EXPECT_EQ(btr->path, "/btr");
    EXPECT_EQ(btr->storageSize, 8 * kGiB);
}
