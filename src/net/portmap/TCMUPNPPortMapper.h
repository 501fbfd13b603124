#pragma once
// Talks to the router as a UPnP Internet Gateway Device through miniupnpc: discovers the
// gateway, remembers its connection service, and adds, deletes and lists port forwardings.
// Every call blocks until the router has answered; the port mapper calls it only on its queue.
// The operations are virtual so that tests can stand in a router of their own.
#include <memory>
#include <string>
#include <vector>
#include "net/portmap/TCMPortMapping.h"
#include "platform/values/Value.h"

namespace telvo {

class TCMUPNPPortMapper {
public:
    // Attempts of one add before it counts as failed.
    static constexpr int kAddAttempts = 3;

    TCMUPNPPortMapper();
    virtual ~TCMUPNPPortMapper();
    TCMUPNPPortMapper(const TCMUPNPPortMapper&) = delete;
    TCMUPNPPortMapper& operator=(const TCMUPNPPortMapper&) = delete;

    // Discovery (2000 ms); a gateway whose host is `routerAddress` is tried first. Sets
    // supported() once a gateway answered with an external address; never clears it.
    virtual void refresh(const std::string& routerAddress);
    // Forwards the mapping's desired external port to `localAddress` and the local port (TCP,
    // any remote host, permanent lease); YES sets the mapping's external port.
    virtual bool addPortMapping(TCMPortMapping& mapping, const std::string& localAddress);
    // Deletes the forwarding of the external port for the protocol given.
    virtual bool removePortMapping(int externalPort, const std::string& protocol = "TCP");
    // One record per forwarding: "ipAddress", "localPort", "publicPort", "protocol", "description".
    virtual std::vector<Value> allPortMappings();
    virtual void stop() {}
    virtual bool supported() const { return supported_; }
    // The external address the gateway reported at discovery.
    std::string externalIPAddress() const { return externalIPAddress_; }

protected:
    bool supported_ = false;

private:
    struct Gateway;
    std::unique_ptr<Gateway> gateway_;
    std::string externalIPAddress_;
};

}  // namespace telvo
