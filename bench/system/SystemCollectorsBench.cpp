// One tick of each system collector (read the kernel's files, compute, write level 0), and
// one uptime answer, on this machine's own /proc and /sys.
#include <benchmark/benchmark.h>

#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"

using namespace telvo;

namespace {

template <class Collector>
void tickLoop(benchmark::State& state, Collector& c) {
    for (auto _ : state) {
        c.sampleIndexRecord(0)->sampleID += 1;  // as the clock does before each tick
        c.updateStats();
        benchmark::DoNotOptimize(c.storageForType(0)[0].values[0]);
    }
}

void BM_CPUTick(benchmark::State& state) {
    auto c = std::make_shared<CPUStatCollectorMac>();
    c->setup();
    tickLoop(state, *c);
    state.counters["processors"] = static_cast<double>(c->coreCount());
    c->cleanup();
}
BENCHMARK(BM_CPUTick);

void BM_LoadTick(benchmark::State& state) {
    auto c = std::make_shared<LoadStatCollectorMac>();
    tickLoop(state, *c);
}
BENCHMARK(BM_LoadTick);

void BM_MemoryTick(benchmark::State& state) {
    auto c = std::make_shared<MemoryStatCollectorMac>();
    tickLoop(state, *c);
}
BENCHMARK(BM_MemoryTick);

void BM_UptimeAnswer(benchmark::State& state) {
    auto c = std::make_shared<UptimeStatCollectorMac>();
    c->loadUptime();
    for (auto _ : state) benchmark::DoNotOptimize(c->xmlNodesFromAttributes(Value()));
}
BENCHMARK(BM_UptimeAnswer);

}  // namespace

BENCHMARK_MAIN();
