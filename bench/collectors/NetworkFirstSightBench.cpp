// How long the network collector's tick takes when it first sees an interface, on a fresh
// bandwidth.db under a temporary root, with the file's queue idle or held up for a while by
// earlier work (a slow disk). The tick runs on the main queue with every other collector's, so
// its time is how late those ticks come.
#include <benchmark/benchmark.h>
#include <net/if.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NetworkBenchLinks.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

const std::string kBandwidthDB = "/Library/Application Support/Telvo Server/databases/bandwidth.db";

// Arg: milliseconds the bandwidth file's queue is busy with earlier work when the tick comes.
void BM_NetworkTickFirstSightOfAnInterface(benchmark::State& state) {
    const auto busy = std::chrono::milliseconds(state.range(0));
    char tmpl[] = "/tmp/telvo-bench-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    fs::setRootForTesting(root);
    fs::createDirectories("/Library/Application Support/Telvo Server/databases");
    platform::Clock::useVirtual(1700000010);
    {
        bench::FixtureNetwork net;
        auto c = NetworkStatCollectorMac::sharedNetworkCollector();
        c->setBandwidthDatabasePath(kBandwidthDB);
        c->setBandwidthMonitoringEnabled(true);
        c->prepareBandwidthDatabase();
        c->prepareBandwidthMonitoring();
        auto file = databaseItemWithPath(kBandwidthDB);
        int index = 2;
        for (auto _ : state) {
            state.PauseTiming();
            net.links->push_back(bench::upEthernetLink(index, "veth" + std::to_string(index),
                                                      {0x02, 0xab, 0x00, 0x10, uint8_t(index >> 8), uint8_t(index)}));
            ++index;
            if (busy.count() > 0) file->queue()->async([busy] { std::this_thread::sleep_for(busy); });
            platform::Clock::advance(1);
            const auto begin = std::chrono::steady_clock::now();
            c->updateStats();
            const auto took = std::chrono::steady_clock::now() - begin;
            file->queryDatabase([](const FMDatabasePtr&) {});
            dispatch::MainLoop::runUntilIdle();
            state.SetIterationTime(std::chrono::duration<double>(took).count());
            state.ResumeTiming();
        }
        state.counters["interfaces"] = double(c->bandwidthItems().size());
    }
    HistoryDatabaseController::resetForTesting();
    dispatch::MainLoop::resetForTesting();
    fs::setRootForTesting("");
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0) std::abort();
}
BENCHMARK(BM_NetworkTickFirstSightOfAnInterface)
    ->Arg(0)
    ->Arg(100)
    ->Arg(400)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
