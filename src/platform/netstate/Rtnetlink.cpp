// rtnetlink requests over a short-lived NETLINK_ROUTE socket (NetlinkSocket), and the checked parsers of their
// answers.
#include "platform/netstate/Rtnetlink.h"

#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include "platform/netstate/NetlinkAttributes.h"
#include "platform/netstate/NetlinkSocket.h"

namespace telvo::netstate {

namespace {

std::string ifName(int index) {
    char name[IF_NAMESIZE] = {};
    if (index > 0 && if_indextoname(unsigned(index), name)) return name;
    return {};
}

std::string addressText(int family, const NetlinkAttribute& a) {
    char text[INET6_ADDRSTRLEN] = {};
    if (family == AF_INET && a.length == 4) {
        unsigned char b[4];
        std::memcpy(b, a.data, 4);
        inet_ntop(AF_INET, b, text, sizeof text);
    } else if (family == AF_INET6 && a.length == 16) {
        unsigned char b[16];
        std::memcpy(b, a.data, 16);
        inet_ntop(AF_INET6, b, text, sizeof text);
    }
    return text;
}

template <class Header>
bool readHeader(const uint8_t* payload, size_t length, Header& h) {
    if (length < sizeof(Header)) return false;
    std::memcpy(&h, payload, sizeof h);
    return true;
}

}  // namespace

bool parseLinkMessage(const uint8_t* payload, size_t length, LinkInfo& out) {
    ifinfomsg ifi;
    if (!readHeader(payload, length, ifi)) return false;
    out.index = ifi.ifi_index;
    out.type = ifi.ifi_type;
    out.flags = ifi.ifi_flags;
    const size_t start = NLMSG_ALIGN(sizeof(ifinfomsg));
    if (start > length) return false;
    return forEachNetlinkAttribute(payload + start, length - start, [&](const NetlinkAttribute& a) {
        switch (a.type) {
        case IFLA_IFNAME: out.name = a.text(); break;
        case IFLA_OPERSTATE: a.read(out.operstate); break;
        case IFLA_CARRIER: {
            uint8_t c = 0;
            if (a.read(c)) out.carrier = c;
            break;
        }
        case IFLA_ADDRESS: out.address.assign(a.data, a.data + a.length); break;
        case IFLA_STATS64: {
            // struct rtnl_link_stats64 starts with rx_packets, tx_packets, rx_bytes, tx_bytes.
            if (a.length >= 4 * sizeof(uint64_t)) {
                std::memcpy(&out.rxBytes, a.data + 2 * sizeof(uint64_t), sizeof(uint64_t));
                std::memcpy(&out.txBytes, a.data + 3 * sizeof(uint64_t), sizeof(uint64_t));
                out.hasStats = true;
            }
            break;
        }
        case IFLA_LINKINFO:
            forEachNetlinkAttribute(a.data, a.length, [&](const NetlinkAttribute& info) {
                if (info.type == IFLA_INFO_KIND) out.kind = info.text();
                return true;
            });
            break;
        default: break;
        }
        return true;
    });
}

bool parseAddressMessage(const uint8_t* payload, size_t length, InterfaceAddress& out) {
    ifaddrmsg ifa;
    if (!readHeader(payload, length, ifa)) return false;
    out.family = ifa.ifa_family;
    out.prefixLength = ifa.ifa_prefixlen;
    out.flags = ifa.ifa_flags;
    out.interfaceIndex = int(ifa.ifa_index);
    const size_t start = NLMSG_ALIGN(sizeof(ifaddrmsg));
    if (start > length) return false;
    std::string local, address;
    bool ok = forEachNetlinkAttribute(payload + start, length - start, [&](const NetlinkAttribute& a) {
        switch (a.type) {
        case IFA_LOCAL: local = addressText(out.family, a); break;
        case IFA_ADDRESS: address = addressText(out.family, a); break;
        case IFA_FLAGS: a.read(out.flags); break;
        case IFA_CACHEINFO: {
            ifa_cacheinfo ci;
            if (a.read(ci)) out.validLifetime = ci.ifa_valid;
            break;
        }
        default: break;
        }
        return true;
    });
    out.address = local.empty() ? address : local;
    return ok;
}

bool parseRouteMessage(const uint8_t* payload, size_t length, Ipv4Route& out) {
    rtmsg rt;
    if (!readHeader(payload, length, rt)) return false;
    out.family = rt.rtm_family;
    out.destinationLength = rt.rtm_dst_len;
    out.type = rt.rtm_type;
    out.table = rt.rtm_table;
    const size_t start = NLMSG_ALIGN(sizeof(rtmsg));
    if (start > length) return false;
    return forEachNetlinkAttribute(payload + start, length - start, [&](const NetlinkAttribute& a) {
        switch (a.type) {
        case RTA_OIF: a.read(out.interfaceIndex); break;
        case RTA_GATEWAY: out.gateway = addressText(out.family, a); break;
        case RTA_PREFSRC: out.preferredSource = addressText(out.family, a); break;
        case RTA_PRIORITY: a.read(out.priority); break;
        case RTA_TABLE: {
            uint32_t table = 0;
            if (a.read(table) && table < 256) out.table = static_cast<unsigned char>(table);
            break;
        }
        default: break;
        }
        return true;
    });
}

std::string maskFromPrefix(int prefixLength) {
    uint32_t mask = prefixLength <= 0 ? 0 : prefixLength >= 32 ? 0xffffffffu : ~((1u << (32 - prefixLength)) - 1);
    uint32_t net = htonl(mask);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &net, text, sizeof text);
    return text;
}

namespace {

// Sends a dump request of `type` whose message body is `body` and hands every answer of
// `answerType` to `each`; false when the socket or the request fails.
template <typename Body>
bool dumpRequest(uint16_t type, const Body& body, uint16_t answerType,
                 const std::function<void(const NetlinkMessage&)>& each) {
    NetlinkSocket nl(NETLINK_ROUTE);
    if (!nl.ok()) return false;
    struct {
        nlmsghdr h;
        Body m;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
    req.h.nlmsg_type = type;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.m = body;
    return nl.transact(&req.h, [&](const NetlinkMessage& m) {
        if (m.type == answerType) each(m);
    });
}

}  // namespace

bool dumpLinks(std::vector<LinkInfo>& out) {
    ifinfomsg body{};
    body.ifi_family = AF_UNSPEC;
    return dumpRequest(RTM_GETLINK, body, RTM_NEWLINK, [&](const NetlinkMessage& m) {
        LinkInfo link;
        if (parseLinkMessage(m.payload, m.length, link) && !link.name.empty()) out.push_back(std::move(link));
    });
}

bool dumpAddresses(std::vector<InterfaceAddress>& out) {
    ifaddrmsg body{};
    body.ifa_family = AF_UNSPEC;
    std::map<int, std::string> names;
    return dumpRequest(RTM_GETADDR, body, RTM_NEWADDR, [&](const NetlinkMessage& m) {
        InterfaceAddress a;
        if (!parseAddressMessage(m.payload, m.length, a)) return;
        if ((a.family != AF_INET && a.family != AF_INET6) || a.address.empty()) return;
        auto it = names.find(a.interfaceIndex);
        if (it == names.end()) it = names.emplace(a.interfaceIndex, ifName(a.interfaceIndex)).first;
        a.interfaceName = it->second;
        if (!a.interfaceName.empty()) out.push_back(std::move(a));
    });
}

bool dumpRoutes(int family, std::vector<Ipv4Route>& out) {
    rtmsg body{};
    body.rtm_family = static_cast<unsigned char>(family);
    return dumpRequest(RTM_GETROUTE, body, RTM_NEWROUTE, [&](const NetlinkMessage& m) {
        Ipv4Route r;
        if (!parseRouteMessage(m.payload, m.length, r)) return;
        if (r.family != family || r.table != RT_TABLE_MAIN) return;
        r.interfaceName = ifName(r.interfaceIndex);
        out.push_back(std::move(r));
    });
}

bool dumpIpv4Addresses(std::vector<Ipv4Address>& out) {
    std::vector<InterfaceAddress> all;
    if (!dumpAddresses(all)) return false;
    for (const auto& a : all)
        if (a.family == AF_INET) out.push_back({a.interfaceName, a.address, a.prefixLength});
    return true;
}

bool dumpIpv4Routes(std::vector<Ipv4Route>& out) { return dumpRoutes(AF_INET, out); }

std::optional<Ipv4Route> routeTo(const std::string& destination) {
    in_addr dst{};
    if (inet_pton(AF_INET, destination.c_str(), &dst) != 1) return std::nullopt;
    NetlinkSocket nl(NETLINK_ROUTE);
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
    bool ok = nl.transact(&req.h, [&](const NetlinkMessage& m) {
        if (m.type != RTM_NEWROUTE) return;
        Ipv4Route r;
        if (parseRouteMessage(m.payload, m.length, r)) {
            r.interfaceName = ifName(r.interfaceIndex);
            route = r;
        }
    });
    if (!ok || !route) return std::nullopt;
    if (route->type != RTN_UNICAST && route->type != RTN_LOCAL) return std::nullopt;
    return route;
}

}  // namespace telvo::netstate
