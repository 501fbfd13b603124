// A requested port mapping.
#include "net/portmap/TCMPortMapping.h"

#include <cstdio>
#include "net/portmap/PortMapperLog.h"

namespace telvo {

TCMPortMappingPtr TCMPortMapping::portMappingWithLocalPort(int localPort, int desiredExternalPort,
                                                           int64_t transportProtocol, const Value&) {
    if (localPort < 1 || localPort > 65535 || desiredExternalPort < 1 || desiredExternalPort > 65535) {
        PortMapperLog("Port number has to be between 1 and 65535");
        return nullptr;
    }
    return TCMPortMappingPtr(new TCMPortMapping(localPort, desiredExternalPort, transportProtocol));
}

TCMPortMapping::TCMPortMapping(int localPort, int desiredExternalPort, int64_t transportProtocol)
    : localPort_(localPort), desiredExternalPort_(desiredExternalPort), transportProtocol_(transportProtocol) {}

std::string TCMPortMapping::portDescription() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return portDescription_;
}

void TCMPortMapping::setPortDescription(const std::string& description) {
    std::lock_guard<std::mutex> lock(mutex_);
    portDescription_ = description;
}

std::string TCMPortMapping::description() const {
    char self[64];
    std::snprintf(self, sizeof self, "<TCMPortMapping: %p>", static_cast<const void*>(this));
    int64_t status = mappingStatus();
    const char* word = status == TCMPortMappingStatusUnmapped ? "unmapped"
                       : status == TCMPortMappingStatusMapped ? "mapped"
                                                               : "trying";
    return format("%@ privatePort:%u desiredPublicPort:%u publicPort:%u mappingStatus:%@ transportProtocol:%li",
                  std::string(self), unsigned(localPort_), unsigned(desiredExternalPort_), unsigned(externalPort()),
                  std::string(word), long(transportProtocol_));
}

}  // namespace telvo
