#pragma once
// NetworkStatCollectorItem: one network service of the network collector (key: the service
// identifier). Its level-0 samples hold the download and upload rates and the interface's
// received and sent byte counters at that second; the configuration scan fills its names,
// addresses and connection state.
#include <cstdint>
#include <string>
#include <vector>

#include "collectors/framework/StatCollectorItem.h"
#include "collectors/system/NetworkStatCollector.h"

namespace telvo {

class NetworkStatCollectorItem : public StatCollectorItem {
public:
    NetworkStatCollectorItem() : StatCollectorItem(sampleCount()) {}
    static int64_t sampleCount() { return NetworkStatCollector::sampleCount(); }

    // The level-0 sample of one second: counters (bytes) in, rates out.
    void addSampleWithDownload(double received, double sent, double time, double identifier);
    // The first IPv4 address, else the first IPv6 address, else "".
    std::string ipAddress() const;
    bool isConnected() const { return connectionstatus == 100; }
    double totalDownload() const;
    double totalUpload() const;
    std::string description() const override;

    // Wire form: "name", "uuid", "mac" and "bsd" when known, "ip"; the samples; "d" and "u",
    // the newest counters.
    Value xmlStorageItem() const override;
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    // At level 0 for protocol 2 "d" and "u" carry the counters in place of the rates.
    Value xmlSampleFromSample(const statsample& sample, int64_t level, int64_t protocol) const override;

    std::string mac, hardware, name, bsd, service, router;
    std::vector<std::string> dns, subnet, ipv4, ipv6;
    Value activeMediaOptions;
    int64_t connectionstatus = 0;
    double lastupdate = 0, speed = 0, linkSpeed = 0, connectiontime = 0, rawConnectiontime = 0;
    double peakDownload = 0, peakUpload = 0;
    bool ppp = false, dhcp = false;
    int index = 0;
    // Wall-clock time of the previous rate computation; 0 until the first.
    double lastTime = 0;
};

}  // namespace telvo
