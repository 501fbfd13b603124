#include <gtest/gtest.h>

#include "HostFixture.h"
#include "platform/host/BootTime.h"
#include "platform/host/LoadAverages.h"
#include "platform/host/ProcFile.h"
#include "platform/host/ProcessorTicks.h"
#include "platform/host/ProcessorTopology.h"
#include "platform/host/TaskCounts.h"

using namespace telvo::host;

namespace {
class ProcessorStatisticsTest : public HostFixture {};
}  // namespace

TEST_F(ProcessorStatisticsTest, TicksFoldTenFieldsIntoFourAndKeepStealApart) {
    write("/proc/stat",
          "cpu  900 90 300 9000 50 20 10 7 40 4\n"
          "cpu0 100 10 30 1000 5 2 1 3 40 4\n"
          "cpu2 200 20 60 2000 10 4 2 4 0 0\n"
          "intr 1 2 3\nctxt 99\nbtime 1700000000\nprocesses 5\n");
    ProcessorTickReader reader;
    std::vector<ProcessorTicks> ticks;
    ASSERT_TRUE(reader.read(ticks));
    ASSERT_EQ(ticks.size(), 2u);  // the summary line is no processor
    EXPECT_EQ(ticks[0].processor, 0);
    EXPECT_EQ(ticks[0].user, 100u);   // guest 40 is inside user already
    EXPECT_EQ(ticks[0].nice, 10u);    // guest_nice inside nice
    EXPECT_EQ(ticks[0].system, 33u);  // system + irq + softirq
    EXPECT_EQ(ticks[0].idle, 1005u);  // idle + iowait
    EXPECT_EQ(ticks[0].steal, 3u);
    EXPECT_EQ(ticks[0].total(), 100u + 10 + 33 + 1005 + 3);
    // An offline processor 1 has no line: numbers jump, they do not shift.
    EXPECT_EQ(ticks[1].processor, 2);
    EXPECT_EQ(ticks[1].system, 66u);
}

TEST_F(ProcessorStatisticsTest, TicksOfOlderKernelsAndBrokenFiles) {
    ProcessorTickReader reader;
    std::vector<ProcessorTicks> ticks;
    // Only the first four fields (very old kernels): the rest count as 0.
    write("/proc/stat", "cpu 1 2 3 4\ncpu0 1 2 3 4\n");
    ASSERT_TRUE(reader.read(ticks));
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(ticks[0].idle, 4u);
    EXPECT_EQ(ticks[0].steal, 0u);
    // Counters past 32 bits are read whole.
    write("/proc/stat", "cpu0 5000000000 0 0 18446744073709551000\n");
    ASSERT_TRUE(reader.read(ticks));
    EXPECT_EQ(ticks[0].user, 5000000000u);
    EXPECT_EQ(ticks[0].idle, 18446744073709551000u);
    // Lines too short to be records, and no processor line at all: a failed read.
    write("/proc/stat", "cpu 1 2 3 4\ncpu0 1 2\ncpux 1 2 3 4\n");
    EXPECT_FALSE(reader.read(ticks));
    EXPECT_TRUE(ticks.empty());
    remove("/proc/stat");
    EXPECT_FALSE(reader.read(ticks));
}

TEST_F(ProcessorStatisticsTest, TopologyCountsAndCorePairs) {
    write("/sys/devices/system/cpu/possible", "0-7\n");
    write("/sys/devices/system/cpu/online", "0-2,4\n");
    // Hardware threads 0+2 share core 0, 1 is core 1 alone, 4 is package 1's core 0.
    const int package[] = {0, 0, 0, 0, 1};
    const int core[] = {0, 1, 0, 1, 0};
    for (int c : {0, 1, 2, 4}) {
        write("/sys/devices/system/cpu/cpu" + std::to_string(c) + "/topology/physical_package_id",
              std::to_string(package[c]) + "\n");
        write("/sys/devices/system/cpu/cpu" + std::to_string(c) + "/topology/core_id", std::to_string(core[c]) + "\n");
    }
    ProcessorTopology t = readProcessorTopology();
    EXPECT_EQ(t.configured, 8);
    EXPECT_EQ(t.logical, 4);
    EXPECT_EQ(t.physical, 3);
    ASSERT_EQ(t.cores.size(), 3u);
    EXPECT_EQ(t.cores[0], (std::vector<int>{0, 2}));
    EXPECT_EQ(t.cores[1], (std::vector<int>{1}));
    EXPECT_EQ(t.cores[2], (std::vector<int>{4}));

    // A processor without topology files makes the physical count unknown, not wrong.
    remove("/sys/devices/system/cpu/cpu4/topology");
    t = readProcessorTopology();
    EXPECT_EQ(t.logical, 4);
    EXPECT_EQ(t.physical, 0);
    EXPECT_TRUE(t.cores.empty());

    // No cpu folder at all: everything unknown.
    remove("/sys");
    t = readProcessorTopology();
    EXPECT_EQ(t.configured, 0);
    EXPECT_EQ(t.logical, 0);
}

TEST(ProcFileTest, CPUListCases) {
    struct Case {
        const char* text;
        bool ok;
        int count;
        int highest;
    } cases[] = {
        {"0\n", true, 1, 0},       {"0-7\n", true, 8, 7},    {"0-3,5,7-8\n", true, 7, 8},
        {"", false, 0, -1},        {"3-1\n", false, 0, -1},  {"x\n", false, 0, -1},
        {"1,\n", true, 1, 1},
    };
    for (const auto& c : cases) {
        CPUList list;
        EXPECT_EQ(parseCPUList(c.text, list), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(list.count, c.count) << c.text;
        EXPECT_EQ(list.highest, c.highest) << c.text;
    }
}

TEST_F(ProcessorStatisticsTest, TasksAndThreads) {
    for (const char* entry : {"/proc/1", "/proc/42", "/proc/31337", "/proc/self", "/proc/sys", "/proc/0x1"})
        makeFolder(entry);
    write("/proc/loadavg", "0.52 0.58 0.59 3/389 12345\n");
    TaskCountReader reader;
    int tasks = -1, threads = -1;
    ASSERT_TRUE(reader.readTasks(tasks));
    EXPECT_EQ(tasks, 3);
    ASSERT_TRUE(reader.readThreads(threads));
    EXPECT_EQ(threads, 389);

    write("/proc/loadavg", "0.52 0.58 0.59\n");
    threads = 7;
    EXPECT_FALSE(reader.readThreads(threads));
    EXPECT_EQ(threads, 7);
    remove("/proc");
    tasks = 9;
    EXPECT_FALSE(reader.readTasks(tasks));
    EXPECT_EQ(tasks, 9);
}

TEST_F(ProcessorStatisticsTest, LoadAverages) {
    LoadAverageReader reader;
    LoadAverages l;
    write("/proc/loadavg", "1.00 0.05 12.75 1/100 7\n");
    ASSERT_TRUE(reader.read(l));
    EXPECT_DOUBLE_EQ(l.one, 1.0);
    EXPECT_DOUBLE_EQ(l.five, 0.05);
    EXPECT_DOUBLE_EQ(l.fifteen, 12.75);
    // Unreadable or malformed: nothing is changed.
    for (const char* bad : {"", "1.00 0.05\n", "abc\n"}) {
        write("/proc/loadavg", bad);
        LoadAverages kept{9, 9, 9};
        EXPECT_FALSE(reader.read(kept)) << bad;
        EXPECT_EQ(kept.one, 9);
    }
    remove("/proc/loadavg");
    EXPECT_FALSE(reader.read(l));
}

TEST_F(ProcessorStatisticsTest, BootTime) {
    int64_t seconds = -1;
    write("/proc/stat", "cpu0 1 2 3 4\nctxt 5\nbtime 1796856017\nprocesses 9\n");
    ASSERT_TRUE(readBootTime(seconds));
    EXPECT_EQ(seconds, 1796856017);
    // No line, a zero, garbage, no file: no boot time (and none of 0).
    for (const char* bad : {"cpu0 1 2 3 4\n", "btime 0\n", "btime x\n", "btimex 12\n"}) {
        write("/proc/stat", bad);
        seconds = -1;
        EXPECT_FALSE(readBootTime(seconds)) << bad;
        EXPECT_EQ(seconds, -1);
    }
    remove("/proc/stat");
    EXPECT_FALSE(readBootTime(seconds));
}
