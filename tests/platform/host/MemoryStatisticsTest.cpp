#include <gtest/gtest.h>

#include <unistd.h>

#include "HostFixture.h"
#include "platform/host/MemoryStatistics.h"

using namespace telvo::host;

namespace {

class MemoryStatisticsTest : public HostFixture {
protected:
    // KiB per page of this machine (4 on amd64).
    const uint64_t k = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) / 1024;
    void writeMeminfo(const std::string& extra = "") {
        write("/proc/meminfo",
              "MemTotal:        1000000 kB\n"
              "MemFree:          400000 kB\n"
              "MemAvailable:     700000 kB\n"
              "Active:           200000 kB\n"
              "Inactive:         300000 kB\n"
              "Active(anon):      50000 kB\n"
              "Inactive(anon):    10000 kB\n"
              "Active(file):     150000 kB\n"
              "Inactive(file):   290000 kB\n"
              "SwapTotal:        262144 kB\n"
              "SwapFree:         131072 kB\n" +
                  extra);
    }
};

}  // namespace

TEST_F(MemoryStatisticsTest, ClassesMapOntoTheRecord) {
    writeMeminfo("Zswap:              4000 kB\n");
    write("/proc/vmstat", "nr_free_pages 1\npgpgin 8000\npgpgout 4004\npswpin 0\npswpout 0\n");
    MemoryStatisticsReader reader;
    VMStatistics vm;
    SwapUsage swap;
    ASSERT_TRUE(reader.read(vm, swap));
    EXPECT_EQ(vm.pageSize, k * 1024);
    EXPECT_EQ(vm.freePages, 400000u / k);
    EXPECT_EQ(vm.activePages, 200000u / k);
    EXPECT_EQ(vm.inactivePages, 300000u / k);
    EXPECT_EQ(vm.wiredPages, (1000000u - 400000 - 200000 - 300000 - 4000) / k);
    EXPECT_EQ(vm.compressorPages, 4000u / k);
    EXPECT_EQ(vm.externalPages, (150000u + 290000) / k);
    EXPECT_EQ(vm.internalPages, (50000u + 10000) / k);
    EXPECT_EQ(vm.purgeablePages, 0u);
    EXPECT_EQ(vm.pageins, 8000u / k);  // KiB -> pages
    EXPECT_EQ(vm.pageouts, 4004u / k);
    EXPECT_EQ(swap.total, 262144u * 1024);
    EXPECT_EQ(swap.used, 131072u * 1024);
}

TEST_F(MemoryStatisticsTest, OptionalFieldsAndMissingSources) {
    // No Zswap and no swap lines (kernels without them): zero, and the read still succeeds.
    write("/proc/meminfo", "MemTotal: 100 kB\nMemFree: 40 kB\nActive: 20 kB\nInactive: 20 kB\n");
    write("/proc/vmstat", "pgpgin 0\npgpgout 0\n");
    MemoryStatisticsReader reader;
    VMStatistics vm;
    SwapUsage swap;
    ASSERT_TRUE(reader.read(vm, swap));
    EXPECT_EQ(vm.compressorPages, 0u);
    EXPECT_EQ(swap.total, 0u);
    EXPECT_EQ(vm.wiredPages, 20u / k);

    // A needed field or file missing: a failed read that leaves the records alone.
    VMStatistics kept;
    kept.freePages = 77;
    write("/proc/vmstat", "pgpgin 0\n");
    EXPECT_FALSE(reader.read(kept, swap));
    EXPECT_EQ(kept.freePages, 77u);
    write("/proc/vmstat", "pgpgin 0\npgpgout 0\n");
    write("/proc/meminfo", "MemTotal: 100 kB\nMemFree: 40 kB\nActive: 20 kB\n");  // "Inactive(file)" is not "Inactive"
    EXPECT_FALSE(reader.read(kept, swap));
    remove("/proc/meminfo");
    EXPECT_FALSE(reader.read(kept, swap));
    EXPECT_EQ(kept.freePages, 77u);
}

TEST_F(MemoryStatisticsTest, MemorySizeFromBlocksElseMemTotal) {
    writeMeminfo();
    write("/sys/devices/system/memory/block_size_bytes", "8000000\n");
    write("/sys/devices/system/memory/memory0/state", "online\n");
    write("/sys/devices/system/memory/memory1/state", "online\n");
    write("/sys/devices/system/memory/memory2/state", "offline\n");
    MemoryStatisticsReader reader;
    uint64_t bytes = 0;
    ASSERT_TRUE(reader.readMemorySize(bytes));
    EXPECT_EQ(bytes, 2u * 0x8000000);

    remove("/sys");
    ASSERT_TRUE(reader.readMemorySize(bytes));
    EXPECT_EQ(bytes, 1000000u * 1024);
    remove("/proc/meminfo");
    EXPECT_FALSE(reader.readMemorySize(bytes));
}

TEST_F(MemoryStatisticsTest, Pressure) {
    MemoryStatisticsReader reader;
    double percent = -1;
    write("/proc/pressure/memory",
          "some avg10=12.34 avg60=1.00 avg300=0.50 total=123\nfull avg10=2.00 avg60=0.00 avg300=0.00 total=5\n");
    ASSERT_TRUE(reader.readPressure(percent));
    EXPECT_DOUBLE_EQ(percent, 12.34);
    remove("/proc/pressure");
    percent = 5;
    EXPECT_FALSE(reader.readPressure(percent));
    EXPECT_EQ(percent, 5);
}
