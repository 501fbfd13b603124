#pragma once
// rtnetlink requests and the parsing of their answers: dumps of links (with their 64-bit
// counters), addresses (IPv4 and IPv6) and routes, and the route the kernel would take to one
// IPv4 destination. Used by the dynamic store's source, the network collector and
// reachability checks. Every attribute length is checked before its payload is read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telvo::netstate {

struct LinkInfo {
    int index = 0;
    std::string name;
    uint16_t type = 0;     // ARPHRD_*
    uint32_t flags = 0;    // IFF_*
    uint8_t operstate = 0; // IF_OPER_* (6 up)
    int carrier = -1;      // -1 when not reported
    std::vector<uint8_t> address;
    std::string kind;      // IFLA_INFO_KIND ("veth", "wireguard", ...), empty when none
    bool hasStats = false;
    uint64_t rxBytes = 0, txBytes = 0;
};

struct Ipv4Address {
    std::string interfaceName;
    std::string address;  // dotted
    int prefixLength = 0;
};

struct InterfaceAddress {
    int interfaceIndex = 0;
    std::string interfaceName;
    int family = 0;       // AF_INET or AF_INET6
    std::string address;  // text form
    int prefixLength = 0;
    uint32_t flags = 0;   // IFA_F_* (IFA_FLAGS when present)
    uint32_t validLifetime = 0xffffffffu;  // seconds; all ones is forever
};

struct Ipv4Route {
    std::string interfaceName;  // output interface, empty when none
    std::string gateway;        // text; empty for an on-link route
    std::string preferredSource;
    int destinationLength = 0;  // 0 for the default route
    uint32_t priority = 0;
    unsigned char type = 0;     // RTN_*
    int family = 2;             // AF_INET (the IPv6 dump gives 10)
    int interfaceIndex = 0;
    unsigned char table = 0;
};

// Parsers of one message's payload (after the netlink header). False when the fixed header or
// an attribute is malformed; what was read before stays in `out`.
bool parseLinkMessage(const uint8_t* payload, size_t length, LinkInfo& out);
bool parseAddressMessage(const uint8_t* payload, size_t length, InterfaceAddress& out);
bool parseRouteMessage(const uint8_t* payload, size_t length, Ipv4Route& out);

// False when the netlink socket could not be made or the dump failed (errno kept).
bool dumpIpv4Addresses(std::vector<Ipv4Address>& out);
// Routes of the main table.
bool dumpIpv4Routes(std::vector<Ipv4Route>& out);
// The route to one destination (RTM_GETROUTE), none when unreachable or not an IPv4 address.
std::optional<Ipv4Route> routeTo(const std::string& destination);

// Every link with its counters, every address of both families, the main table's routes of
// one family (AF_INET or AF_INET6).
bool dumpLinks(std::vector<LinkInfo>& out);
bool dumpAddresses(std::vector<InterfaceAddress>& out);
bool dumpRoutes(int family, std::vector<Ipv4Route>& out);

// "255.255.255.0" for 24.
std::string maskFromPrefix(int prefixLength);

}  // namespace telvo::netstate
