#pragma once
// Small rtnetlink requests: dumps of IPv4 addresses and routes, and the route the kernel would
// take to one IPv4 destination. Used by the dynamic store's source and by reachability checks.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telvo::netstate {

struct Ipv4Address {
    std::string interfaceName;
    std::string address;  // dotted
    int prefixLength = 0;
};

struct Ipv4Route {
    std::string interfaceName;  // output interface, empty when none
    std::string gateway;        // dotted; empty for an on-link route
    std::string preferredSource;
    int destinationLength = 0;  // 0 for the default route
    uint32_t priority = 0;
    unsigned char type = 0;     // RTN_*
};

// False when the netlink socket could not be made or the dump failed (errno kept).
bool dumpIpv4Addresses(std::vector<Ipv4Address>& out);
// Routes of the main table.
bool dumpIpv4Routes(std::vector<Ipv4Route>& out);
// The route to one destination (RTM_GETROUTE), none when unreachable or not an IPv4 address.
std::optional<Ipv4Route> routeTo(const std::string& destination);

// "255.255.255.0" for 24.
std::string maskFromPrefix(int prefixLength);

}  // namespace telvo::netstate
