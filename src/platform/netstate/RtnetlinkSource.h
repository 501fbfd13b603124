#pragma once
// The network state of the running machine, read from rtnetlink: the default route gives
// "State:/Network/Global/IPv4" ("Router", "PrimaryInterface"), each interface's IPv4 addresses
// give "State:/Network/Interface/<name>/IPv4" ("Addresses", "SubnetMasks"). A thread of its own
// watches link, address and route changes while a listener is set and reports the keys whose
// values changed.
#include <mutex>
#include <thread>
#include "platform/netstate/NetworkStateSource.h"
#include "platform/netstate/Rtnetlink.h"

namespace telvo::netstate {

class RtnetlinkSource : public NetworkStateSource {
public:
    RtnetlinkSource() = default;
    ~RtnetlinkSource() override;

    ValueDictionary snapshot() override;
    void setChangeListener(ChangeListener listener) override;

    // The keys and values made from dumps (exposed for tests of the mapping).
    static ValueDictionary build(const std::vector<Ipv4Address>& addresses,
                                 const std::vector<Ipv4Route>& routes);

private:
    void watch(int netlinkFd, int wakeFd);
    void stopWatching();

    std::mutex mutex_;
    ChangeListener listener_;
    std::thread thread_;
    int wakeFd_ = -1;
};

}  // namespace telvo::netstate
