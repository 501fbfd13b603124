// Cost of the collector framework's steady work: one tick with its history advance, and the
// answer to a statistics request for every level, serialised.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "collectors/framework/StatNodeXML.h"
#include "collectors/framework/TestCollectors.h"
#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/xml/XmlDocument.h"

using namespace telvo;

namespace {

constexpr double kStart = 1700000000.0;

// One tick as the clock runs it: level 0's time and number, the sample, the level advance.
void tick(StatCollector& c) {
    sampleindexconfig* live = c.sampleIndexRecord(0);
    live->time = platform::Clock::now();
    live->sampleID += 1;
    c.updateStats(c.updateSequence());
    c.updateHistory();
    c.setUpdateSequence(c.updateSequence() + 1);
    platform::Clock::advance(1);
}

// With history files under a temporary root (rows queued, pruned and committed every 144 s),
// or in memory only.
struct Files {
    std::string root;
    explicit Files(bool use) {
        if (!use) return;
        char tmpl[] = "/tmp/telvo-bench-XXXXXX";
        root = mkdtemp(tmpl);
        fs::setRootForTesting(root);
        fs::createDirectories("/Library/Application Support/Telvo Server/databases");
    }
    void attach(StatCollector& c) {
        if (root.empty()) return;
        c.setDbpath("/Library/Application Support/Telvo Server/databases/local.db");
        c.setDbpathLong("/Library/Application Support/Telvo Server/databases/longterm.db");
        c.prepareDatabase(false);
    }
    ~Files() {
        if (root.empty()) return;
        HistoryDatabaseController::sharedHistoryDatabaseController().commitAllSync();
        HistoryDatabaseController::resetForTesting();
        fs::setRootForTesting("");
        std::string cmd = "rm -rf '" + root + "'";
        if (std::system(cmd.c_str()) != 0) std::abort();
    }
};

void prime(StatCollector& c) {
    for (int64_t level = 1; level <= 8; ++level) c.checkNextTimeAtIndex(level);
    for (int i = 0; i < 1200; ++i) tick(c);  // rings and levels in their steady state
}

void BM_TickStorageType1TenValues(benchmark::State& state) {
    platform::Clock::useVirtual(kStart + 0.5);
    Files files(state.range(0) != 0);
    auto c = std::make_shared<fwtest::TestValuesCollector>(10);
    files.attach(*c);
    prime(*c);
    for (auto _ : state) tick(*c);
    state.SetLabel(state.range(0) ? "with history files" : "memory only");
    platform::Clock::useReal();
}
BENCHMARK(BM_TickStorageType1TenValues)->Arg(0)->Arg(1);

void BM_TickStorageType2HundredItems(benchmark::State& state) {
    platform::Clock::useVirtual(kStart + 0.5);
    Files files(state.range(0) != 0);
    std::vector<std::string> keys;
    for (int i = 0; i < 100; ++i) keys.push_back(std::string("item").append(std::to_string(i)));
    auto c = std::make_shared<fwtest::TestDevicesCollector>(keys);
    files.attach(*c);
    prime(*c);
    for (auto _ : state) tick(*c);
    state.SetLabel(state.range(0) ? "with history files" : "memory only");
    platform::Clock::useReal();
}
BENCHMARK(BM_TickStorageType2HundredItems)->Arg(0)->Arg(1);

// A request naming every level with the sample number 600 below each level's newest, so that
// each stat element carries 600 samples; answered and serialised.
std::string everyLevel(StatCollector& c) {
    std::string samples;
    for (int64_t level = 0; level < kSampleLevelCount; ++level)
    {
        if (level) samples += '|';
        samples += std::to_string(int64_t(c.storageForType(level)[0].sampleID) - 600);
    }
    return samples;
}

void fillEveryLevel(StatCollector& c, const std::vector<StatCollectorItemPtr>& items) {
    for (int64_t level = 0; level < kSampleLevelCount; ++level) {
        auto fill = [&](statsample* ring, int64_t count) {
            for (int s = 0; s < kSamplesPerLevel; ++s) {
                ring[s].sampleID = 1000 - s;
                ring[s].time = kStart - s * kSampleLevelIntervals[level];
                ring[s].empty = 0;
                for (int64_t v = 0; v < count; ++v) ring[s].values[v] = 1000.0 / (s + 1) + v;
            }
        };
        fill(c.storageForType(level), c.sampleValueCount());
        c.setID(1000, level);
        for (const auto& item : items) fill(item->storageForType(level), item->sampleValueCount());
    }
}

void BM_RequestEveryLevelStorageType1(benchmark::State& state) {
    platform::Clock::useVirtual(kStart);
    auto c = std::make_shared<fwtest::TestValuesCollector>(10);
    fillEveryLevel(*c, {});
    Value request(ValueDictionary{{"samples", Value(everyLevel(*c))}, {"protocol", NSInt(3)}});
    size_t bytes = 0;
    for (auto _ : state) {
        auto nodes = c->xmlNodesFromAttributes(request);
        xml::XmlDocument doc("tvx");
        appendStatNodes(nodes, doc.root());
        std::string text = doc.xmlString();
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["reply_bytes"] = double(bytes);
    platform::Clock::useReal();
}
BENCHMARK(BM_RequestEveryLevelStorageType1)->Unit(benchmark::kMillisecond);

void BM_RequestEveryLevelStorageType2TenItems(benchmark::State& state) {
    platform::Clock::useVirtual(kStart);
    std::vector<std::string> keys;
    for (int i = 0; i < 10; ++i) keys.push_back(std::string("item").append(std::to_string(i)));
    auto c = std::make_shared<fwtest::TestDevicesCollector>(keys);
    std::vector<StatCollectorItemPtr> items;
    for (const auto& k : keys) {
        items.push_back(c->newItemWithKey(k));
        items.back()->setLoadedHistory(true);
    }
    fillEveryLevel(*c, items);
    Value request(ValueDictionary{{"samples", Value(everyLevel(*c))}, {"protocol", NSInt(3)}});
    size_t bytes = 0;
    for (auto _ : state) {
        auto nodes = c->xmlNodesFromAttributes(request);
        xml::XmlDocument doc("tvx");
        appendStatNodes(nodes, doc.root());
        std::string text = doc.xmlString();
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["reply_bytes"] = double(bytes);
    platform::Clock::useReal();
}
BENCHMARK(BM_RequestEveryLevelStorageType2TenItems)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
