// The process collector on a fixture /proc and the virtual clock: the lists and their wire
// form as golden replies, what each pass measures, records made, renewed and dropped, failed
// reads, sorting and the power score.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <set>

#include "ProcessFixture.h"
#include "foundation/extensions/XmlSafeText.h"

using namespace telvo;

namespace {

class ProcessStatCollectorTest : public systest::ProcessFixture {
protected:
    // The collector after two passes of the table with every list bit set.
    std::shared_ptr<ProcessStatCollector> measured() {
        auto c = collector(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory |
                           ProcessStatCollector::kMaskDisk | ProcessStatCollector::kMaskNetwork);
        pass(*c, 0);
        pass(*c, 1);
        return c;
    }
    static std::vector<std::string> column(const std::vector<StatNodePtr>& items, const std::string& key) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(attr(i, key));
        return out;
    }
    ProcessStatCollectorItemPtr record(ProcessStatCollector& c, int pid) {
        auto r = c.processForPid(pid);
        EXPECT_TRUE(r) << "no record for " << pid;
        return r;
    }
};

}  // namespace

TEST_F(ProcessStatCollectorTest, ListsAsTheKeysTextNamesThem) {
    auto c = measured();
    ASSERT_EQ(c->processes().size(), 28u);  // 30 listed, less the zombie and the vanished one
    EXPECT_TRUE(c->items().empty());        // records are never framework items

    auto cpuMemory = c->xmlNodesFromAttributes(request("cpu,memory"));
    expectGolden("processes_cpu_memory.xml", cpuMemory);
    const auto both = items(cpuMemory);
    ASSERT_EQ(both.size(), 40u);
    // One and a half processors, and two whole ones.
    EXPECT_EQ(attr(both[0], "key"), "416");
    EXPECT_EQ(attr(both[0], "c"), "200.00");
    EXPECT_EQ(attr(both[1], "c"), "150.00");
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(attr(both[i], "m"), "<absent>");
    for (size_t i = 20; i < 40; ++i) EXPECT_EQ(attr(both[i], "c"), "<absent>");
    // Memory in whole bytes: java's 800000 kB anonymous + 40000 kB swapped.
    EXPECT_EQ(attr(both[20], "name"), "java");
    EXPECT_EQ(attr(both[20], "m"), "860160000");

    // "memory,cpu" gives the same lists the other way round.
    const auto reversed = items(c->xmlNodesFromAttributes(request("memory,cpu")));
    ASSERT_EQ(reversed.size(), 40u);
    EXPECT_EQ(column({reversed.begin(), reversed.begin() + 20}, "m"), column({both.begin() + 20, both.end()}, "m"));
    EXPECT_EQ(column({reversed.begin() + 20, reversed.end()}, "c"), column({both.begin(), both.begin() + 20}, "c"));

    struct Case {
        const char* keys;
        size_t entries;
    } cases[] = {{"cpu, memory", 20}, {"cpu,cpu", 20}, {"", 0}, {"CPU", 0}, {"cpu,", 20}, {"power", 0}};
    for (const auto& k : cases) {
        const auto got = items(c->xmlNodesFromAttributes(request(k.keys)));
        EXPECT_EQ(got.size(), k.entries) << "keys \"" << k.keys << "\"";
    }
    // No "keys" at all: no entries.
    Value noKeys = request("cpu");
    ValueDictionary onlySamples;
    onlySamples.emplace("samples", Value("0"));
    ValueArray list;
    list.emplace_back(std::move(onlySamples));
    noKeys.set("items", Value(std::move(list)));
    EXPECT_TRUE(items(c->xmlNodesFromAttributes(noKeys)).empty());
}

// A list named again is not sent again, however often: "cpu" 60000 times (a message within
// the size limit) is answered as "cpu" is, and so is a request of many items naming the same
// lists; names in between that mean nothing are passed over.
TEST_F(ProcessStatCollectorTest, AListNamedAgainIsSentOnce) {
    auto c = measured();
    const std::string once = fwtest::nodesText(c->xmlNodesFromAttributes(request("cpu")));
    std::string repeated = "cpu";
    for (int i = 1; i < 60000; ++i) repeated += ",cpu";
    EXPECT_EQ(fwtest::nodesText(c->xmlNodesFromAttributes(request(repeated))), once);

    const std::string all = fwtest::nodesText(c->xmlNodesFromAttributes(request("memory,disks,cpu,network")));
    EXPECT_EQ(fwtest::nodesText(c->xmlNodesFromAttributes(request("memory,x,disks,memory,cpu,,disks,network,cpu,power"))),
              all);

    // 5000 items each naming every list: each list once in the reply.
    Value many = request("memory,disks,cpu,network");
    ValueArray list;
    for (int i = 0; i < 5000; ++i) {
        ValueDictionary item;
        item.emplace("samples", Value("0"));
        item.emplace("keys", Value(i % 2 ? "memory,disks,cpu,network" : "memory,disks"));
        list.emplace_back(std::move(item));
    }
    many.set("items", Value(std::move(list)));
    const auto nodes = c->xmlNodesFromAttributes(many);
    EXPECT_EQ(items(nodes).size(), 120u);
    // The lists of the first item, then those the second adds.
    EXPECT_EQ(attr(items(nodes)[0], "name"), "java");
    EXPECT_NE(attr(items(nodes)[20], "r"), "<absent>");
    EXPECT_NE(attr(items(nodes)[60], "c"), "<absent>");
    EXPECT_NE(attr(items(nodes)[80], "d"), "<absent>");
    // The next request is a reply of its own.
    EXPECT_EQ(fwtest::nodesText(c->xmlNodesFromAttributes(request("cpu"))), once);
}

TEST_F(ProcessStatCollectorTest, NetworkAndDiskListsComeInPairs) {
    auto c = measured();
    auto network = c->xmlNodesFromAttributes(request("network"));
    expectGolden("processes_network.xml", network);
    const auto net = items(network);
    ASSERT_EQ(net.size(), 40u);
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(attr(net[i], i < 20 ? "d" : "u"), "0");
        EXPECT_EQ(attr(net[i], i < 20 ? "u" : "d"), "<absent>");
        EXPECT_EQ(attr(net[i], "t"), "0");
    }

    auto disks = c->xmlNodesFromAttributes(request("disks"));
    expectGolden("processes_disks.xml", disks);
    const auto disk = items(disks);
    ASSERT_EQ(disk.size(), 40u);
    // ld read 4096 kB and wrote 16384 kB in the second.
    EXPECT_EQ(attr(disk[0], "name"), "ld");
    EXPECT_EQ(attr(disk[0], "r"), "4194304");
    EXPECT_EQ(attr(disk[20], "name"), "ld");
    EXPECT_EQ(attr(disk[20], "w"), "16777216");
    EXPECT_EQ(attr(disk[20], "t"), attr(disk[0], "t"));
    EXPECT_EQ(attr(disk[0], "t"), "1700000001.5");  // the second pass, plain decimal text
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(attr(disk[i], "w"), "<absent>");
}

TEST_F(ProcessStatCollectorTest, ValuesAppearFromTheSecondPass) {
    auto c = collector(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskDisk);
    pass(*c, 0);
    for (const auto& r : c->processes()) {
        EXPECT_EQ(r->cpu(), 0) << r->description();
        EXPECT_EQ(r->diskRead(), 0) << r->description();  // a baseline only
        EXPECT_EQ(r->diskWrite(), 0) << r->description();
        EXPECT_EQ(r->diskWriteTime(), 0) << r->description();
    }
    pass(*c, 1);
    EXPECT_NEAR(record(*c, 416)->cpu(), 200.0, 1e-9);
    EXPECT_NEAR(record(*c, 415)->cpu(), 150.0, 1e-9);
    EXPECT_EQ(record(*c, 415)->diskWrite(), 8192.0 * 1024);
    EXPECT_EQ(record(*c, 415)->memory(), 0);  // memory was not asked for
    // Three seconds later, at the same rate: averaged over the gap.
    for (const auto& p : table_) writeProcess(p, 4);
    platform::Clock::advance(3.0);
    c->update();
    EXPECT_NEAR(record(*c, 416)->cpu(), 200.0, 1e-9);
    EXPECT_NEAR(record(*c, 415)->diskWrite(), 8192.0 * 1024, 1e-6);
}

TEST_F(ProcessStatCollectorTest, RecordsFollowTheMachine) {
    auto c = measured();
    EXPECT_FALSE(c->processForPid(4000));  // zombie
    EXPECT_FALSE(c->processForPid(4100));  // ended between listing and reading
    struct Name {
        int pid;
        const char* name;
    } names[] = {{3000, "TelvoServerDaemon"},      // 15 bytes: the executable, " (deleted)" taken off
                 {3001, "verylongworkername-x"},   // no executable link: argv[0], which begins with it
                 {3002, "postgres-archiv"},        // argv[0] rewritten: the short name
                 {3100, "odd) (name"},             // parentheses and blanks in the name
                 {61, "kworker/0:1-events"},       // a kernel thread's longer name as it is
                 {600, "python3"}};                // shorter than 15 bytes: never looked up
    for (const auto& n : names) EXPECT_EQ(record(*c, n.pid)->name(), n.name);
    EXPECT_NEAR(record(*c, 3100)->cpu(), 90, 1e-9);
    EXPECT_EQ(record(*c, 3100)->parentPid(), 1);
    EXPECT_EQ(record(*c, 61)->memory(), 0);  // kernel threads have no memory lines
    EXPECT_NEAR(record(*c, 61)->cpu(), 7, 1e-9);
    EXPECT_EQ(record(*c, 600)->memory(), (150000.0 + 20000.0) * 1024);

    // processList: every process that is not a zombie, by pid; the vanished one cannot be read.
    std::set<int> listed;
    for (const Value& entry : c->processList()) {
        listed.insert(static_cast<int>(entry["pid"].intValue()));
        if (entry["pid"].intValue() == 3000) {
            EXPECT_EQ(entry["name"].stringValue(), "TelvoServerDaem");
        }
    }
    std::set<int> expected;
    for (const auto& p : table_) {
        if (p.state != 'Z' && p.comm != "vanished") expected.insert(p.pid);
    }
    EXPECT_EQ(listed, expected);

    // The next pass: 900 ended, 415 exec'd another program (same start time), 416's pid went
    // to a new process (another start time), and a new process 5000 came.
    remove("/proc/900");
    for (const auto& p : table_)
        if (p.pid != 900 && p.pid != 416) writeProcess(p, 2);
    writeFile("/proc/415/stat", statLine(415, "other", 'R', 402, 5000 + 150 * 2 * ticksPerPercent(), 1415, 2));
    writeFile("/proc/416/stat", statLine(416, "newcomer", 'R', 1, 100, 99999));
    writeFile("/proc/5000/stat", statLine(5000, "fresh", 'S', 1, 10, 50000));
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_TRUE(c->childrenChanged());
    EXPECT_FALSE(c->processForPid(900));
    EXPECT_EQ(record(*c, 415)->name(), "compiler");  // keeps its first image's name
    EXPECT_NEAR(record(*c, 415)->cpu(), 150.0, 1e-9);
    EXPECT_EQ(record(*c, 416)->name(), "newcomer");
    EXPECT_EQ(record(*c, 416)->cpu(), 0);  // a first value, never computed against the old process
    EXPECT_EQ(record(*c, 416)->sequence(), 1);
    EXPECT_EQ(record(*c, 5000)->cpu(), 0);
    EXPECT_EQ(c->processes().size(), 28u);

    // Nothing changed: no record made or dropped.
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_FALSE(c->childrenChanged());
}

// While no swap space is in use, a process's memory comes from the smaller statm file
// (resident less file-backed and shared pages, which is the anonymous part); once swap is in
// use, from the status file, which also counts what is swapped out.
TEST_F(ProcessStatCollectorTest, MemoryFromStatmWhileNoSwapIsInUse) {
    auto c = collector(ProcessStatCollector::kMaskMemory);
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    for (const auto& p : table_) writeProcess(p, 0);
    // java: status says 800000 kB anonymous + 40000 kB swapped; statm gives 3000 pages.
    writeFile("/proc/602/statm", "9000 5000 2000 10 0 4000 0\n");
    writeFile("/proc/meminfo", "MemTotal: 1000 kB\nSwapTotal:       2097148 kB\nSwapFree:        2097148 kB\n");
    c->update();
    EXPECT_EQ(record(*c, 602)->memory(), 3000 * page);
    writeFile("/proc/meminfo", "MemTotal: 1000 kB\nSwapTotal:       2097148 kB\nSwapFree:        2097000 kB\n");
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_EQ(record(*c, 602)->memory(), 840000.0 * 1024);
    // No swap at all: statm again; a process without one is kept, with no memory read.
    writeFile("/proc/meminfo", "MemTotal: 1000 kB\nSwapTotal:       0 kB\nSwapFree:        0 kB\n");
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_EQ(record(*c, 602)->memory(), 3000 * page);
    EXPECT_EQ(record(*c, 415)->memory(), 0);
}

TEST_F(ProcessStatCollectorTest, WhatThePassMeasuresFollowsTheMask) {
    auto c = collector(ProcessStatCollector::kMaskMemory);
    pass(*c, 0);
    pass(*c, 1);
    EXPECT_EQ(record(*c, 416)->cpu(), 0);
    EXPECT_EQ(record(*c, 602)->memory(), 840000.0 * 1024);
    EXPECT_EQ(record(*c, 701)->diskRead(), 0);

    // The CPU list asked for later: its first value is a baseline, not the use since start.
    c->setUpdateMask(ProcessStatCollector::kMaskCPU);
    pass(*c, 2);
    EXPECT_EQ(record(*c, 416)->cpu(), 0);
    pass(*c, 3);
    EXPECT_NEAR(record(*c, 416)->cpu(), 200.0, 1e-9);

    // Only the network bit: passes run, nothing measured changes.
    c->setUpdateMask(ProcessStatCollector::kMaskNetwork);
    const int64_t sequence = record(*c, 416)->sequence();
    remove("/proc/900");
    passWithout(*c, 9, 900);
    EXPECT_NEAR(record(*c, 416)->cpu(), 200.0, 1e-9);
    EXPECT_EQ(record(*c, 416)->sequence(), sequence + 1);
    EXPECT_FALSE(c->processForPid(900));

    // Disabled: nothing at all.
    c->setEnabled(false);
    c->setUpdateMask(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory);
    remove("/proc/801");
    passWithout(*c, 20, 801);
    EXPECT_TRUE(c->processForPid(801));
    EXPECT_NEAR(record(*c, 416)->cpu(), 200.0, 1e-9);
    EXPECT_EQ(record(*c, 416)->sequence(), sequence + 1);
}

TEST_F(ProcessStatCollectorTest, FailedReads) {
    auto c = collector(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskDisk);
    pass(*c, 0);
    pass(*c, 1);
    const double written = record(*c, 701)->diskWrite();
    ASSERT_GT(written, 0);

    // io unreadable: the disk values stay as they were. stat unreadable for another reason
    // than the process's end (here a folder in its place): kept, not measured.
    for (const auto& p : table_) writeProcess(p, 2);
    remove("/proc/701/io");
    remove("/proc/702/stat");
    std::filesystem::create_directories(procRoot_ + "/proc/702/stat");
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_EQ(record(*c, 701)->diskWrite(), written);
    ASSERT_TRUE(c->processForPid(702));
    EXPECT_EQ(record(*c, 702)->sequence(), 2);
    EXPECT_NEAR(record(*c, 702)->cpu(), 15, 1e-9);

    // /proc cannot be listed: every record goes; the next pass makes them again with fresh
    // counters.
    std::filesystem::rename(procRoot_ + "/proc", procRoot_ + "/proc.away");
    platform::Clock::advance(1.0);
    c->update();
    EXPECT_TRUE(c->processes().empty());
    EXPECT_TRUE(c->processList().empty());
    std::filesystem::rename(procRoot_ + "/proc.away", procRoot_ + "/proc");
    pass(*c, 3);
    EXPECT_EQ(record(*c, 416)->cpu(), 0);
}

TEST_F(ProcessStatCollectorTest, IntervalsAreMeasuredOnTheMonotonicClock) {
    auto c = collector(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskDisk);
    pass(*c, 0);
    // The wall clock steps back an hour while a second passes.
    for (const auto& p : table_) writeProcess(p, 1);
    platform::Clock::advance(1.0);
    platform::Clock::setVirtualNow(platform::Clock::now() - 3600);
    c->update();
    EXPECT_NEAR(record(*c, 415)->cpu(), 150.0, 1e-9);
    EXPECT_EQ(record(*c, 415)->diskWrite(), 8192.0 * 1024);
    // Two passes in the same instant: the interval counts as one second, not zero.
    for (const auto& p : table_) writeProcess(p, 2);
    c->update();
    EXPECT_NEAR(record(*c, 415)->cpu(), 150.0, 1e-9);
    for (const auto& r : c->processes()) EXPECT_GE(r->cpu(), 0) << r->description();
}

namespace {

// Processes that use the processor evenly, read through a source whose reads take as long as
// a table says, as on a busy machine: a process's counters are those of the moment it is read.
struct SlowRead {
    int pid;
    double use;            // percent of one processor, all the time
    uint32_t threads;
    double delay[2];       // seconds the read of this process takes, in the first and second pass
    long extraTicks;       // counter ticks ahead in the second pass (whole-tick rounding)
    double expected;
};

class SlowProcessSource : public host::ProcessSource {
public:
    SlowProcessSource(std::vector<SlowRead> rows, double start) : rows_(std::move(rows)), start_(start) {}
    int pass = 0;

    bool listProcesses(std::vector<int32_t>& pids) override {
        pids.clear();
        for (const auto& r : rows_) pids.push_back(r.pid);
        return true;
    }
    Result readStat(int32_t pid, host::ProcessStat& out) override {
        for (const auto& r : rows_) {
            if (r.pid != pid) continue;
            platform::Clock::advance(r.delay[pass]);
            const double seconds = r.use / 100.0 * (platform::Clock::monotonic() - start_);
            out = host::ProcessStat{};
            out.pid = pid;
            out.comm = "slow" + std::to_string(pid);
            out.state = 'R';
            out.ppid = 1;
            out.cpuTicks = static_cast<uint64_t>(std::llround(seconds * host::processTicksPerSecond())) +
                           static_cast<uint64_t>(pass == 1 ? r.extraTicks : 0);
            out.startTime = 1000 + static_cast<uint64_t>(pid);
            out.threads = r.threads;
            return Result::ok;
        }
        return Result::gone;
    }
    bool readMemory(int32_t, double& bytes) override {
        bytes = 0;
        return true;
    }
    bool readDiskBytes(int32_t, uint64_t&, uint64_t&) override { return false; }
    std::string fullName(int32_t, const std::string& shortName) override { return shortName; }

private:
    std::vector<SlowRead> rows_;
    double start_;
};

}  // namespace

// A slow pass reads its last process long after its first, and not equally late in every
// pass: each process's use is its own counters over the time between its own two readings,
// and never more than 100 % per thread.
TEST_F(ProcessStatCollectorTest, EachProcessIsMeasuredOverTheTimeBetweenItsOwnReadings) {
    const std::vector<SlowRead> rows = {
        {101, 100, 1, {0.00, 0.40}, 0, 100},  // late in the second pass
        {102, 50, 1, {0.30, 0.00}, 0, 50},    // late in the first
        {103, 25, 1, {0.00, 0.25}, 0, 25},
        {104, 200, 2, {0.10, 0.60}, 0, 200},  // two processors
        {105, 0, 1, {0.50, 0.50}, 0, 0},
        {106, 100, 1, {0.05, 0.00}, 0, 100},
        {107, 100, 1, {0.00, 0.00}, 1, 100},  // a tick ahead: not above one processor
        {108, 150, 2, {0.00, 0.20}, 2, 151},  // two ticks over its 2 s, within two processors
    };
    auto c = collector(ProcessStatCollector::kMaskCPU);
    auto owned = std::make_unique<SlowProcessSource>(rows, platform::Clock::monotonic());
    SlowProcessSource* source = owned.get();
    c->setSourceForTesting(std::move(owned));
    c->update();
    platform::Clock::advance(1.0);
    source->pass = 1;
    c->update();
    for (const auto& r : rows) {
        auto p = record(*c, r.pid);
        ASSERT_TRUE(p);
        EXPECT_NEAR(p->cpu(), r.expected, 0.5) << "pid " << r.pid;
        EXPECT_LE(p->cpu(), 100.0 * r.threads) << "pid " << r.pid;
    }
}

TEST_F(ProcessStatCollectorTest, SortingLimitsAndTheOlderListForms) {
    auto c = collector(0);
    struct Row {
        int pid;
        double read, readTime;
    } rows[] = {{1, 0, 5}, {2, 0, 9}, {3, 300, 1}, {4, 0, 0}, {5, 1e20, 0}, {6, 1e-5, 7}};
    for (const auto& r : rows) {
        auto p = c->createProcessWithPid(r.pid);
        p->setName("p" + std::to_string(r.pid));
        p->setDiskRead(r.read);
        p->setDiskReadTime(r.readTime);
    }
    // Busy ones by rate, then idle ones by how recently they read; never in exponent form.
    const Value reads = c->diskActivityProcesses2(false)["read"];
    std::vector<std::string> order, rates;
    for (const Value& e : reads.array()) {
        order.push_back(e["key"].stringValue());
        rates.push_back(e["r"].stringValue());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"5", "3", "6", "2", "1", "4"}));
    EXPECT_EQ(rates, (std::vector<std::string>{"100000000000000000000", "300", "0.00001", "0", "0", "0"}));
    EXPECT_EQ(c->diskActivityProcesses2(false)["type"].stringValue(), "4");

    c->setSharingProcessDiskActivityCount(2);
    EXPECT_EQ(c->diskActivityProcesses2(false)["write"].count(), 2u);
    c->setSharingProcessDiskActivityCount(0);  // a limit of 0 lists nothing
    EXPECT_EQ(c->diskActivityProcesses2(false)["read"].count(), 0u);
    c->setSharingProcessCPUCount(100);  // more than there are: every record
    EXPECT_EQ(c->cpuProcesses(false)["processes"].count(), 6u);
    EXPECT_EQ(c->cpuProcesses(false)["type"].stringValue(), "1");
    EXPECT_EQ(c->memoryProcesses(false)["type"].stringValue(), "2");
    EXPECT_EQ(c->networkProcesses2(false)["type"].stringValue(), "8");

    // The older forms carry both values of a pair and no time.
    c->setSharingProcessDiskActivityCount(1);
    c->setSharingProcessNetworkCount(1);
    const Value old = c->diskActivityProcesses(false)["processes"].at(0);
    EXPECT_EQ(old["key"].stringValue(), "5");
    EXPECT_EQ(old["w"].stringValue(), "0");
    EXPECT_FALSE(old.has("t"));
    const Value oldNet = c->networkProcesses(false)["processes"].at(0);
    EXPECT_TRUE(oldNet.has("d") && oldNet.has("u") && !oldNet.has("t"));

    // An empty table gives empty lists.
    c->mutableProcesses().clear();
    EXPECT_EQ(c->cpuProcesses(false)["processes"].count(), 0u);
}

TEST_F(ProcessStatCollectorTest, PowerScoreFromCPUTime) {
    auto c = collector(ProcessStatCollector::kMaskPower);
    c->setSharingProcessPowerCount(3);
    pass(*c, 0);
    EXPECT_EQ(record(*c, 416)->cpu(), 0);  // the power bit measures CPU too
    for (int n = 1; n <= 3; ++n) pass(*c, n);
    auto spinner = record(*c, 416);
    EXPECT_NEAR(spinner->cpu(), 200.0, 1e-9);
    EXPECT_NEAR(spinner->power(), 200.0, 1e-6);
    // The first score (against no earlier measurement) is near 0 and below 1, so left out.
    EXPECT_NEAR(spinner->powerScore(), 200.0, 1e-6);
    EXPECT_EQ(spinner->powerHistory(0).empty, 0);
    EXPECT_EQ(spinner->powerHistory(4).empty, 1);
    const Value list = c->powerProcesses(false);
    EXPECT_EQ(list["type"].stringValue(), "16");
    ASSERT_EQ(list["processes"].count(), 3u);
    EXPECT_EQ(list["processes"].at(0)["key"].stringValue(), "416");
    EXPECT_EQ(list["processes"].at(0)["score"].stringValue(), "200.00");
    EXPECT_EQ(list["processes"].at(0)["bundle"].stringValue(), "");
    // Entries older than 31 s no longer count.
    platform::Clock::advance(40);
    for (const auto& p : table_) writeProcess(p, 3);
    c->update();
    EXPECT_EQ(spinner->powerScore(), 0);
}

TEST_F(ProcessStatCollectorTest, MachineNamesAreMadeSafeForXML) {
    auto c = collector(ProcessStatCollector::kMaskCPU);
    table_.push_back({5100, "\x01x", 'R', 1, 300, 100, 0, 0, 0, nullptr, nullptr});
    table_.push_back({5101, "bad\xe4\xbd", 'R', 1, 250, 100, 0, 0, 0, nullptr, nullptr});
    pass(*c, 0);
    pass(*c, 1);
    EXPECT_EQ(record(*c, 5100)->name(), "\xEF\xBF\xBDx");
    EXPECT_EQ(record(*c, 5101)->name(), "bad\xEF\xBF\xBD\xEF\xBF\xBD");
    // processList keeps names that decode and leaves the others out.
    bool controlListed = false, badListed = false;
    for (const Value& e : c->processList()) {
        controlListed = controlListed || e["pid"].intValue() == 5100;
        badListed = badListed || e["pid"].intValue() == 5101;
    }
    EXPECT_TRUE(controlListed);
    EXPECT_FALSE(badListed);

    const std::string reply = fwtest::nodesText(c->xmlNodesFromAttributes(request("cpu")));
    ASSERT_NE(reply.find("name=\"\xEF\xBF\xBDx\""), std::string::npos) << reply;
    if (std::system("xmllint --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is needed to check the reply";
    const std::string file = root_ + "/reply.xml";
    std::ofstream(file, std::ios::binary) << reply;
    EXPECT_EQ(std::system(("xmllint --noout '" + file + "'").c_str()), 0) << reply;
}

// A name found in argv[0] is cut to a file name's 255 bytes, on a character boundary, however
// long argv[0] is.
TEST_F(ProcessStatCollectorTest, NamesAreCutToAFileNamesLength) {
    std::string e200;
    for (int i = 0; i < 200; ++i) e200 += "\xC3\xA9";
    const std::string plain = "longworkername1" + std::string(120 * 1024, 'x');
    const std::string accented = "accentworkerabcx" + e200;
    const std::string pathed = "/opt/" + std::string(5000, 'a') + "/deepworkername1" + std::string(300, 'b');
    table_.push_back({5300, "longworkername1", 'R', 1, 90, 100, 0, 0, 0, nullptr, plain.c_str()});
    table_.push_back({5301, "accentworkerabc", 'R', 1, 80, 100, 0, 0, 0, nullptr, accented.c_str()});
    table_.push_back({5302, "deepworkername1", 'R', 1, 70, 100, 0, 0, 0, nullptr, pathed.c_str()});
    auto c = collector(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory);
    pass(*c, 0);
    pass(*c, 1);
    EXPECT_EQ(record(*c, 5300)->name(), plain.substr(0, 255));
    EXPECT_EQ(record(*c, 5301)->name(), accented.substr(0, 254));
    EXPECT_EQ(record(*c, 5302)->name(), "deepworkername1" + std::string(240, 'b'));
    for (const auto& entry : items(c->xmlNodesFromAttributes(request("cpu,memory"))))
        EXPECT_LE(attr(entry, "name").size(), 255u) << attr(entry, "key");
}

TEST_F(ProcessStatCollectorTest, DescriptionAndClientSideHooks) {
    auto c = collector(0);
    auto p = c->createProcessWithPid(42);
    p->setName("worker");
    p->setMemory(1536);
    p->setCpu(12.345);
    EXPECT_EQ(p->description(), "pid = 42, name = worker, seq = 0, memory = 1536, cpu = 12.35, rx = 0.00, tx = 0.00");

    EXPECT_EQ(c->xmlRequestFromAttributes(Value()), nullptr);
    c->setSelectionKey("cpu|memory");
    auto requestNode = c->xmlRequestFromAttributes(Value());
    ASSERT_TRUE(requestNode);
    ASSERT_EQ(requestNode->children.size(), 1u);
    EXPECT_EQ(attr(requestNode->children[0], "keys"), "cpu,memory");

    ValueDictionary received;
    received.emplace("key", Value("42"));
    received.emplace("name", Value("worker"));
    received.emplace("w", Value("2048"));
    received.emplace("t", Value("1700000000"));
    auto r = c->xmlItemFromAttributes(Value(std::move(received)));
    EXPECT_EQ(r, p);
    EXPECT_EQ(r->diskWrite(), 2048);
    EXPECT_EQ(r->diskWriteTime(), 1700000000);
    c->xmlMarkItemsAsMissing();
    EXPECT_EQ(r->diskWrite(), 0);
    EXPECT_EQ(r->cpu(), 0);
    EXPECT_FALSE(r->exists());
}

TEST_F(ProcessStatCollectorTest, AFirstWriteIsMeasuredAndAnUnreadableStartIsNoSpike) {
    auto c = collector(ProcessStatCollector::kMaskDisk);
    pass(*c, 0);
    // 5200 has never written when first seen; 5201's counters cannot be read at first.
    auto io = [&](int pid, long written) {
        writeFile("/proc/" + std::to_string(pid) + "/io",
                  "read_bytes: 0\nwrite_bytes: " + std::to_string(written) + "\n");
    };
    writeFile("/proc/5200/stat", statLine(5200, "newwriter", 'R', 1, 0, 7000));
    io(5200, 0);
    writeFile("/proc/5201/stat", statLine(5201, "hidden", 'R', 1, 0, 7001));
    pass(*c, 1);
    EXPECT_EQ(record(*c, 5200)->diskWrite(), 0);
    io(5200, 64 << 20);
    io(5201, 900 << 20);  // readable from now on, with all it ever wrote
    pass(*c, 2);
    EXPECT_EQ(record(*c, 5200)->diskWrite(), double(64 << 20));
    EXPECT_GT(record(*c, 5200)->diskWriteTime(), 0);
    EXPECT_EQ(record(*c, 5201)->diskWrite(), 0);  // a baseline, not 900 MiB in a second
    io(5201, (900 << 20) + 4096);
    pass(*c, 3);
    EXPECT_EQ(record(*c, 5201)->diskWrite(), 4096);
    EXPECT_EQ(record(*c, 5200)->diskWrite(), 0);
}

TEST_F(ProcessStatCollectorTest, ClientsOfOnePassShareItsListsAndTheNextPassMakesNewOnes) {
    auto c = measured();
    const auto first = items(c->xmlNodesFromAttributes(request("cpu,memory")));
    ASSERT_EQ(first.size(), 40u);
    EXPECT_EQ(attr(first[0], "key"), "416");
    // A second client in the same second: the same lists.
    const auto again = items(c->xmlNodesFromAttributes(request("cpu,memory")));
    EXPECT_EQ(column(again, "key"), column(first, "key"));
    EXPECT_EQ(column(again, "c"), column(first, "c"));
    // Next pass: 416 stops using the processor, so the lists are made again from new figures.
    for (auto& p : table_) writeProcess(p, 2);
    for (auto& p : table_)
        if (p.pid == 416) writeProcess(p, 1);
    platform::Clock::advance(1.0);
    c->update();
    const auto later = items(c->xmlNodesFromAttributes(request("cpu,memory")));
    ASSERT_EQ(later.size(), 40u);
    EXPECT_NE(attr(later[0], "key"), "416");
    // A changed list length is honoured at once.
    c->setSharingProcessCPUCount(3);
    EXPECT_EQ(items(c->xmlNodesFromAttributes(request("cpu,memory"))).size(), 23u);
}
