#pragma once
// A short-lived netlink socket (NETLINK_ROUTE, NETLINK_GENERIC) that sends one request at a
// time and hands its answers on, for the rtnetlink and nl80211 requests.
#include <linux/netlink.h>

#include <cstdint>
#include <functional>

#include "platform/netstate/NetlinkAttributes.h"

namespace telvo::netstate {

class NetlinkSocket {
public:
    // Opens a socket of the netlink `protocol` with a two-second receive timeout.
    explicit NetlinkSocket(int protocol);
    ~NetlinkSocket();
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Sends the request (its header's nlmsg_len bytes; its sequence number is set here) and
    // hands every answer message to `each` until NLMSG_DONE (dumps) or the first answer
    // (single requests). False on a socket error or an error answer (errno from the kernel).
    bool transact(nlmsghdr* request, const std::function<void(const NetlinkMessage&)>& each);

private:
    int fd_ = -1;
    uint32_t seq_ = 0;
};

}  // namespace telvo::netstate
