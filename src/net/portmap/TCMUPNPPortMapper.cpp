// UPnP port forwarding through miniupnpc.
#include "net/portmap/TCMUPNPPortMapper.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <algorithm>
#include <cstring>
#include "net/portmap/PortMapperLog.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/Rtnetlink.h"

namespace telvo {

struct TCMUPNPPortMapper::Gateway {
    UPNPUrls urls{};
    IGDdatas igddata{};
    bool filled = false;
    void release() {
        if (filled) FreeUPNPUrls(&urls);
        urls = UPNPUrls{};
        igddata = IGDdatas{};
        filled = false;
    }
    ~Gateway() { release(); }
};

namespace {

// The host of "http://host:port/path".
std::string hostOfURL(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of(":/", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

struct Reachability {
    bool read = false;
    bool reachable = false, local = false, direct = false;
};

// What the routing table says of a host: reachable, one of this machine's addresses, or on a
// directly attached network.
Reachability reachabilityOf(const std::string& host) {
    Reachability r;
    auto route = netstate::routeTo(host);
    r.read = true;
    if (!route) return r;
    r.reachable = true;
    r.local = route->type == 2 /* RTN_LOCAL */;
    r.direct = route->gateway.empty();
    return r;
}

}  // namespace

TCMUPNPPortMapper::TCMUPNPPortMapper() : gateway_(std::make_unique<Gateway>()) {}
TCMUPNPPortMapper::~TCMUPNPPortMapper() = default;

void TCMUPNPPortMapper::refresh(const std::string& routerAddress) {
    int error = 0;
    UPNPDev* devices = upnpDiscover(2000, nullptr, nullptr, 0, 0, 2, &error);
    if (!devices) return;
    std::vector<std::string> candidates;
    for (UPNPDev* d = devices; d; d = d->pNext) {
        std::string url = d->descURL ? d->descURL : "";
        std::string host = hostOfURL(url);
        Reachability r = reachabilityOf(host);
        PortMapperLog("UPnP: %@ %c%c%c%c%c%c%c host:%s st:%s", std::string(r.read ? "YES" : " NO"), '-',
                      r.reachable ? 'r' : '-', '-', '-', '-', r.local ? 'l' : '-', r.direct ? 'd' : '-', url,
                      std::string(d->st ? d->st : ""));
        if (!r.read || !r.direct || std::find(candidates.begin(), candidates.end(), url) != candidates.end()) continue;
        if (!routerAddress.empty() && host == routerAddress)
            candidates.insert(candidates.begin(), url);
        else
            candidates.push_back(url);
    }
    for (const auto& url : candidates) {
        PortMapperLog("UPnP: trying URL:%@", url);
        gateway_->release();
        char lanaddr[16] = {};
        if (!UPNP_GetIGDFromUrl(url.c_str(), &gateway_->urls, &gateway_->igddata, lanaddr, sizeof lanaddr)) {
            gateway_->release();
            continue;
        }
        gateway_->filled = true;
        char external[40] = {};
        int r = UPNP_GetExternalIPAddress(gateway_->urls.controlURL, gateway_->igddata.first.servicetype, external);
        if (r != UPNPCOMMAND_SUCCESS || external[0] == '\0') continue;
        externalIPAddress_ = external;
        supported_ = true;
        break;
    }
    freeUPNPDevlist(devices);
}

bool TCMUPNPPortMapper::addPortMapping(TCMPortMapping& mapping, const std::string& localAddress) {
    static const char* op = "-[TCMUPNPPortMapper applyPortMapping:UPNPURLs:IGDDatas:]";
    if (!gateway_->filled) return false;
    std::string ext = std::to_string(mapping.desiredExternalPort());
    std::string in = std::to_string(mapping.localPort());
    std::string description = mapping.portDescription();
    for (int attempt = 0; attempt < kAddAttempts; ++attempt) {
        int r = UPNP_AddPortMapping(gateway_->urls.controlURL, gateway_->igddata.first.servicetype, ext.c_str(),
                                    in.c_str(), localAddress.c_str(), description.c_str(), "TCP", nullptr, "0");
        if (r == UPNPCOMMAND_SUCCESS) {
            PortMapperLog("UPnP: mapped local %@ port %d to external port %d", std::string("TCP"), mapping.localPort(),
                          mapping.desiredExternalPort());
            PortMapperLog("%s mapping successful: %@ - %d %@", op, mapping.description(),
                          mapping.desiredExternalPort(), std::string("TCP"));
            mapping.setExternalPort(mapping.desiredExternalPort());
            return true;
        }
        if (r == 718)
            PortMapperLog("%s mapping of external port %d failed", op, mapping.desiredExternalPort());
        else if (r == 724)
            PortMapperLog("%s error occured while mapping: %@", op, std::to_string(r) + ": SamePortValuesRequired");
        else if (r == 725)
            PortMapperLog("%s error occured while mapping: %@", op, std::to_string(r) + ": OnlyPermanentLeasesSupported");
        else if (r == 727)
            PortMapperLog("%s error occured while mapping: %@", op,
                          std::to_string(r) + ": ExternalPortOnlySupportsWildcard");
        else
            PortMapperLog("%s error occured while mapping: %@", op, std::to_string(r));
    }
    return false;
}

bool TCMUPNPPortMapper::removePortMapping(int externalPort, const std::string& protocol) {
    if (!gateway_->filled) return false;
    std::string ext = std::to_string(long(externalPort));
    return UPNP_DeletePortMapping(gateway_->urls.controlURL, gateway_->igddata.first.servicetype, ext.c_str(),
                                  protocol.c_str(), nullptr) == UPNPCOMMAND_SUCCESS;
}

std::vector<Value> TCMUPNPPortMapper::allPortMappings() {
    std::vector<Value> entries;
    if (!gateway_->filled) return entries;
    for (int i = 0; i < 65536; ++i) {
        char index[6], extPort[6], intClient[16], intPort[6], protocol[4], desc[80], enabled[4], rHost[64], duration[16];
        std::snprintf(index, sizeof index, "%d", i);
        extPort[0] = intClient[0] = intPort[0] = protocol[0] = desc[0] = enabled[0] = rHost[0] = duration[0] = '\0';
        int r = UPNP_GetGenericPortMappingEntry(gateway_->urls.controlURL, gateway_->igddata.first.servicetype, index,
                                                extPort, intClient, intPort, protocol, desc, enabled, rHost, duration);
        if (r != UPNPCOMMAND_SUCCESS) break;
        Value entry;
        entry.set("ipAddress", std::string(intClient));
        entry.set("localPort", Value(static_cast<long long>(std::atoi(intPort))));
        entry.set("publicPort", Value(static_cast<long long>(std::atoi(extPort))));
        entry.set("protocol", std::string(protocol));
        entry.set("description", std::string(desc));
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace telvo
