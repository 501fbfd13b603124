// The network collector's configuration tracking: the dynamic-store session, the service scan
// into items, hardware addresses and link speeds, the primary service with its Wi-Fi network,
// and the network status.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/system/CoreWLanStatCollector.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/dispatch/Queue.h"
#include "platform/host/ProcRoot.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo {

namespace {

std::string formatKey(const std::string& format, const std::string& argument) {
    std::string out = format;
    const size_t at = out.find("%@");
    if (at != std::string::npos) out.replace(at, 2, argument);
    return out;
}

std::vector<std::string> strings(const Value& v) {
    std::vector<std::string> out;
    if (!v.isArray()) return out;
    for (const Value& e : v.array()) out.push_back(e.stringValue());
    return out;
}

Value stringArray(const std::vector<std::string>& list) {
    ValueArray a;
    for (const auto& s : list) a.push_back(Value(s));
    return Value(std::move(a));
}

bool sameMultiset(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// Copies source[key] to target[targetKey] when the source holds the key.
void findKey(const std::string& key, const Value& source, Value& target, const std::string& targetKey) {
    if (source.isDictionary() && source.has(key)) target.set(targetKey, source[key]);
}

bool nonEmpty(const Value& v) { return v.isArray() ? !v.array().empty() : !v.isNull(); }

}  // namespace

Value NetworkStatCollectorMac::valueAt(const std::string& format, const std::string& argument) const {
    auto it = snapshot_.find(formatKey(format, argument));
    return it == snapshot_.end() ? Value() : it->second;
}

void NetworkStatCollectorMac::setupSession() {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dynStore_ = netstate::DynamicStoreSession::create(
        "com.kestro.TelvoServerDaemon", dispatch::Queue::main(), [weak](const std::vector<std::string>& keys) {
            if (auto self = std::static_pointer_cast<NetworkStatCollectorMac>(weak.lock())) self->networkStateChanged(keys);
        });
    dynStore_->setNotificationKeys({"Setup:/Network/Global/IPv4", "State:/Network/Global/IPv4"},
                                   {"Setup:/Network/.*", "State:/Network/.*"});
}

void NetworkStatCollectorMac::networkStateChanged(const std::vector<std::string>&) {
    std::weak_ptr<StatCollector> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        auto self = std::static_pointer_cast<NetworkStatCollectorMac>(weak.lock());
        if (!self) return;
        self->updateInterfaces();
        self->updatePrimarySettings();
        self->networkStatus(nullptr);
        self->setSession(self->session() + 1);
        notify::NotificationCenter::defaultCenter().post(kSetupChangedNotification);
        for (const auto& d : std::vector<StatCollectorDelegatePtr>(self->delegates()))
            if (d->respondsToChildrenChanged()) d->collectorChildrenChanged(*self);
    });
}

int64_t NetworkStatCollectorMac::statusFromPPPStatus(int64_t s) {
    static const int64_t table[14] = {0, 1, 1, 1, 1, 3, 1, 2, 100, 4, 4, 4, 4, 1};
    return s >= 0 && s <= 13 ? table[s] : -1;
}

void NetworkStatCollectorMac::removeInterface(const std::string& service) {
    for (const auto& item : items())
        if (item && item->key() == service) {
            item->setTemporary(true);
            return;
        }
}

void NetworkStatCollectorMac::updateInterfaces() {
    // 1.
    changeID_ += 1.0;
    scInterfaces_.clear();
    snapshot_ = netstate::DynamicStore::shared().copyMultiple({}, {"Setup:/Network/.*", "State:/Network/.*"});
    const Value global = valueAt("Setup:/Network/Global/IPv4", "");
    for (const auto& item : items()) {
        if (!item) continue;
        item->setExists(false);
        item->setTemporary(true);
    }
    // 2.
    if (!global.isDictionary() || !global.has("ServiceOrder")) return;
    // 3.
    std::set<std::string> seen;
    int kept = 0;
    for (const Value& entry : global["ServiceOrder"].array()) {
        const std::string id = entry.stringValue();
        if (!seen.insert(id).second) continue;
        const Value iface = valueAt("Setup:/Network/Service/%@/Interface", id);
        if (!iface.isDictionary()) continue;
        Value rec(ValueDictionary{{"uuid", Value(id)}});
        findKey("DeviceName", iface, rec, "bsd");
        findKey("Hardware", iface, rec, "hardware");
        bool vpn = false, sixToFour = false;
        if (iface.has("Type")) {
            const std::string type = iface["Type"].stringValue();
            if (type == "IPSec") {
                vpn = true;
                rec.set("hardware", Value("VPN"));
            } else if (type == "6to4") {
                sixToFour = true;
                rec.set("hardware", Value("6to4"));
            }
        }
        const Value stateIPv4 = valueAt("State:/Network/Service/%@/IPv4", id);
        const Value stateIPv6 = valueAt("State:/Network/Service/%@/IPv6", id);
        const Value stateDNS = valueAt("State:/Network/Service/%@/DNS", id);
        const Value setupDNS = valueAt("Setup:/Network/Service/%@/DNS", id);
        const Value setupIPv4 = valueAt("Setup:/Network/Service/%@/IPv4", id);
        const Value setupService = valueAt("Setup:/Network/Service/%@", id);
        const Value stateLink = rec.has("bsd") ? valueAt("State:/Network/Interface/%@/Link", rec["bsd"].stringValue()) : Value();
        const Value setupPPP = valueAt("Setup:/Network/Service/%@/PPP", id);
        const Value statePPP = valueAt("State:/Network/Service/%@/PPP", id);
        rec.set("SCInterface", iface);
        if (!statePPP.isNull()) rec.set("SCStatePPP", statePPP);
        if (!setupService.isNull()) rec.set("SCSetupService", setupService);
        if (!stateLink.isNull()) rec.set("SCStateLink", stateLink);

        bool ppp = false;
        if (!vpn && setupPPP.isNull()) {
            if (sixToFour) {
                if (!stateIPv6.isDictionary() || !stateIPv6.has("InterfaceName")) continue;
                rec.set("connectionstatus", Value(100));
            } else {
                rec.set("connectionstatus", Value(100));
                if (!rec.has("bsd")) {
                    rec.set("connectionstatus", Value(0));
                    continue;
                }
                if (!stateLink["Active"].boolValue()) {
                    rec.set("connectionstatus", Value(0));
                    removeInterface(id);
                    continue;
                }
                if (stateIPv4.isNull() && stateIPv6.isNull()) {
                    removeInterface(id);
                    continue;
                }
            }
        } else {
            // The connection's extended status: on this system the PPP state of the store.
            int64_t pppStatus = 0;
            double connectTime = 0;
            if (!statePPP.isNull()) {
                Value extended(ValueDictionary{{"PPP", statePPP}});
                rec.set("SCExtendedStatus", extended);
                if (statePPP.has("Status")) pppStatus = statePPP["Status"].intValue();
                if (statePPP.has("ConnectTime") && statePPP["ConnectTime"].doubleValue() != 0)
                    connectTime = statePPP["ConnectTime"].doubleValue();
            }
            const std::string subType = iface["SubType"].stringValue();
            if (subType == "PPTP" || subType == "L2TP") rec.set("hardware", Value("VPN"));
            if (pppStatus == 8 && statePPP.has("InterfaceName"))
                rec.set("bsd", statePPP["InterfaceName"]);
            else
                rec.mutableDictionary().erase("bsd");
            rec.set("connectiontime", Value(connectTime));
            rec.set("connectionstatus", Value(statusFromPPPStatus(pppStatus)));
            ppp = true;
        }
        // 6.
        if (!rec.has("bsd")) {
            removeInterface(id);
            continue;
        }
        // 7.
        findKey("Addresses", stateIPv4, rec, "ipv4");
        findKey("Addresses", stateIPv6, rec, "ipv6");
        findKey("SubnetMasks", setupIPv4, rec, "subnet-setup");
        findKey("SubnetMasks", stateIPv4, rec, "subnet");
        findKey("Router", setupIPv4, rec, "router-setup");
        findKey("Router", stateIPv4, rec, "router");
        findKey("ServerAddresses", setupDNS, rec, "dns-setup");
        findKey("ServerAddresses", stateDNS, rec, "dns");
        if (nonEmpty(rec["subnet-setup"])) rec.set("subnet", rec["subnet-setup"]);
        if (nonEmpty(rec["dns-setup"])) rec.set("dns", rec["dns-setup"]);
        if (rec.has("router-setup")) rec.set("router", rec["router-setup"]);
        // 8.
        rec.set("dhcp", Value(setupIPv4["ConfigMethod"].stringValue() == "DHCP"));
        // 9.
        const std::string bsd = rec["bsd"].stringValue();
        std::string name = bsd;
        if (setupService.isDictionary() && setupService.has("UserDefinedName"))
            name = setupService["UserDefinedName"].stringValue();
        else if (rec.has("hardware"))
            name = rec["hardware"].stringValue() + " - " + bsd;
        rec.set("name", Value(name));
        // 10.
        auto item = std::static_pointer_cast<NetworkStatCollectorItem>(newItemWithKey(id));
        item->service = id;
        item->dhcp = rec["dhcp"].boolValue();
        item->dns = strings(rec["dns"]);
        item->router = rec["router"].stringValue();
        item->subnet = strings(rec["subnet"]);
        item->bsd = bsd;
        item->name = name;
        item->ipv4 = strings(rec["ipv4"]);
        item->ipv6 = strings(rec["ipv6"]);
        item->hardware = rec["hardware"].stringValue();
        item->connectionstatus = rec["connectionstatus"].intValue();
        item->lastupdate = changeID_;
        item->speed = rec["speed"].doubleValue();
        item->connectiontime = rec["connectiontime"].doubleValue();
        item->rawConnectiontime = item->connectiontime;
        item->ppp = ppp;
        item->index = kept++;
        item->setExists(true);
        item->setTemporary(false);
        item->activeMediaOptions = Value();
        item->linkSpeed = 0;
        scInterfaces_.push_back(rec);
    }
    // 4.
    updateMediaOptions();
    updateMACAddresses();
    updateLinkSpeeds();
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates()))
        if (d->respondsToChildrenChanged()) d->collectorChildrenChanged(*this);
}

void NetworkStatCollectorMac::updateMACAddresses() {
    std::vector<netstate::LinkInfo> links;
    if (!linkReader_(links)) return;  // the addresses stay as they were
    for (const auto& item : items()) {
        auto* n = static_cast<NetworkStatCollectorItem*>(item.get());
        if (!n) continue;
        n->mac.clear();
        for (const auto& l : links) {
            if (l.name != n->bsd || l.address.size() != 6) continue;
            char text[18];
            std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", l.address[0], l.address[1],
                          l.address[2], l.address[3], l.address[4], l.address[5]);
            n->mac = text;
        }
    }
}

void NetworkStatCollectorMac::updateLinkSpeeds() {
    for (const auto& item : items()) {
        auto* n = static_cast<NetworkStatCollectorItem*>(item.get());
        if (!n || n->bsd.empty() || n->bsd.find('/') != std::string::npos) continue;
        // Already in Mb/s; reading fails (EINVAL) while the link is down, and some drivers say -1.
        std::ifstream in(host::ProcRoot::path("/sys/class/net/" + n->bsd + "/speed"));
        long long speed = 0;
        if (in >> speed && speed > 0)
            n->linkSpeed = static_cast<double>(speed);
        else
            n->linkSpeed = 0;
    }
}

void NetworkStatCollectorMac::updatePrimarySettings() {
    Value& p = primaryInterfaceSettings_;
    // 1.
    const Value global = valueAt("State:/Network/Global/IPv4", "");
    const Value globalDNS = valueAt("State:/Network/Global/DNS", "");
    // 2.
    if (global.isDictionary() && global.has("PrimaryService") && global.has("PrimaryInterface") &&
        global["PrimaryService"].stringValue() != p["service"].stringValue()) {
        p.set("service", global["PrimaryService"]);
        p.set("interface", global["PrimaryInterface"]);
        resetHistory();
    }
    // 3. Wi-Fi: the first AirPort item that the lookup knows.
    for (const auto& item : items()) {
        auto* n = static_cast<NetworkStatCollectorItem*>(item.get());
        if (!n) continue;
        std::string hardware = n->hardware;
        std::transform(hardware.begin(), hardware.end(), hardware.begin(), ::tolower);
        if (hardware != "airport") continue;
        auto wifi = CoreWLanStatCollector::sharedCoreWlanCollector()->interfaceWithBSD(n->bsd);
        if (!wifi) continue;
        if (wifi->bssid) {
            p.set("wifi-bssid", Value(*wifi->bssid));
            if (wifi->ssid) p.set("wifi-name", Value(*wifi->ssid));
        }
        break;
    }
    // 4.
    p.mutableDictionary().erase("name");
    std::shared_ptr<NetworkStatCollectorItem> primaryItem;
    for (const auto& item : items())
        if (item && item->key() == p["service"].stringValue()) {
            primaryItem = std::static_pointer_cast<NetworkStatCollectorItem>(item);
            p.set("name", Value(primaryItem->name));
            break;
        }
    // 5.
    std::vector<std::string> addresses;
    if (primaryItem) {
        addresses = primaryItem->ipv4;
        addresses.insert(addresses.end(), primaryItem->ipv6.begin(), primaryItem->ipv6.end());
    }
    const std::vector<std::string> stored = strings(p["addresses"]);
    if (!addresses.empty() && !sameMultiset(addresses, stored)) p.set("addresses", stringArray(addresses));
    // 6.
    auto follow = [&](const std::vector<std::string>& fresh, const char* key) {
        if (!fresh.empty() && !sameMultiset(fresh, strings(p[key]))) p.set(key, stringArray(fresh));
    };
    std::vector<std::string> router;
    if (global.has("Router")) router.push_back(global["Router"].stringValue());
    follow(router, "router");
    follow(strings(globalDNS["ServerAddresses"]), "dns");
}

void NetworkStatCollectorMac::resetHistory() {
    statsample* ring = storageForType(0);
    if (!ring) return;
    for (int64_t s = 0; s < kSamplesPerLevel; ++s) {
        for (int64_t v = 0; v < sampleValueCount(); ++v) ring[s].values[v] = 0;
        ring[s].sampleID = 0;
        ring[s].time = 0;
    }
}

int64_t NetworkStatCollectorMac::networkStatus(const std::string* service) {
    int64_t result = 0;
    for (const auto& item : items()) {
        auto* n = static_cast<NetworkStatCollectorItem*>(item.get());
        if (!n || (service && n->key() != *service) || !n->exists()) continue;
        int64_t count = 0;
        if (n->connectionstatus >= 1 && n->connectionstatus <= 4) {
            count = 1;
        } else if (n->connectionstatus == 100) {
            count = 1;
            for (const auto& a : n->ipv4)
                if (a.rfind("169.254", 0) != 0) count = 2;
            for (const auto& a : n->ipv6)
                if (a.rfind("fe80:", 0) != 0) count = 2;
        }
        result = std::max(result, count);
    }
    if (result != NetworkStatCollector::networkStatus()) setNetworkStatus(result);
    return result;
}

std::string NetworkStatCollectorMac::primaryInterface() const { return primaryInterfaceSettings_["interface"].stringValue(); }

std::shared_ptr<NetworkStatCollectorItem> NetworkStatCollectorMac::primaryInterfaceItem() const {
    const std::string name = primaryInterface();
    return name.empty() ? nullptr : itemWithBsd(name);
}

std::string NetworkStatCollectorMac::nameForInterface(const std::string& service) const {
    for (const auto& rec : scInterfaces_)
        if (rec["uuid"].stringValue() == service) return rec["name"].stringValue();
    return service;
}

bool NetworkStatCollectorMac::isInterfaceActive(const std::string& service) const {
    for (const auto& rec : scInterfaces_)
        if (rec["uuid"].stringValue() == service) return true;
    return false;
}

Value NetworkStatCollectorMac::systemConfigurationForDevice(const std::string& bsd) const {
    for (const auto& rec : scInterfaces_)
        if (rec["bsd"].stringValue() == bsd) return rec;
    return Value();
}

Value NetworkStatCollectorMac::serviceOrder() const {
    return valueAt("Setup:/Network/Global/IPv4", "")["ServiceOrder"];
}

}  // namespace telvo
