#pragma once
// NetworkStatCollector: one item per network service with its download and upload rates
// (storage type 2: the values live in the items' rings), served as stat type "network"; the
// collector's own level-0 ring holds the primary interface's byte counters. It also carries
// the state of the ten-minute bandwidth accounting (NetworkStatCollectorMac does the work).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"
#include "collectors/system/NetworkStatCollectorBandwidthItem.h"

namespace telvo {

class NetworkStatCollectorItem;

class NetworkStatCollector : public StatCollector {
public:
    // Value positions of a sample.
    enum : int { kDownload = 0, kUpload = 1, kReceived = 2, kSent = 3 };
    // One entry of the interface map of the bandwidth file.
    struct InterfaceMapEntry {
        int64_t identifier = 0;
        std::string interface;
    };

    NetworkStatCollector();
    static int64_t sampleCount() { return 4; }
    static std::string statTypeName() { return "network"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "NetworkStatCollector"; }
    ItemFactory itemClass() const override;

    // The first item whose BSD name is `name`, or null (also `interfaceWithName:`).
    std::shared_ptr<NetworkStatCollectorItem> itemWithBsd(const std::string& name) const;
    std::shared_ptr<NetworkStatCollectorItem> interfaceWithName(const std::string& name) const { return itemWithBsd(name); }

    // 0 nothing connected, 1 connecting or connected without a routable address, 2 connected
    // with a routable address.
    int64_t networkStatus() const { return networkStatus_; }
    void setNetworkStatus(int64_t s) { networkStatus_ = s; }

    // ---- Bandwidth accounting state
    const std::string& bandwidthDatabasePath() const { return bandwidthDatabasePath_; }
    void setBandwidthDatabasePath(const std::string& p) { bandwidthDatabasePath_ = p; }
    bool bandwidthMonitoringEnabled() const { return bandwidthMonitoringEnabled_; }
    void setBandwidthMonitoringEnabled(bool v) { bandwidthMonitoringEnabled_ = v; }
    std::map<std::string, NetworkStatCollectorBandwidthItem>& bandwidthItems() { return bandwidthItems_; }
    std::vector<InterfaceMapEntry>& bandwidthInterfaceMap() { return bandwidthInterfaceMap_; }
    // Creates "bandwidth_interface_map" and "bandwidth_samples" in the bandwidth file where
    // missing; true when it created either.
    bool prepareBandwidthDatabase();

private:
    int64_t networkStatus_ = 0;
    std::string bandwidthDatabasePath_;
    bool bandwidthMonitoringEnabled_ = false;
    std::map<std::string, NetworkStatCollectorBandwidthItem> bandwidthItems_;
    std::vector<InterfaceMapEntry> bandwidthInterfaceMap_;
};

}  // namespace telvo
