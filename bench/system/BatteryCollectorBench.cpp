// One battery sample over a fixture machine of four power supplies (a laptop battery, mains,
// a UPS and a Bluetooth mouse's battery): the power sources alone, as on most samples, and
// with the peripherals' reading, as on every second sample.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "collectors/system/BatteryStatCollectorMac.h"
#include "platform/host/ProcRoot.h"

using namespace telvo;

namespace {

namespace fsys = std::filesystem;

class FixtureMachine {
public:
    FixtureMachine() {
        std::string tmpl = (fsys::temp_directory_path() / "telvo-battery-bench-XXXXXX").string();
        root_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
        const std::string ps = "/sys/class/power_supply/";
        write(ps + "AC/type", "Mains");
        write(ps + "AC/online", "1");
        const char* bat[][2] = {{"type", "Battery"}, {"present", "1"}, {"status", "Charging"}, {"capacity", "57"},
                                {"energy_now", "28500000"}, {"energy_full", "50000000"},
                                {"energy_full_design", "52000000"}, {"power_now", "10000000"},
                                {"voltage_now", "12500000"}, {"cycle_count", "300"}, {"model_name", "Bench Battery"},
                                {"serial_number", "B-1"}, {"manufacture_year", "2017"}, {"manufacture_month", "4"},
                                {"manufacture_day", "6"}};
        for (const auto& f : bat) write(ps + "BAT0/" + f[0], f[1]);
        write(ps + "ups/type", "UPS");
        write(ps + "ups/status", "Charging");
        write(ps + "ups/capacity", "100");
        write(ps + "ups/model_name", "Bench UPS");
        const std::string hid = "/sys/devices/hid/0005:004C:0269.0001";
        const std::string mouse = ps + "hid-aa:bb:cc:dd:ee:ff-battery/";
        write(mouse + "type", "Battery");
        write(mouse + "scope", "Device");
        write(mouse + "capacity", "45");
        write(mouse + "status", "Discharging");
        write(mouse + "model_name", "Bench Mouse");
        write(hid + "/uevent", "HID_ID=0005:0000004C:00000269\nHID_NAME=Bench Mouse\nHID_UNIQ=aa:bb:cc:dd:ee:ff");
        write(hid + "/input/input7/uniq", "aa:bb:cc:dd:ee:ff");
        write(hid + "/input/input7/name", "Bench Mouse");
        write(hid + "/input/input7/capabilities/key", "70000 0 0 0 0");
        write(hid + "/input/input7/capabilities/rel", "103");
        write(hid + "/input/input7/capabilities/abs", "0");
        std::error_code ec;
        fsys::create_directory_symlink("../../../devices/hid/0005:004C:0269.0001", root_ + mouse + "device", ec);
        host::ProcRoot::setForTesting(root_);
    }
    ~FixtureMachine() {
        host::ProcRoot::resetForTesting();
        std::error_code ec;
        if (!root_.empty()) fsys::remove_all(root_, ec);
    }

private:
    void write(const std::string& kernelPath, const std::string& text) {
        fsys::create_directories(fsys::path(root_ + kernelPath).parent_path());
        std::ofstream(root_ + kernelPath) << text << "\n";
    }
    std::string root_;
};

void batterySamples(benchmark::State& state, bool peripherals) {
    FixtureMachine machine;
    auto c = std::make_shared<BatteryStatCollectorMac>();
    c->setup();
    c->sampleIndexRecord(0)->sampleID += 1;
    c->updateStats();  // the first sample reads the peripherals too
    for (auto _ : state) {
        c->sampleIndexRecord(0)->sampleID += 1;  // as the clock does before each sample
        c->lastBluetoothTime = peripherals ? 0 : 1e300;
        c->updateStats();
        benchmark::DoNotOptimize(c->items().size());
    }
    state.counters["items"] = double(c->items().size());
    c->cleanup();
}

void BM_BatterySample(benchmark::State& state) { batterySamples(state, false); }
BENCHMARK(BM_BatterySample);

void BM_BatterySampleWithPeripherals(benchmark::State& state) { batterySamples(state, true); }
BENCHMARK(BM_BatterySampleWithPeripherals);

}  // namespace
