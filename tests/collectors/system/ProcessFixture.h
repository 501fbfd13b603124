#pragma once
// Test fixture for the process collector: a /proc of its own (kept apart from the machine
// fixture, whose pid folders feed the CPU collector's task count), written from a table of 30
// processes, on the virtual clock. pass() writes the table's counters for a pass number and
// runs one pass a virtual second after the previous one.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/NodeText.h"
#include "collectors/system/ProcessStatCollector.h"
#include "platform/host/ProcRoot.h"
#include "platform/host/ProcessStat.h"
#include "platform/time/Clock.h"

namespace telvo::systest {

struct FixtureProcess {
    int pid;
    std::string comm;
    char state;
    int ppid;
    int cpu;             // percent of one processor used per pass
    long anonKB, swapKB;  // memory lines of status; -1 for a kernel thread (no lines)
    long readKB, writeKB;  // kilobytes read and written per pass
    const char* exe;      // target of the exe link; null: none
    const char* argv0;    // null: an empty command line
};

// 30 processes: 27 ordinary ones, a zombie (4000), one that ends between listing and reading
// (4100, a folder without files), kernel threads (2, 61), names of exactly 15 bytes (3000
// behind a deleted executable, 3001 known by argv[0] only, 3002 with a rewritten argv[0]) and
// a name holding ") (" (3100).
inline std::vector<FixtureProcess> fixtureProcesses() {
    return {
        {1, "init", 'S', 0, 3, 2048, 0, 10, 0, "/usr/lib/systemd/systemd", "/sbin/init"},
        {2, "kthreadd", 'S', 0, 0, -1, -1, 0, 0, nullptr, nullptr},
        {61, "kworker/0:1-events", 'I', 2, 7, -1, -1, 0, 0, nullptr, nullptr},
        {310, "sshd", 'S', 1, 1, 4096, 512, 0, 0, "/usr/sbin/sshd", "sshd: /usr/sbin/sshd -D"},
        {402, "bash", 'S', 310, 2, 3000, 0, 0, 4, "/usr/bin/bash", "-bash"},
        {415, "compiler", 'R', 402, 150, 512000, 0, 2048, 8192, "/usr/bin/compiler", "compiler"},
        {416, "spinner", 'R', 402, 200, 1024, 0, 0, 0, "/usr/bin/spinner", "spinner"},
        {420, "postgres", 'S', 1, 12, 96000, 1000, 300, 900, "/usr/lib/postgresql/postgres", "postgres"},
        {421, "redis-server", 'S', 1, 9, 64000, 0, 0, 128, "/usr/bin/redis-server", "redis-server *:6379"},
        {430, "nginx", 'S', 1, 4, 8000, 0, 40, 0, "/usr/sbin/nginx", "nginx: master process"},
        {431, "nginx", 'S', 430, 6, 9000, 0, 60, 16, "/usr/sbin/nginx", "nginx: worker process"},
        {500, "cron", 'S', 1, 0, 1500, 0, 0, 0, "/usr/sbin/cron", "/usr/sbin/cron"},
        {501, "rsyslogd", 'S', 1, 5, 5000, 0, 0, 64, "/usr/sbin/rsyslogd", "/usr/sbin/rsyslogd"},
        {502, "dbus-daemon", 'S', 1, 2, 4500, 0, 0, 0, "/usr/bin/dbus-daemon", "/usr/bin/dbus-daemon"},
        {600, "python3", 'S', 402, 25, 150000, 20000, 512, 0, "/usr/bin/python3.11", "python3"},
        {601, "node", 'S', 402, 30, 220000, 0, 0, 32, "/usr/bin/node", "node"},
        {602, "java", 'S', 402, 45, 800000, 40000, 1024, 256, "/usr/lib/jvm/bin/java", "java"},
        {700, "make", 'S', 402, 1, 2000, 0, 8, 0, "/usr/bin/make", "make"},
        {701, "ld", 'R', 700, 60, 300000, 0, 4096, 16384, "/usr/bin/ld.gold", "ld"},
        {702, "as", 'R', 700, 15, 20000, 0, 256, 512, "/usr/bin/as", "as"},
        {800, "sleep", 'S', 402, 0, 800, 0, 0, 0, "/usr/bin/sleep", "sleep"},
        {801, "tail", 'S', 402, 0, 900, 0, 2, 0, "/usr/bin/tail", "tail"},
        {900, "top", 'S', 402, 8, 3500, 0, 0, 0, "/usr/bin/top", "top"},
        {3000, "TelvoServerDaem", 'S', 1, 20, 9000, 0, 0, 48, "/usr/local/bin/TelvoServerDaemon (deleted)",
         "TelvoServerDaemon"},
        {3001, "verylongworkern", 'S', 1, 11, 7000, 0, 16, 0, nullptr, "/opt/bin/verylongworkername-x"},
        {3002, "postgres-archiv", 'S', 420, 10, 6000, 0, 0, 0, nullptr, "postgres: archiver"},
        {3100, "odd) (name", 'S', 1, 90, 12000, 0, 0, 0, "/usr/bin/odd", "odd"},
        {4000, "defunct", 'Z', 402, 0, -1, -1, 0, 0, nullptr, nullptr},
        {4100, "vanished", 'S', 1, 0, 0, 0, 0, 0, nullptr, nullptr},
        {4200, "agetty", 'S', 1, 0, 700, 0, 0, 0, "/usr/sbin/agetty", "/sbin/agetty"},
    };
}

class ProcessFixture : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        fwtest::HistoryFixture::SetUp();
        procRoot_ = root_ + "/processes";
        std::filesystem::create_directories(procRoot_ + "/proc");
        host::ProcRoot::setForTesting(procRoot_);
        table_ = fixtureProcesses();
        ProcessStatCollector::resetForTesting();
    }
    void TearDown() override {
        ProcessStatCollector::resetForTesting();
        host::ProcRoot::resetForTesting();
        fwtest::HistoryFixture::TearDown();
    }

    // The collector as the daemon sets it up, enabled, with the given mask.
    std::shared_ptr<ProcessStatCollector> collector(int64_t mask) {
        auto c = ProcessStatCollector::sharedProcesses();
        c->setSharingProcessCPUCount(20);
        c->setSharingProcessMemoryCount(20);
        c->setSharingProcessNetworkCount(20);
        c->setSharingProcessDiskActivityCount(20);
        c->setSharingProcessPowerCount(0);
        c->setUpdateMask(mask);
        c->setEnabled(true);
        return c;
    }

    static long ticksPerPercent() { return static_cast<long>(host::processTicksPerSecond()) / 100; }

    void writeFile(const std::string& kernelPath, const std::string& contents) {
        std::filesystem::create_directories(std::filesystem::path(procRoot_ + kernelPath).parent_path());
        std::ofstream(procRoot_ + kernelPath, std::ios::binary | std::ios::trunc) << contents;
    }
    void remove(const std::string& kernelPath) { std::filesystem::remove_all(procRoot_ + kernelPath); }

    // The stat line of a process; `ticks` is utime + stime.
    static std::string statLine(int pid, const std::string& comm, char state, int ppid, long ticks,
                                unsigned long start, int threads = 1) {
        const long utime = ticks * 2 / 3, stime = ticks - utime;
        return std::to_string(pid) + " (" + comm + ") " + state + " " + std::to_string(ppid) + " " +
               std::to_string(pid) + " " + std::to_string(pid) + " 0 -1 4194560 120 0 3 0 " + std::to_string(utime) +
               " " + std::to_string(stime) + " 0 0 20 0 " + std::to_string(threads) + " 0 " + std::to_string(start) + " 12345678 900 " +
               "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
    }

    // Writes one process's files for pass `n` (counters = n times the per-pass amounts plus a
    // base, so that every process has read and written before).
    void writeProcess(const FixtureProcess& p, int n, unsigned long start = 0) {
        const std::string dir = "/proc/" + std::to_string(p.pid);
        std::filesystem::create_directories(procRoot_ + dir);
        if (p.comm == "vanished") return;  // listed, but its files are gone
        const long ticks = 5000 + static_cast<long>(p.cpu) * ticksPerPercent() * n;
        // As many threads as the processors it keeps busy.
        writeFile(dir + "/stat", statLine(p.pid, p.comm, p.state, p.ppid, ticks, start ? start : 1000 + p.pid,
                                          std::max(1, (p.cpu + 99) / 100)));
        std::string status = "Name:\t" + p.comm + "\nState:\t" + p.state + "\nPid:\t" + std::to_string(p.pid) + "\n";
        if (p.anonKB >= 0)
            status += "VmRSS:\t" + std::to_string(p.anonKB + 4000) + " kB\nRssAnon:\t" + std::to_string(p.anonKB) +
                      " kB\nRssFile:\t4000 kB\nRssShmem:\t700 kB\nVmSwap:\t" + std::to_string(p.swapKB) + " kB\n";
        status += "Threads:\t1\n";
        writeFile(dir + "/status", status);
        const long read = (1000 + p.readKB * n) * 1024, written = (2000 + p.writeKB * n) * 1024;
        writeFile(dir + "/io", "rchar: 1\nwchar: 2\nsyscr: 3\nsyscw: 4\nread_bytes: " + std::to_string(read) +
                                   "\nwrite_bytes: " + std::to_string(written) + "\ncancelled_write_bytes: 0\n");
        writeFile(dir + "/cmdline", p.argv0 ? std::string(p.argv0) + '\0' + "--flag" + '\0' : std::string());
        std::filesystem::remove(procRoot_ + dir + "/exe");
        if (p.exe) std::filesystem::create_symlink(p.exe, procRoot_ + dir + "/exe");
    }

    // Writes the whole table for pass `n` and runs one pass a virtual second after the last.
    void pass(ProcessStatCollector& c, int n) {
        for (const auto& p : table_) writeProcess(p, n);
        if (n > 0) platform::Clock::advance(1.0);
        c.update();
    }

    // The same, with one process gone from the machine.
    void passWithout(ProcessStatCollector& c, int n, int endedPid) {
        for (const auto& p : table_)
            if (p.pid != endedPid) writeProcess(p, n);
        platform::Clock::advance(1.0);
        c.update();
    }

    const FixtureProcess& row(int pid) const {
        for (const auto& p : table_)
            if (p.pid == pid) return p;
        throw std::runtime_error("no fixture process " + std::to_string(pid));
    }

    // A request for the process lists as the session hands it to the collector.
    static Value request(const std::string& keys) {
        ValueDictionary item;
        item.emplace("samples", Value("0"));
        item.emplace("keys", Value(keys));
        ValueArray items;
        items.emplace_back(std::move(item));
        ValueDictionary attributes;
        attributes.emplace("samples", Value("0"));
        attributes.emplace("protocol", Value(3));
        attributes.emplace("items", Value(std::move(items)));
        return Value(std::move(attributes));
    }

    // The item elements of a reply.
    static std::vector<StatNodePtr> items(const std::vector<StatNodePtr>& nodes) {
        std::vector<StatNodePtr> out;
        for (const auto& stat : nodes)
            for (const auto& c : stat->children) out.push_back(c);
        return out;
    }
    static std::string attr(const StatNodePtr& node, const std::string& key) {
        const std::string* v = node ? node->attribute(key) : nullptr;
        return v ? *v : std::string("<absent>");
    }

    void expectGolden(const std::string& name, const std::vector<StatNodePtr>& nodes) {
        std::string golden;
        const std::string text = fwtest::nodesText(nodes);
        EXPECT_TRUE(fwtest::matchesGolden(name, text, golden)) << "got:\n" << text << "golden " << name << ":\n" << golden;
    }

    std::string procRoot_;
    std::vector<FixtureProcess> table_;
};

}  // namespace telvo::systest
