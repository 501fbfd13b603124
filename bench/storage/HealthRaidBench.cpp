// SMART and RAID costs: one SMART read of a drive on the fake transport (the commands, the
// checksums and the attribute update), one RAID scan of a fixture registry with two mirrors
// on four disks, and one SoftRAID scan with no volumes (its 30-tick cost on Linux).
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "collectors/storage/RaidStatCollectorMac.h"
#include "collectors/storage/SMARTStatCollectorItem.h"
#include "collectors/storage/SoftRAIDStatCollector.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/smart/FakeSmartDevice.h"

using namespace telvo;

namespace {

std::vector<uint8_t> block(std::vector<std::pair<int, int>> entries) {
    std::vector<uint8_t> b(smart::kBlockSize, 0);
    b[0] = 0x10;
    for (size_t i = 0; i < entries.size(); ++i) {
        b[2 + 12 * i] = static_cast<uint8_t>(entries[i].first);
        b[2 + 12 * i + 3] = 100;
        b[2 + 12 * i + 5] = static_cast<uint8_t>(entries[i].second);
    }
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) sum = static_cast<uint8_t>(sum + b[i]);
    b.back() = static_cast<uint8_t>(-sum);
    return b;
}

void BM_SMARTReadFakeDrive(benchmark::State& state) {
    smart::FakeDrive drive;
    drive.identify.assign(smart::kBlockSize, ' ');
    drive.identify[164] = 1;
    drive.identify[170] = 1;
    std::vector<std::pair<int, int>> entries;
    for (int id : {1, 3, 4, 5, 7, 9, 10, 12, 190, 194, 197, 198, 199}) entries.push_back({id, 40});
    drive.data = block(entries);
    drive.thresholds = block({});
    smart::setOpenerForTesting([&](const std::string&, ErrorPtr&) -> std::unique_ptr<smart::SmartDevice> {
        return std::make_unique<smart::FakeSmartDevice>(drive);
    });
    SMARTStatCollectorItem item;
    SMARTDriveHandle handle;
    double n = 0;
    for (auto _ : state) {
        item.apply(handle.read("sda", false), ++n);
        benchmark::DoNotOptimize(item.overallStatus);
    }
    smart::setOpenerForTesting(nullptr);
}
BENCHMARK(BM_SMARTReadFakeDrive);

void BM_RaidScanTwoMirrors(benchmark::State& state) {
    registry::RegistryBuilder b;
    std::map<std::string, std::shared_ptr<registry::Entry>> media;
    for (const char* disk : {"sda", "sdb", "sdc", "sdd"}) {
        auto driver = b.add(b.add(nullptr, "IOBlockStorageDevice", disk), "IOBlockStorageDriver", "driver");
        auto whole = b.add(driver, "IOMedia", disk, {{"BSD Name", Value(disk)}});
        auto scheme = b.add(whole, "IOPartitionScheme", "scheme");
        media[disk] = b.add(scheme, "IOMedia", std::string(disk) + "1", {{"BSD Name", Value(std::string(disk) + "1")}});
    }
    int set = 0;
    for (auto pair : {std::make_pair("sda", "sdb"), std::make_pair("sdc", "sdd")}) {
        const std::string uuid = "SET-" + std::to_string(set);
        bool first = true;
        for (const char* disk : {pair.first, pair.second}) {
            auto member = b.add(media[disk], "AppleRAIDMember", disk,
                                {{"CFBundleIdentifier", Value("com.apple.driver.AppleRAID")},
                                 {"AppleRAID-MemberUUID", Value(uuid + disk)},
                                 {"AppleRAID-SetUUID", Value(uuid)},
                                 {"AppleRAID-MemberStatus", Value("Online")}});
            auto setObject = b.add(member, "AppleRAIDSet", uuid,
                                   {{"AppleRAID-SetUUID", Value(uuid)},
                                    {"AppleRAID-SetStatus", Value("Online")},
                                    {"AppleRAID-LevelName", Value("raid1")}});
            if (first) b.add(setObject, "IOMedia", "md", {{"BSD Name", Value("md" + std::to_string(set))}});
            first = false;
        }
        ++set;
    }
    b.install();
    auto c = RaidStatCollectorMac::sharedRaidCollector();
    for (auto _ : state) {
        c->fetchDisks();
        benchmark::DoNotOptimize(c->items().size());
    }
    RaidStatCollectorMac::resetForTesting();
    registry::Registry::resetForTesting();
}
BENCHMARK(BM_RaidScanTwoMirrors);

void BM_SoftRAIDScanEmpty(benchmark::State& state) {
    registry::RegistryBuilder b;
    for (int i = 0; i < 20; ++i) b.add(nullptr, "IOMedia", "disk" + std::to_string(i));
    b.install();
    auto c = SoftRAIDStatCollector::sharedSoftRaidCollector();
    for (auto _ : state) c->fetchDisks();
    SoftRAIDStatCollector::resetForTesting();
    registry::Registry::resetForTesting();
}
BENCHMARK(BM_SoftRAIDScanEmpty);

}  // namespace

BENCHMARK_MAIN();
