// Costs of the dispatch layer: queueing onto a serial queue, sync onto a queue, and one
// virtual-clock timer tick delivered on the main queue or on a worker queue.
#include <atomic>
#include <benchmark/benchmark.h>
#include "platform/dispatch/MainLoop.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/time/Clock.h"

using namespace telvo;
using dispatch::MainLoop;
using dispatch::Queue;

static void BM_SerialAsyncThroughput(benchmark::State& state) {
    auto queue = Queue::createSerial("bench.async");
    std::atomic<long> ran{0};
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) queue->async([&] { ran.fetch_add(1, std::memory_order_relaxed); });
        queue->sync([] {});
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_SerialAsyncThroughput);

static void BM_SyncOntoIdleQueue(benchmark::State& state) {
    auto queue = Queue::createSerial("bench.sync");
    static int key;
    int value = 1;
    queue->setSpecific(&key, &value);
    void* seen = nullptr;
    for (auto _ : state) {
        queue->sync([&] { seen = Queue::getSpecific(&key); });
        benchmark::DoNotOptimize(seen);
    }
}
BENCHMARK(BM_SyncOntoIdleQueue);

static void virtualTicks(benchmark::State& state, bool onMain) {
    MainLoop::resetForTesting();
    platform::Clock::useVirtual(1.7e9);
    auto queue = onMain ? Queue::main() : Queue::createSerial("bench.ticks");
    auto timer = dispatch::Source::createTimer(queue);
    std::atomic<long> ticks{0};
    timer->setEventHandler([&] { ticks.fetch_add(1, std::memory_order_relaxed); });
    timer->scheduleAfter(1, 1);
    timer->resume();
    for (auto _ : state) MainLoop::runFor(1000);
    state.SetItemsProcessed(ticks.load());
    timer->cancel();
    MainLoop::resetForTesting();
}

static void BM_VirtualTickOnMainQueue(benchmark::State& state) { virtualTicks(state, true); }
static void BM_VirtualTickOnWorkerQueue(benchmark::State& state) { virtualTicks(state, false); }
BENCHMARK(BM_VirtualTickOnMainQueue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VirtualTickOnWorkerQueue)->Unit(benchmark::kMillisecond);
