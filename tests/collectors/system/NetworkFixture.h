#pragma once
// Test fixture for the network collector: the system fixture plus a hand-made network (links
// with counters, addresses, routes, DNS servers) published into a fixture dynamic store in the
// form the rtnetlink source gives, a fake link reader for the ticks and a fake Wi-Fi lookup.
#include <net/if.h>
#include <sys/socket.h>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "SystemFixture.h"
#include "collectors/system/CoreWLanStatCollector.h"
#include "collectors/system/NetworkStatCollectorMac.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/netstate/NetworkKeys.h"
#include "platform/netstate/ServiceIdentifier.h"
#include "platform/notify/NotificationCenter.h"

namespace telvo::systest {

class NetworkFixture : public SystemFixture {
protected:
    void SetUp() override {
        SystemFixture::SetUp();
        store_ = std::make_shared<netstate::FixtureSource>();
        netstate::DynamicStore::setSourceForTesting(store_);
        auto links = links_;
        auto failing = failing_;
        NetworkStatCollectorMac::setLinkReaderForTesting([links, failing](std::vector<netstate::LinkInfo>& out) {
            out = *links;
            return !*failing;
        });
        CoreWLanStatCollector::setLookupForTesting([this](const std::string& bsd) { return wifiFor(bsd); });
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        NetworkStatCollectorMac::resetForTesting();
        CoreWLanStatCollector::resetForTesting();
        netstate::DynamicStore::resetForTesting();
        notify::NotificationCenter::resetForTesting();
        SystemFixture::TearDown();
    }

    static std::string id(const std::string& name) { return netstate::serviceIdentifierForInterface(name); }

    netstate::LinkInfo& addLink(int index, const std::string& name, uint16_t type = 1, bool up = true) {
        netstate::LinkInfo l;
        l.index = index;
        l.name = name;
        l.type = type;
        l.address = {0x02, 0xab, 0x00, 0x10, 0x20, uint8_t(index)};
        l.hasStats = true;
        links_->push_back(l);
        setUp(name, up);
        return links_->back();
    }
    netstate::LinkInfo& link(const std::string& name) {
        for (auto& l : *links_)
            if (l.name == name) return l;
        throw std::runtime_error("no link " + name);
    }
    void setUp(const std::string& name, bool up) {
        auto& l = link(name);
        l.flags = up ? IFF_UP : 0;
        if (l.type == 772) l.flags |= IFF_LOOPBACK;
        l.operstate = up ? 6 : 2;
        l.carrier = up ? 1 : 0;
    }
    void counters(const std::string& name, uint64_t received, uint64_t sent) {
        link(name).rxBytes = received;
        link(name).txBytes = sent;
    }
    void addAddress(const std::string& name, const std::string& text, int prefix) {
        netstate::InterfaceAddress a;
        a.interfaceIndex = link(name).index;
        a.family = text.find(':') == std::string::npos ? AF_INET : AF_INET6;
        a.address = text;
        a.prefixLength = prefix;
        a.flags = 0x80;
        dumps_.addresses.push_back(a);
    }
    void clearAddresses() { dumps_.addresses.clear(); }
    void defaultRoute(const std::string& name, const std::string& gateway, uint32_t metric) {
        netstate::Ipv4Route r;
        r.interfaceIndex = link(name).index;
        r.family = AF_INET;
        r.gateway = gateway;
        r.priority = metric;
        r.type = 1;
        dumps_.routes.push_back(r);
    }
    void clearRoutes() { dumps_.routes.clear(); }

    // Writes the store's keys for the network as it stands and reports the change.
    void publish(bool deliver = true) {
        dumps_.links = *links_;
        dumps_.isWireless = [this](const std::string& n) { return wireless_.count(n) > 0; };
        ValueDictionary keys = netstate::buildNetworkKeys(dumps_);
        for (const auto& [k, v] : store_->snapshot())
            if (!keys.count(k)) store_->removeValue(k);
        for (const auto& [k, v] : keys) store_->setValue(k, v);
        if (deliver) {
            store_->commit();
            dispatch::MainLoop::runUntilIdle();
        }
    }

    std::shared_ptr<NetworkStatCollectorMac> collector() {
        publish(false);
        store_->commit();
        return NetworkStatCollectorMac::sharedNetworkCollector();
    }
    std::shared_ptr<NetworkStatCollectorItem> item(const std::shared_ptr<NetworkStatCollectorMac>& c,
                                                   const std::string& bsd) {
        return c->itemWithBsd(bsd);
    }

    virtual std::optional<wifi::WifiInterface> wifiFor(const std::string& bsd) {
        if (!wireless_.count(bsd) || !wifi_) return std::nullopt;
        return wifi_;
    }

    std::shared_ptr<netstate::FixtureSource> store_;
    std::shared_ptr<std::vector<netstate::LinkInfo>> links_ = std::make_shared<std::vector<netstate::LinkInfo>>();
    std::shared_ptr<bool> failing_ = std::make_shared<bool>(false);
    netstate::NetworkDumps dumps_;
    std::set<std::string> wireless_;
    std::optional<wifi::WifiInterface> wifi_;
};

}  // namespace telvo::systest
