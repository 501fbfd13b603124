#pragma once
// The network state of the running machine, read from rtnetlink dumps of links, addresses (IPv4
// and IPv6) and routes, and from resolv.conf: the keys of NetworkKeys.h. A thread of its own
// watches the link, address and route groups and resolv.conf's folder (inotify) while a
// listener is set and reports the keys whose values changed; a lost burst (ENOBUFS) is covered
// by the fresh dumps it takes after every wake. While it watches, snapshots answer its latest
// dumps, so readers on the main queue do no netlink work.
#include <mutex>
#include <optional>
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

    // The global and per-interface IPv4 keys made from IPv4 dumps alone (the full mapping is
    // buildNetworkKeys).
    static ValueDictionary build(const std::vector<Ipv4Address>& addresses,
                                 const std::vector<Ipv4Route>& routes);

private:
    void watch(int netlinkFd, int wakeFd);
    void stopWatching();
    ValueDictionary dump();
    void setCache(const ValueDictionary* keys);  // null: no cache

    std::mutex mutex_;
    ChangeListener listener_;
    std::thread thread_;
    int wakeFd_ = -1;
    std::mutex cacheMutex_;
    std::optional<ValueDictionary> cached_;
};

}  // namespace telvo::netstate
