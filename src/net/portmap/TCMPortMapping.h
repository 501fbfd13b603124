#pragma once
// One requested port mapping: the local port, the public port wanted and granted, the
// description stored with the router entry (how the system recognises its own entries) and the
// mapping status. Written on the port mapper's queue, read from other queues.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include "platform/values/Value.h"

namespace telvo {

class TCMPortMapping;
using TCMPortMappingPtr = std::shared_ptr<TCMPortMapping>;

enum TCMPortMappingStatus : int64_t {
    TCMPortMappingStatusUnmapped = 0,
    TCMPortMappingStatusTrying = 1,
    TCMPortMappingStatusMapped = 2,
    TCMPortMappingStatusPortTaken = 3,
    TCMPortMappingStatusFailed = 4,
};

// Which protocol made the router entry of a mapping.
enum class TCMMappingProtocol { None, UPnP, NATPMP };

class TCMPortMapping {
public:
    // Both ports must lie in 1 to 65535; otherwise there is no mapping (and the line
    // "Port number has to be between 1 and 65535" goes to the system log). User information
    // is not kept.
    static TCMPortMappingPtr portMappingWithLocalPort(int localPort, int desiredExternalPort,
                                                      int64_t transportProtocol, const Value& userInfo = Value());

    int localPort() const { return localPort_; }
    int externalPort() const { return externalPort_; }
    void setExternalPort(int port) { externalPort_ = port; }
    int desiredExternalPort() const { return desiredExternalPort_; }
    std::string portDescription() const;
    void setPortDescription(const std::string& description);
    int64_t mappingStatus() const { return mappingStatus_; }
    void setMappingStatus(int64_t status) { mappingStatus_ = status; }
    int64_t transportProtocol() const { return transportProtocol_; }
    TCMMappingProtocol mappedWith() const { return mappedWith_; }
    void setMappedWith(TCMMappingProtocol protocol) { mappedWith_ = protocol; }

    // "<TCMPortMapping: 0x...> privatePort:%u desiredPublicPort:%u publicPort:%u mappingStatus:%@ transportProtocol:%li"
    std::string description() const;

private:
    TCMPortMapping(int localPort, int desiredExternalPort, int64_t transportProtocol);

    const int localPort_;
    std::atomic<int> externalPort_{0};
    const int desiredExternalPort_;
    mutable std::mutex mutex_;
    std::string portDescription_;
    std::atomic<int64_t> mappingStatus_{TCMPortMappingStatusUnmapped};
    const int64_t transportProtocol_;
    std::atomic<TCMMappingProtocol> mappedWith_{TCMMappingProtocol::None};
};

}  // namespace telvo
