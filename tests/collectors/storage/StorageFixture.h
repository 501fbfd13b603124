#pragma once
// Test fixture for the storage collectors: the framework's history fixture plus a fixture
// machine built by the test (sysfs disks and partitions, a mount table, udev records) that
// the registry, the disk scanner and the collectors read; device events are handed to the
// event monitor as the kernel would send them; capacities come from a table of the test.
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/framework/NodeText.h"
#include "collectors/storage/DiskActivityStatCollectorMac.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/DisksStatCollectorMac.h"
#include "collectors/storage/StorageNotifications.h"
#include "platform/diskarb/DeviceEventMonitor.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/host/ProcRoot.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"

namespace telvo::storagetest {

namespace stdfs = std::filesystem;

class StorageFixture : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        fwtest::HistoryFixture::SetUp();
        machine_ = root_ + "/machine";
        stdfs::create_directories(machine_ + "/sys/block");
        stdfs::create_directories(machine_ + "/proc/self");
        stdfs::create_directories(machine_ + "/run/udev/data");
        file("/sys/class/dmi/id/product_name", "Fixture1,1\n");
        file("/proc/self/mountinfo", "");
        host::ProcRoot::setForTesting(machine_);
        registry::setSysfsRootForTesting(machine_ + "/sys");
        registry::Registry::resetForTesting();
        diskarb::DeviceEventMonitor::setSourcesEnabledForTesting(false);
        DisksStatCollectorMac::setCapacityReaderForTesting([this](const std::string& path) {
            std::lock_guard<std::mutex> lock(capacityMutex_);
            auto it = capacities_.find(path);
            return it == capacities_.end() ? DisksStatCollectorMac::Capacity{} : it->second;
        });
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        DiskActivityStatCollectorMac::resetForTesting();
        DisksStatCollectorMac::resetForTesting();
        DiskInfoStatCollectorMac::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        diskarb::DeviceEventMonitor::setSourcesEnabledForTesting(true);
        registry::setSysfsRootForTesting("");
        registry::Registry::resetForTesting();
        host::ProcRoot::resetForTesting();
        fwtest::HistoryFixture::TearDown();
    }

    // ---- The machine
    void file(const std::string& rel, const std::string& text) {
        stdfs::create_directories(stdfs::path(machine_ + rel).parent_path());
        std::ofstream(machine_ + rel) << text;
    }
    void link(const std::string& rel, const std::string& target) {
        stdfs::create_directories(stdfs::path(machine_ + rel).parent_path());
        stdfs::remove(machine_ + rel);
        stdfs::create_symlink(target, machine_ + rel);
    }
    // A disk below a SCSI device "0:0:<n>:<lun>" of an ATA port; answers its sysfs folder.
    std::string scsiDisk(const std::string& bsd, int target, int lun, long long sectors, const std::string& dev,
                         const std::string& vendor, const std::string& model, bool rotational = true) {
        const std::string device = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:" +
                                   std::to_string(target) + "/0:0:" + std::to_string(target) + ":" +
                                   std::to_string(lun);
        const std::string dir = device + "/block/" + bsd;
        disk(dir, sectors, dev, rotational);
        link(dir + "/device", "../../../0:0:" + std::to_string(target) + ":" + std::to_string(lun));
        file(device + "/vendor", vendor + "\n");
        file(device + "/model", model + "\n");
        link("/sys/block/" + bsd, ".." + dir.substr(4));
        return dir;
    }
    void disk(const std::string& dir, long long sectors, const std::string& dev, bool rotational) {
        file(dir + "/size", std::to_string(sectors) + "\n");
        file(dir + "/dev", dev + "\n");
        file(dir + "/queue/rotational", rotational ? "1\n" : "0\n");
        file(dir + "/queue/logical_block_size", "512\n");
        file(dir + "/removable", "0\n");
        file(dir + "/ro", "0\n");
        file(dir + "/stat", "0 0 0 0 0 0 0 0 0 0 0\n");
    }
    void partition(const std::string& diskDir, const std::string& bsd, int number, long long sectors,
                   const std::string& dev, const std::string& partUUID = "") {
        const std::string dir = diskDir + "/" + bsd;
        file(dir + "/partition", std::to_string(number) + "\n");
        file(dir + "/size", std::to_string(sectors) + "\n");
        file(dir + "/dev", dev + "\n");
        file(dir + "/ro", "0\n");
        file(dir + "/uevent", "PARTN=" + std::to_string(number) + (partUUID.empty() ? "" : "\nPARTUUID=" + partUUID) + "\n");
    }
    // A virtual block device (loop, dm); answers its folder.
    std::string virtualDisk(const std::string& bsd, long long sectors, const std::string& dev) {
        const std::string dir = "/sys/devices/virtual/block/" + bsd;
        disk(dir, sectors, dev, true);
        link("/sys/block/" + bsd, "../devices/virtual/block/" + bsd);
        return dir;
    }
    void removeDisk(const std::string& bsd) { stdfs::remove(machine_ + "/sys/block/" + bsd); }
    void udev(const std::string& dev, const std::map<std::string, std::string>& keys) {
        std::string text;
        for (const auto& [k, v] : keys) text += "E:" + k + "=" + v + "\n";
        file("/run/udev/data/b" + dev, text);
    }
    void mounts(const std::string& table) { file("/proc/self/mountinfo", table); }
    void capacity(const std::string& path, double size, double free) {
        std::lock_guard<std::mutex> lock(capacityMutex_);
        capacities_[path] = {true, size, free};
    }

    // ---- Events
    // A kernel block event, handled as the watcher thread would.
    void event(const std::string& action, const std::string& devpath) {
        std::string m = action + "@" + devpath;
        m += '\0';
        for (const std::string& pair : {"ACTION=" + action, "DEVPATH=" + devpath, std::string("SUBSYSTEM=block")}) {
            m += pair;
            m += '\0';
        }
        diskarb::DeviceEventMonitor::shared().handleMessage(m.data(), m.size());
        settle();
    }
    void mountTableChanged() {
        diskarb::DeviceEventMonitor::shared().handleMountTableChange();
        settle();
    }
    // Runs the disk information queue and the main queue until both are quiet.
    void settle() {
        auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
        for (int i = 0; i < 4; ++i) {
            info->queue()->sync([] {});
            dispatch::MainLoop::runUntilIdle();
        }
    }
    // The disk information collector started as the daemon's controller does.
    std::shared_ptr<DiskInfoStatCollectorMac> startDiskInfo() {
        auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
        info->listenForChanges();
        info->fetchInfo();
        dispatch::MainLoop::runUntilIdle();
        settle();
        return info;
    }

    static Value request(const std::string& samples, int64_t protocol) {
        return Value(ValueDictionary{{"samples", Value(samples)}, {"protocol", NSInt(protocol)}});
    }
    void expectGolden(const std::string& name, const std::vector<StatNodePtr>& nodes) {
        std::string golden;
        const std::string text = fwtest::nodesText(nodes);
        EXPECT_TRUE(fwtest::matchesGolden(name, text, golden)) << "got:\n" << text << "golden " << name << ":\n" << golden;
    }
    static Value recordWithBsd(const ValueArray& disks, const std::string& bsd) {
        for (const Value& r : disks)
            if (r["bsd"].stringValue() == bsd) return r;
        return Value();
    }

    std::string machine_;
    std::mutex capacityMutex_;
    std::map<std::string, DisksStatCollectorMac::Capacity> capacities_;
};

}  // namespace telvo::storagetest
