// rtnetlink requests over a short-lived NETLINK_ROUTE socket.
#include "platform/netstate/Rtnetlink.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <functional>

namespace telvo::netstate {

namespace {

class NetlinkSocket {
public:
    NetlinkSocket() {
        fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ >= 0) {
            timeval tv{2, 0};
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        }
    }
    ~NetlinkSocket() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Sends the request and hands every answer message to `each` until NLMSG_DONE (dumps) or
    // the first answer (single requests). False on a socket error or an error answer.
    bool transact(nlmsghdr* request, const std::function<void(const nlmsghdr*)>& each) {
        request->nlmsg_seq = ++seq_;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
            return false;
        bool dump = request->nlmsg_flags & NLM_F_DUMP;
        alignas(nlmsghdr) char buf[32768];
        for (;;) {
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (n == 0) return false;
            size_t off = 0;
            while (off + sizeof(nlmsghdr) <= size_t(n)) {
                auto* h = reinterpret_cast<nlmsghdr*>(buf + off);
                if (h->nlmsg_len < sizeof(nlmsghdr) || off + h->nlmsg_len > size_t(n)) break;
                off += NLMSG_ALIGN(h->nlmsg_len);
                if (h->nlmsg_seq != seq_) continue;
                if (h->nlmsg_type == NLMSG_DONE) return true;
                if (h->nlmsg_type == NLMSG_ERROR) {
                    auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                    if (e->error == 0) return true;
                    errno = -e->error;
                    return false;
                }
                each(h);
                if (!dump) return true;
            }
        }
    }

private:
    int fd_ = -1;
    uint32_t seq_ = 0;
};

std::string ifName(int index) {
    char name[IF_NAMESIZE] = {};
    if (index > 0 && if_indextoname(unsigned(index), name)) return name;
    return {};
}

std::string dotted(const void* p) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, p, text, sizeof text);
    return text;
}

Ipv4Route parseRoute(const nlmsghdr* h) {
    Ipv4Route r;
    auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
    r.destinationLength = rt->rtm_dst_len;
    r.type = rt->rtm_type;
    int len = int(RTM_PAYLOAD(h));
    for (auto* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        switch (a->rta_type) {
        case RTA_OIF: r.interfaceName = ifName(*static_cast<const int*>(RTA_DATA(a))); break;
        case RTA_GATEWAY: r.gateway = dotted(RTA_DATA(a)); break;
        case RTA_PREFSRC: r.preferredSource = dotted(RTA_DATA(a)); break;
        case RTA_PRIORITY: r.priority = *static_cast<const uint32_t*>(RTA_DATA(a)); break;
        default: break;
        }
    }
    return r;
}

}  // namespace

std::string maskFromPrefix(int prefixLength) {
    uint32_t mask = prefixLength <= 0 ? 0 : prefixLength >= 32 ? 0xffffffffu : ~((1u << (32 - prefixLength)) - 1);
    uint32_t net = htonl(mask);
    return dotted(&net);
}

bool dumpIpv4Addresses(std::vector<Ipv4Address>& out) {
    NetlinkSocket nl;
    if (!nl.ok()) return false;
    struct {
        nlmsghdr h;
        ifaddrmsg m;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    req.h.nlmsg_type = RTM_GETADDR;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.m.ifa_family = AF_INET;
    return nl.transact(&req.h, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR) return;
        auto* ifa = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
        if (ifa->ifa_family != AF_INET) return;
        Ipv4Address a;
        a.interfaceName = ifName(int(ifa->ifa_index));
        a.prefixLength = ifa->ifa_prefixlen;
        std::string local, address;
        int len = int(IFA_PAYLOAD(h));
        for (auto* rta = IFA_RTA(ifa); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
            if (rta->rta_type == IFA_LOCAL) local = dotted(RTA_DATA(rta));
            if (rta->rta_type == IFA_ADDRESS) address = dotted(RTA_DATA(rta));
        }
        a.address = local.empty() ? address : local;
        if (!a.address.empty() && !a.interfaceName.empty()) out.push_back(a);
    });
}

bool dumpIpv4Routes(std::vector<Ipv4Route>& out) {
    NetlinkSocket nl;
    if (!nl.ok()) return false;
    struct {
        nlmsghdr h;
        rtmsg m;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.h.nlmsg_type = RTM_GETROUTE;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.m.rtm_family = AF_INET;
    return nl.transact(&req.h, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWROUTE) return;
        auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
        if (rt->rtm_family != AF_INET || rt->rtm_table != RT_TABLE_MAIN) return;
        out.push_back(parseRoute(h));
    });
}

std::optional<Ipv4Route> routeTo(const std::string& destination) {
    in_addr dst{};
    if (inet_pton(AF_INET, destination.c_str(), &dst) != 1) return std::nullopt;
    NetlinkSocket nl;
    if (!nl.ok()) return std::nullopt;
    struct {
        nlmsghdr h;
        rtmsg m;
        char attrs[64];
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.h.nlmsg_type = RTM_GETROUTE;
    req.h.nlmsg_flags = NLM_F_REQUEST;
    req.m.rtm_family = AF_INET;
    req.m.rtm_dst_len = 32;
    auto* rta = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req.h) + NLMSG_ALIGN(req.h.nlmsg_len));
    rta->rta_type = RTA_DST;
    rta->rta_len = RTA_LENGTH(sizeof dst);
    std::memcpy(RTA_DATA(rta), &dst, sizeof dst);
    req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(rta->rta_len);
    std::optional<Ipv4Route> route;
    bool ok = nl.transact(&req.h, [&](const nlmsghdr* h) {
        if (h->nlmsg_type == RTM_NEWROUTE) route = parseRoute(h);
    });
    if (!ok || !route) return std::nullopt;
    if (route->type != RTN_UNICAST && route->type != RTN_LOCAL) return std::nullopt;
    return route;
}

}  // namespace telvo::netstate
