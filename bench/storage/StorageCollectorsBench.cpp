// The storage collectors' costs: one volumes tick over 10 volumes (statvfs of "/" each), one
// disk-activity tick over 4 disks (their sysfs "stat" files), and the work one device event
// causes (registry rebuild with its notifications, the disk scan and the registry scan), on a
// fixture sysfs of 4 disks with 2 partitions each.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "collectors/storage/DiskActivityStatCollectorMac.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/DisksStatCollectorMac.h"
#include "platform/diskarb/DiskDescription.h"
#include "platform/diskarb/DiskScanner.h"
#include "platform/registry/NotificationPort.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"

using namespace telvo;
namespace stdfs = std::filesystem;

namespace {

// A fixture sysfs of 4 SATA disks with 2 partitions each; removed at exit.
struct FixtureSysfs {
    std::string root;
    FixtureSysfs() {
        char tmpl[] = "/tmp/telvo-bench-sysfs-XXXXXX";
        root = mkdtemp(tmpl);
        for (int d = 0; d < 4; ++d) {
            const std::string name = std::string("sd") + char('a' + d);
            const std::string device = "/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:" + std::to_string(d) +
                                       "/0:0:" + std::to_string(d) + ":0";
            const std::string dir = device + "/block/" + name;
            write(dir + "/size", "100000000");
            write(dir + "/dev", "8:" + std::to_string(d * 16));
            write(dir + "/queue/rotational", "0");
            write(dir + "/stat", "1000 0 200000 0 500 0 800000 0 0 0 0");
            write(dir + "/serial", "SERIAL" + std::to_string(d));
            write(device + "/vendor", "ATA");
            write(device + "/model", "Bench Disk");
            stdfs::create_symlink("../../../0:0:" + std::to_string(d) + ":0", root + dir + "/device");
            for (int p = 1; p <= 2; ++p) {
                const std::string part = dir + "/" + name + std::to_string(p);
                write(part + "/partition", std::to_string(p));
                write(part + "/size", "1000000");
                write(part + "/dev", "8:" + std::to_string(d * 16 + p));
            }
            stdfs::create_directories(root + "/block");
            stdfs::create_symlink(".." + dir, root + "/block/" + name);
        }
    }
    ~FixtureSysfs() { stdfs::remove_all(root); }
    void write(const std::string& rel, const std::string& text) {
        stdfs::create_directories(stdfs::path(root + rel).parent_path());
        std::ofstream(root + rel) << text << "\n";
    }
};

void BM_VolumesTick10(benchmark::State& state) {
    auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    for (int i = 0; i < 10; ++i) {
        ValueDictionary d;
        d[diskarb::key::kMediaBSDName] = Value("bench" + std::to_string(i));
        d[diskarb::key::kMediaWhole] = Value(true);
        d[diskarb::key::kVolumePath] = Value("/");
        d[diskarb::key::kVolumeName] = Value("Volume " + std::to_string(i));
        d[diskarb::key::kVolumeMountable] = Value(true);
        info->DADiskAppeared(Value(std::move(d)));
    }
    auto disks = std::make_shared<DisksStatCollectorMac>();
    int64_t sequence = 0;
    for (auto _ : state) {
        disks->sampleIndexRecord(0)->sampleID += 1;
        disks->updateStats(sequence);
        sequence += 3;
        benchmark::DoNotOptimize(disks->items().size());
    }
    state.counters["volumes"] = static_cast<double>(disks->items().size());
    disks->cleanup();
    DiskInfoStatCollectorMac::cleanupShared();
}
BENCHMARK(BM_VolumesTick10);

void BM_DiskActivityTick4(benchmark::State& state) {
    FixtureSysfs sysfs;
    registry::setSysfsRootForTesting(sysfs.root + "");
    registry::Registry::refreshShared();
    auto c = std::make_shared<DiskActivityStatCollectorMac>();
    c->rebuildDisks();
    c->updateHardwareInfo();
    for (auto _ : state) {
        c->sampleIndexRecord(0)->sampleID += 1;
        c->updateStats();
        benchmark::DoNotOptimize(c->items().size());
    }
    state.counters["disks"] = static_cast<double>(c->items().size());
    c->cleanup();
    registry::setSysfsRootForTesting("");
    registry::Registry::resetForTesting();
}
BENCHMARK(BM_DiskActivityTick4);

void BM_RescanAfterEvent(benchmark::State& state) {
    FixtureSysfs sysfs;
    registry::setSysfsRootForTesting(sysfs.root);
    registry::Registry::refreshShared();
    size_t described = 0;
    for (auto _ : state) {
        registry::refreshAndNotify();
        described = diskarb::scanDisks().size();
        benchmark::DoNotOptimize(DiskInfoStatCollectorMac::scanRegistry());
    }
    state.counters["descriptions"] = static_cast<double>(described);
    registry::setSysfsRootForTesting("");
    registry::Registry::resetForTesting();
}
BENCHMARK(BM_RescanAfterEvent);

}  // namespace

BENCHMARK_MAIN();
