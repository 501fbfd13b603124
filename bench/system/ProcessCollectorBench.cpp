// The process collector: one pass with every list bit set over a fixture /proc of 500
// processes and over this machine's /proc, the CPU, memory and disk lists built from 500
// records, and what one client asking for every list each second costs with 500 and 3000
// real processes of the benchmark's own. At one pass a second, the time per iteration is
// the share of one core.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "collectors/system/ProcessStatCollector.h"
#include "platform/host/ProcRoot.h"

using namespace telvo;

namespace {

constexpr int64_t kEveryBit = ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory |
                              ProcessStatCollector::kMaskDisk | ProcessStatCollector::kMaskNetwork |
                              ProcessStatCollector::kMaskPower;

// A /proc of `count` processes as the kernel writes their files, in a memory file system.
std::string makeFixture(int count) {
    const std::string root = "/dev/shm/telvo-process-bench-" + std::to_string(getpid());
    std::filesystem::remove_all(root);
    for (int i = 0; i < count; ++i) {
        const int pid = 100 + i * 3;
        const std::string dir = root + "/proc/" + std::to_string(pid);
        std::filesystem::create_directories(dir);
        const std::string name = i % 10 == 0 ? "worker-process-" : "proc" + std::to_string(i);  // some cut at 15
        std::ofstream(dir + "/stat") << pid << " (" << name << ") S 1 " << pid << " " << pid
                                     << " 0 -1 4194560 120 0 3 0 " << 100 + i << " " << 50 + i
                                     << " 0 0 20 0 1 0 " << 1000 + i
                                     << " 12345678 900 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
        std::ofstream(dir + "/status") << "Name:\t" << name << "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t" << pid
                                       << "\nNgid:\t0\nPid:\t" << pid
                                       << "\nPPid:\t1\nTracerPid:\t0\nUid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\nFDSize:\t64\n"
                                          "Groups:\t0\nVmPeak:\t 20000 kB\nVmSize:\t 18000 kB\nVmLck:\t0 kB\n"
                                          "VmPin:\t0 kB\nVmHWM:\t 9000 kB\nVmRSS:\t 8000 kB\nRssAnon:\t 5000 kB\n"
                                          "RssFile:\t 3000 kB\nRssShmem:\t0 kB\nVmData:\t 6000 kB\nVmStk:\t132 kB\n"
                                          "VmExe:\t 900 kB\nVmLib:\t 4000 kB\nVmPTE:\t 80 kB\nVmSwap:\t 12 kB\n"
                                          "HugetlbPages:\t0 kB\nThreads:\t1\nSigQ:\t0/63704\n";
        std::ofstream(dir + "/io") << "rchar: 1\nwchar: 2\nsyscr: 3\nsyscw: 4\nread_bytes: " << 4096 * i
                                   << "\nwrite_bytes: " << 8192 * i << "\ncancelled_write_bytes: 0\n";
        std::ofstream(dir + "/cmdline") << "/usr/bin/" << name << '\0';
        std::filesystem::create_symlink("/usr/bin/worker-process-name", dir + "/exe");
    }
    return root;
}

void runPasses(benchmark::State& state) {
    auto c = std::make_shared<ProcessStatCollector>();
    c->setUpdateMask(kEveryBit);
    c->update();  // records made once, as in a running daemon
    for (auto _ : state) {
        c->update();
        benchmark::DoNotOptimize(c->processes().data());
    }
    state.counters["processes"] = static_cast<double>(c->processes().size());
}

void BM_ProcessPassFixture500(benchmark::State& state) {
    const std::string root = makeFixture(500);
    host::ProcRoot::setForTesting(root);
    runPasses(state);
    host::ProcRoot::resetForTesting();
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_ProcessPassFixture500)->Unit(benchmark::kMillisecond);

void BM_ProcessPassThisMachine(benchmark::State& state) {
    host::ProcRoot::resetForTesting();
    runPasses(state);
}
BENCHMARK(BM_ProcessPassThisMachine)->Unit(benchmark::kMillisecond);

void BM_ProcessLists500(benchmark::State& state) {
    auto c = std::make_shared<ProcessStatCollector>();
    c->setSharingProcessCPUCount(20);
    c->setSharingProcessMemoryCount(20);
    c->setSharingProcessDiskActivityCount(20);
    for (int i = 0; i < 500; ++i) {
        auto r = c->createProcessWithPid(100 + i);
        r->setName("process-" + std::to_string(i));
        r->setCpu((i * 7919) % 1000 / 10.0);
        r->setMemory(static_cast<double>((i * 104729) % 500000) * 1024);
        r->setDiskRead(i % 3 == 0 ? 0 : (i * 31) % 977 * 512.0);
        r->setDiskWrite(i % 4 == 0 ? 0 : (i * 17) % 991 * 512.0);
        r->setDiskReadTime(1700000000 + i % 50);
        r->setDiskWriteTime(1700000000 + i % 40);
    }
    ValueDictionary attributes;
    attributes.emplace("keys", Value("cpu,memory,disks"));
    const Value request(std::move(attributes));
    for (auto _ : state) {
        ValueArray entries = c->xmlSampleItemsFromAttributes(request);
        benchmark::DoNotOptimize(entries.data());
        if (entries.size() != 80) state.SkipWithError("not 80 entries");
    }
}
BENCHMARK(BM_ProcessLists500)->Unit(benchmark::kMicrosecond);

// `count` children that wait for their end, killed and reaped when it goes.
class Children {
public:
    explicit Children(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                for (;;) ::pause();
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~Children() {
        for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }
    size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

// One second of the daemon while a client asks for every list: a pass with every list's
// bit, then the reply's lists. The CPU time of an iteration in milliseconds, divided by 10,
// is the percentage of one core.
void BM_EveryListEverySecond(benchmark::State& state) {
    host::ProcRoot::resetForTesting();
    Children children(static_cast<int>(state.range(0)));
    if (children.size() != static_cast<size_t>(state.range(0))) state.SkipWithError("could not start the processes");
    auto c = std::make_shared<ProcessStatCollector>();
    c->setSharingProcessCPUCount(20);
    c->setSharingProcessMemoryCount(20);
    c->setSharingProcessNetworkCount(20);
    c->setSharingProcessDiskActivityCount(20);
    c->setUpdateMask(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory |
                     ProcessStatCollector::kMaskDisk | ProcessStatCollector::kMaskNetwork);
    ValueDictionary item;
    item.emplace("samples", Value("0"));
    item.emplace("keys", Value("cpu,memory,disks,network"));
    ValueArray items;
    items.emplace_back(std::move(item));
    ValueDictionary attributes;
    attributes.emplace("samples", Value("0"));
    attributes.emplace("protocol", Value(3));
    attributes.emplace("items", Value(std::move(items)));
    const Value request(std::move(attributes));
    c->update();  // records made once, as in a running daemon
    size_t entries = 0;
    for (auto _ : state) {
        c->update();
        auto nodes = c->xmlNodesFromAttributes(request);
        entries = nodes.empty() ? 0 : nodes[0]->children.size();
        benchmark::DoNotOptimize(nodes.data());
    }
    if (entries != 120) state.SkipWithError("not 120 entries");
    // The machine's own processes are counted too.
    state.counters["processes"] = static_cast<double>(c->processes().size());
}
BENCHMARK(BM_EveryListEverySecond)->Arg(500)->Arg(3000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
