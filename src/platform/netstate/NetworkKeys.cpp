// Dynamic-store keys from rtnetlink dumps.
#include "platform/netstate/NetworkKeys.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include "platform/host/ProcRoot.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/ServiceIdentifier.h"

namespace telvo::netstate {

namespace {

constexpr uint16_t kArphrdEther = 1, kArphrdPPP = 512, kArphrdLoopback = 772, kArphrdSit = 776,
                   kArphrdNone = 65534;
constexpr uint8_t kOperUp = 6;
constexpr uint32_t kAddressPermanent = 0x80;

bool isDefault(const Ipv4Route& r) { return r.destinationLength == 0 && r.type == 1 /* RTN_UNICAST */; }

bool isDynamic(const InterfaceAddress& a) {
    return !(a.flags & kAddressPermanent) && a.validLifetime != 0xffffffffu;
}

std::string prefix(const std::string& id) { return "Network/Service/" + id; }

}  // namespace

bool interfaceIsWireless(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    struct stat st;
    return stat(host::ProcRoot::path("/sys/class/net/" + name + "/phy80211").c_str(), &st) == 0;
}

ValueDictionary buildNetworkKeys(const NetworkDumps& d) {
    ValueDictionary out;
    std::map<int, const LinkInfo*> byIndex;
    for (const auto& l : d.links) byIndex[l.index] = &l;
    auto nameOf = [&](int index, const std::string& fallback) {
        auto it = byIndex.find(index);
        return it != byIndex.end() ? it->second->name : fallback;
    };

    // Default routes: best metric per interface, and the primary (IPv4 first, then IPv6).
    std::map<std::string, uint64_t> metric;
    const Ipv4Route* best4 = nullptr;
    const Ipv4Route* best6 = nullptr;
    for (const auto& r : d.routes) {
        if (!isDefault(r)) continue;
        const std::string name = nameOf(r.interfaceIndex, r.interfaceName);
        if (name.empty()) continue;
        auto [it, added] = metric.emplace(name, r.priority);
        if (!added) it->second = std::min<uint64_t>(it->second, r.priority);
        const Ipv4Route*& best = r.family == AF_INET6 ? best6 : best4;
        if (!best || r.priority < best->priority) best = &r;
    }

    // Services: every link but loopback, in service order.
    std::vector<const LinkInfo*> services;
    for (const auto& l : d.links)
        if (l.type != kArphrdLoopback && !l.name.empty()) services.push_back(&l);
    std::stable_sort(services.begin(), services.end(), [&](const LinkInfo* a, const LinkInfo* b) {
        auto ma = metric.count(a->name) ? metric[a->name] : std::numeric_limits<uint64_t>::max();
        auto mb = metric.count(b->name) ? metric[b->name] : std::numeric_limits<uint64_t>::max();
        if (ma != mb) return ma < mb;
        return a->index < b->index;
    });

    ValueArray order;
    for (const LinkInfo* l : services) {
        const std::string id = serviceIdentifierForInterface(l->name);
        order.push_back(Value(id));
        const std::string setup = "Setup:/" + prefix(id), state = "State:/" + prefix(id);

        Value iface(ValueDictionary{});
        iface.set("DeviceName", l->name);
        const bool vpn = l->type == kArphrdNone || l->kind == "tun" || l->kind == "wireguard";
        if (vpn) {
            iface.set("Hardware", "VPN");
        } else if (l->type == kArphrdPPP) {
            iface.set("Hardware", "PPP");
            iface.set("Type", "PPP");
        } else if (l->type == kArphrdSit) {
            iface.set("Hardware", "6to4");
            iface.set("Type", "6to4");
        } else if (l->type == kArphrdEther) {
            const bool wifi = d.isWireless && d.isWireless(l->name);
            iface.set("Hardware", wifi ? "AirPort" : "Ethernet");
            iface.set("Type", wifi ? "IEEE80211" : "Ethernet");
        }
        out[setup + "/Interface"] = iface;

        const bool active = l->operstate == kOperUp || l->carrier == 1;
        out["State:/Network/Interface/" + l->name + "/Link"] = Value(ValueDictionary{{"Active", Value(active)}});

        ValueArray v4, masks, v6, prefixes;
        bool dynamic = false;
        for (const auto& a : d.addresses) {
            if (nameOf(a.interfaceIndex, a.interfaceName) != l->name) continue;
            if (a.family == AF_INET) {
                v4.push_back(Value(a.address));
                masks.push_back(Value(maskFromPrefix(a.prefixLength)));
                dynamic = dynamic || isDynamic(a);
            } else if (a.family == AF_INET6) {
                v6.push_back(Value(a.address));
                prefixes.push_back(Value(a.prefixLength));
            }
        }
        std::string router4;
        for (const auto& r : d.routes)
            if (isDefault(r) && r.family == AF_INET && nameOf(r.interfaceIndex, r.interfaceName) == l->name &&
                !r.gateway.empty() && router4.empty())
                router4 = r.gateway;
        if (!v4.empty()) {
            Value s(ValueDictionary{});
            s.set("Addresses", Value(v4));
            s.set("SubnetMasks", Value(masks));
            s.set("InterfaceName", l->name);
            if (!router4.empty()) s.set("Router", router4);
            out[state + "/IPv4"] = s;
            out[setup + "/IPv4"] = Value(ValueDictionary{{"ConfigMethod", Value(dynamic ? "DHCP" : "Manual")}});
        }
        if (!v6.empty()) {
            Value s(ValueDictionary{});
            s.set("Addresses", Value(v6));
            s.set("PrefixLength", Value(prefixes));
            s.set("InterfaceName", l->name);
            out[state + "/IPv6"] = s;
        }
        if (metric.count(l->name) && !d.dnsServers.empty()) {
            ValueArray dns(d.dnsServers.begin(), d.dnsServers.end());
            out[state + "/DNS"] = Value(ValueDictionary{{"ServerAddresses", Value(dns)}});
        }
        if (l->type == kArphrdPPP) {
            out[setup + "/PPP"] = Value(ValueDictionary{});
            const bool up = active && (l->flags & 0x1 /* IFF_UP */);
            Value ppp(ValueDictionary{{"Status", Value(up ? 8 : 0)}});
            if (up) ppp.set("InterfaceName", l->name);
            out[state + "/PPP"] = ppp;
        }
    }
    out["Setup:/Network/Global/IPv4"] = Value(ValueDictionary{{"ServiceOrder", Value(order)}});

    // The per-interface IPv4 keys of every interface (loopback included), as before.
    std::map<std::string, Value> perInterface;
    for (const auto& a : d.addresses) {
        if (a.family != AF_INET) continue;
        const std::string name = nameOf(a.interfaceIndex, a.interfaceName);
        if (name.empty()) continue;
        Value& v = perInterface[name];
        v.mutableDictionary()["Addresses"].append(a.address);
        v.mutableDictionary()["SubnetMasks"].append(maskFromPrefix(a.prefixLength));
    }
    for (auto& [name, v] : perInterface) out[DynamicStore::interfaceIPv4Key(name)] = v;

    const Ipv4Route* primary = best4 ? best4 : best6;
    if (primary) {
        Value global(ValueDictionary{});
        if (best4 && !best4->gateway.empty()) global.set("Router", best4->gateway);
        const std::string name = nameOf(primary->interfaceIndex, primary->interfaceName);
        if (!name.empty()) {
            global.set("PrimaryInterface", name);
            global.set("PrimaryService", serviceIdentifierForInterface(name));
        }
        out[DynamicStore::kGlobalIPv4Key] = global;
    }
    if (!d.dnsServers.empty()) {
        ValueArray dns(d.dnsServers.begin(), d.dnsServers.end());
        out["State:/Network/Global/DNS"] = Value(ValueDictionary{{"ServerAddresses", Value(dns)}});
    }
    return out;
}

}  // namespace telvo::netstate
