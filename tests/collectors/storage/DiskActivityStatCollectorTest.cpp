// The disk activity collector on a fixture machine: items keyed by serial and logical unit
// with the old rows moved once, rates from the driver counters, which disks get items, and
// disks plugged in while it runs.
#include <gtest/gtest.h>

#include "collectors/storage/StorageFixture.h"

using namespace telvo;
using namespace telvo::storagetest;

namespace {

class DiskActivityTest : public StorageFixture {
protected:
    void SetUp() override {
        StorageFixture::SetUp();
        sda_ = scsiDisk("sda", 0, 0, 100000000, "8:0", "ATA", "Disk A");
        file(sda_ + "/serial", "S N 123\n");
        // A disk image: no item.
        const std::string loop = virtualDisk("loop0", 32768, "7:0");
        file(loop + "/loop/backing_file", "/tmp/image.img\n");
    }
    std::shared_ptr<DiskActivityStatCollectorMac> start() {
        startDiskInfo();
        auto c = DiskActivityStatCollectorMac::sharedDiskActivityCollector();
        startCollector(*c);
        settle();
        return c;
    }
    // /sys/block/<d>/stat: reads, sectors read, writes, sectors written.
    void counters(const std::string& dir, long long reads, long long sectorsRead, long long writes,
                  long long sectorsWritten) {
        file(dir + "/stat", std::to_string(reads) + " 0 " + std::to_string(sectorsRead) + " 0 " +
                                std::to_string(writes) + " 0 " + std::to_string(sectorsWritten) + " 0 0 0 0\n");
    }
    std::string sda_;
};

}  // namespace

TEST_F(DiskActivityTest, SerialAndUnitKeyWithTheOldRowsMovedOnce) {
    const char* create =
        "create table %s (sample double NOT NULL, time double NOT NULL DEFAULT 0, uuid varchar(100) NOT NULL, read "
        "double NOT NULL DEFAULT 0, write double NOT NULL DEFAULT 0, readIOPS double NOT NULL DEFAULT 0, writeIOPS "
        "double NOT NULL DEFAULT 0); insert into %s (sample, time, uuid, write) values (1, 1699990000, 'SN123', 7);";
    char text[1024];
    snprintf(text, sizeof text, create, "hour_diskactivityhistory", "hour_diskactivityhistory");
    sql(fwtest::kLocalDB, text);
    snprintf(text, sizeof text, create, "diskactivityhistory", "diskactivityhistory");
    sql(fwtest::kLongTermDB, text);

    auto c = start();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return c->migratedUUIDS().count("SN123_0") == 1; }, 30.0));
    ASSERT_EQ(c->items().size(), 1u);  // the disk image has none
    EXPECT_EQ(c->items()[0]->key(), "SN123_0");
    EXPECT_FALSE(c->items()[0]->nohistory());
    EXPECT_EQ(sql(fwtest::kLocalDB, "select uuid, write from hour_diskactivityhistory"), "SN123_0|7.0");
    EXPECT_EQ(sql(fwtest::kLongTermDB, "select uuid, write from diskactivityhistory"), "SN123_0|7.0");

    // Once per run: a later match moves nothing more.
    sql(fwtest::kLocalDB, "insert into hour_diskactivityhistory (sample, time, uuid) values (2, 1699990100, 'SN123')");
    c->updateHardwareInfo();
    flush();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(sql(fwtest::kLocalDB, "select count(*) from hour_diskactivityhistory where uuid = 'SN123'"), "1");
}

TEST_F(DiskActivityTest, RatesFromTheDriverCountersAndCumulativeTotalsOnTheWire) {
    counters(sda_, 100, 2000, 50, 8000);
    auto c = start();
    ASSERT_EQ(c->items().size(), 1u);
    auto item = std::static_pointer_cast<DiskActivityStatCollectorItem>(c->items()[0]);
    dispatch::MainLoop::runFor(1.0);
    statsample s = item->sampleAtIndex(0, 0);
    ASSERT_TRUE(s.values);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.values[i], 0) << "the first sample is 0, value " << i;

    counters(sda_, 110, 2000 + 2048, 70, 8000 + 4096);
    dispatch::MainLoop::runFor(1.0);
    s = item->sampleAtIndex(0, 0);
    EXPECT_DOUBLE_EQ(s.values[0], 2048.0 * 512);
    EXPECT_DOUBLE_EQ(s.values[1], 4096.0 * 512);
    EXPECT_DOUBLE_EQ(s.values[2], 10);
    EXPECT_DOUBLE_EQ(s.values[3], 20);
    Value wire = item->xmlStorageItem();
    EXPECT_EQ(wire["w"].stringValue(), std::to_string((8000LL + 4096) * 512));
    EXPECT_EQ(wire["r"].stringValue(), std::to_string((2000LL + 2048) * 512));

    // A counter that goes back (the driver restarted) gives 0, never a negative rate.
    counters(sda_, 1, 8, 1, 8);
    dispatch::MainLoop::runFor(1.0);
    s = item->sampleAtIndex(0, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.values[i], 0) << i;
    expectGolden("diskactivity_v3.xml", c->xmlNodesFromAttributes(request("-1", 3)));
}

TEST_F(DiskActivityTest, DiskPluggedInWhileRunningWithoutSerialIsTemporary) {
    auto c = start();
    ASSERT_EQ(c->items().size(), 1u);
    const std::string sdb = scsiDisk("sdb", 1, 0, 4000000, "8:16", "ATA", "Disk B");
    event("add", "/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:1/0:0:1:0/block/sdb");
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return c->items().size() == 2; }, 30.0));
    auto added = c->items()[1];
    EXPECT_EQ(added->key(), "temporary_sdb");
    EXPECT_TRUE(added->nohistory());

    removeDisk("sdb");
    event("remove", "/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:1/0:0:1:0/block/sdb");
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return c->items().size() == 1; }, 30.0));
    EXPECT_EQ(c->wrappers().size(), 2u);  // sda and the disk image's driver
}
