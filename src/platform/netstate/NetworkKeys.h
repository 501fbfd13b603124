#pragma once
// The keys of the dynamic store made from rtnetlink dumps and resolv.conf. Every interface but
// loopback is a network service, named by the name-based identifier of its interface name
// (ServiceIdentifier.h):
//   "Setup:/Network/Global/IPv4"              "ServiceOrder" (default-route metric, then index)
//   "Setup:/Network/Service/<id>/Interface"   "DeviceName", "Hardware" and, for most kinds, "Type"
//   "Setup:/Network/Service/<id>/IPv4"        "ConfigMethod" ("DHCP" or "Manual")
//   "Setup:/Network/Service/<id>/PPP"         for ppp links
//   "State:/Network/Service/<id>/IPv4|IPv6"   "Addresses", "SubnetMasks"/"PrefixLength", "Router", "InterfaceName"
//   "State:/Network/Service/<id>/DNS"         "ServerAddresses" (services with a default route)
//   "State:/Network/Service/<id>/PPP"         "Status" (8 while up), "InterfaceName"
//   "State:/Network/Interface/<if>/Link"      "Active" (operstate up or carrier on)
//   "State:/Network/Interface/<if>/IPv4"      "Addresses", "SubnetMasks" (every interface)
//   "State:/Network/Global/IPv4"              "Router", "PrimaryInterface", "PrimaryService"
//   "State:/Network/Global/DNS"               "ServerAddresses"
// Counters are no part of the keys: they change every second and are read by the collector.
#include <functional>
#include <string>
#include <vector>
#include "platform/netstate/Rtnetlink.h"
#include "platform/values/Value.h"

namespace telvo::netstate {

struct NetworkDumps {
    std::vector<LinkInfo> links;
    std::vector<InterfaceAddress> addresses;
    std::vector<Ipv4Route> routes;  // main table, both families
    std::vector<std::string> dnsServers;
    // Whether an interface is Wi-Fi (a "phy80211" link in sysfs); null: none is.
    std::function<bool(const std::string& name)> isWireless;
};

ValueDictionary buildNetworkKeys(const NetworkDumps& dumps);

// True when /sys/class/net/<name>/phy80211 exists (under the kernel-file root).
bool interfaceIsWireless(const std::string& name);

}  // namespace telvo::netstate
