// One sampled tick of the sensors collector with 60 sensors (52 temperatures, voltages and
// currents, 4 power entries, 4 fans) on the fake SMC, a level-0 reply of the same collector,
// and the value decoder alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <deque>
#include <string>
#include <vector>

#include "collectors/sensors/SensorsStatCollectorMac.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"
#include "platform/smc/FakeSMC.h"
#include "platform/values/Format.h"
#include "platforms/PlatformController.h"
#include "sensors/SMCValueDecoder.h"
#include "sensors/SensorSMCController.h"

using namespace telvo;

namespace {

struct Bench60 {
    std::deque<std::string> texts;  // keeps the table's strings
    std::vector<SensorRow> rows;
    PlatformModel model{};
    std::shared_ptr<smc::FakeSMC> smc = std::make_shared<smc::FakeSMC>();
    std::string sys;

    const char* keep(std::string s) { return texts.emplace_back(std::move(s)).c_str(); }

    Bench60() {
        const char* prefixes[] = {"T", "V", "I"};
        for (int i = 0; i < 52; ++i) {
            std::string key = format("%@%c%XP", prefixes[i % 3], char('A' + i / 16), i % 16);
            rows.push_back({keep(key), keep("Sensor " + std::to_string(i))});
            smc->setSP78(key, 20.0 + i);
        }
        for (int i = 0; i < 4; ++i) {
            std::string v = format("VD%XR", i), c = format("ID%XR", i);
            smc->setKey(v, "fp4c", {0xC0, 0x00});
            smc->setKey(c, "fp4c", {0x20, 0x00});
            rows.push_back(powerRow(keep(format("PD%XR", i)), keep("DC In " + std::to_string(i)), keep(v), keep(c)));
        }
        smc->setUI8("FNum", 4);
        for (int i = 0; i < 4; ++i) {
            std::vector<uint8_t> id(16, 0);
            std::memcpy(id.data(), "Master", 6);
            smc->setKey(format("F%XID", i), "{fds", id);
            smc->setFPE2(format("F%XAc", i), 2000 + i);
            smc->setFPE2(format("F%XMn", i), 1200);
            smc->setFPE2(format("F%XMx", i), 6000);
        }
        model = PlatformModel{"Bench1_1", "Bench1,1", "Bench", 0, 0, 0, "", PlatformBase::Mac, {"TA0P", nullptr},
                              noVariation(), rows};
        const PlatformModel* list[] = {&model};
        // A machine whose DMI product name is the bench model's identifier.
        std::string folder = std::filesystem::temp_directory_path().string() + "/telvo-bench-sensors-XXXXXX";
        if (mkdtemp(folder.data())) {
            sys = folder;
            std::filesystem::create_directories(sys + "/class/dmi/id");
            std::ofstream(sys + "/class/dmi/id/product_name") << "Bench1,1\n";
            registry::setSysfsRootForTesting(sys);
        }
        registry::Registry::resetForTesting();
        PlatformController::resetForTesting();
        PlatformController::registerModels(list);
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(smc);
    }
    ~Bench60() {
        PlatformController::resetForTesting();
        SensorSMCController::resetForTesting();
        SensorSMCController::setBackendForTesting(nullptr);
        registry::setSysfsRootForTesting("");
        if (!sys.empty()) std::filesystem::remove_all(sys);
    }
};

std::shared_ptr<SensorsStatCollectorMac> collector(Bench60&) {
    auto c = std::make_shared<SensorsStatCollectorMac>();
    c->setup();
    c->loadSensors();
    return c;
}

void BM_SensorsTick(benchmark::State& state) {
    Bench60 setup;
    auto c = collector(setup);
    if (c->items().empty()) state.SkipWithError("no sensors made");
    int64_t sequence = 0;
    for (auto _ : state) {
        c->sampleIndexRecord(0)->sampleID += 1;
        c->updateStats(sequence);
        sequence += 2;
        benchmark::DoNotOptimize(c->items().front()->storageForType(0)[0].values[0]);
    }
    state.counters["sensors"] = static_cast<double>(c->items().size());
}
BENCHMARK(BM_SensorsTick);

void BM_SensorsReply(benchmark::State& state) {
    Bench60 setup;
    auto c = collector(setup);
    for (int i = 0; i < 300; ++i) {
        c->sampleIndexRecord(0)->sampleID += 1;
        c->updateStats(2 * i);
    }
    Value request(ValueDictionary{{"samples", Value("-1")}, {"protocol", Value(3)}});
    for (auto _ : state) benchmark::DoNotOptimize(c->xmlNodesFromAttributes(request));
}
BENCHMARK(BM_SensorsReply);

void BM_DecodeSP78(benchmark::State& state) {
    SMCResultData d;
    std::memcpy(d.dataType, "sp78", 4);
    d.dataSize = 2;
    d.bytes[0] = 0x1E;
    d.bytes[1] = 0x80;
    for (auto _ : state) benchmark::DoNotOptimize(smcvalues::convertData(d));
}
BENCHMARK(BM_DecodeSP78);

}  // namespace

BENCHMARK_MAIN();
