// The network collector on a hand-made network: the service scan into items, link down and up,
// the network status and session, the primary service and its Wi-Fi network, the rates from
// counters and the wire form for the protocols.
#include <gtest/gtest.h>

#include "NetworkFixture.h"

using namespace telvo;

namespace {

class NetworkStatCollectorTest : public systest::NetworkFixture {
protected:
    // lo, eth0 (primary, IPv4 and link-local IPv6), wlan0 (Wi-Fi), eth1 (down), ppp0 (down).
    void homeNetwork() {
        addLink(1, "lo", 772);
        addLink(2, "eth0");
        addLink(3, "wlan0");
        addLink(4, "eth1", 1, false);
        addLink(5, "ppp0", 512, false);
        wireless_.insert("wlan0");
        addAddress("lo", "127.0.0.1", 8);
        addAddress("eth0", "192.168.1.5", 24);
        addAddress("eth0", "fe80::1", 64);
        addAddress("wlan0", "10.0.0.9", 8);
        addAddress("eth1", "172.16.0.2", 16);
        defaultRoute("eth0", "192.168.1.1", 100);
        dumps_.dnsServers = {"192.168.1.1"};
    }
    static std::vector<std::string> liveBsds(const std::shared_ptr<NetworkStatCollectorMac>& c) {
        std::vector<std::string> out;
        for (const auto& i : c->items())
            if (!i->temporary()) out.push_back(static_cast<NetworkStatCollectorItem&>(*i).bsd);
        return out;
    }
};

TEST_F(NetworkStatCollectorTest, ScanMakesOneItemPerActiveServiceWithItsDetails) {
    homeNetwork();
    auto c = collector();
    EXPECT_EQ(liveBsds(c), (std::vector<std::string>{"eth0", "wlan0"}));
    auto eth0 = item(c, "eth0");
    ASSERT_TRUE(eth0);
    EXPECT_EQ(eth0->key(), id("eth0"));
    EXPECT_EQ(eth0->name, "Ethernet - eth0");
    EXPECT_EQ(eth0->mac, "02:AB:00:10:20:02");
    EXPECT_EQ(eth0->router, "192.168.1.1");
    EXPECT_EQ(eth0->dns, std::vector<std::string>{"192.168.1.1"});
    EXPECT_EQ(eth0->subnet, std::vector<std::string>{"255.255.255.0"});
    EXPECT_EQ(eth0->connectionstatus, 100);
    EXPECT_EQ(eth0->index, 0);
    EXPECT_EQ(item(c, "wlan0")->name, "AirPort - wlan0");
    EXPECT_EQ(item(c, "wlan0")->index, 1);
    Value xml = eth0->xmlStorageItem();
    EXPECT_EQ(xml["ip"], Value("192.168.1.5,fe80::1"));
    EXPECT_EQ(xml["bsd"], Value("eth0"));
    // The init scans but neither counts a change nor computes the status.
    EXPECT_EQ(c->session(), 0);
    EXPECT_EQ(c->networkStatus(), 0);
    EXPECT_EQ(c->primaryInterfaceSettings()["interface"], Value("eth0"));
    EXPECT_EQ(c->primaryInterfaceSettings()["service"], Value(id("eth0")));
    EXPECT_EQ(c->primaryInterfaceSettings()["name"], Value("Ethernet - eth0"));
    EXPECT_EQ(c->primaryInterfaceSettings()["addresses"],
              Value(ValueArray{Value("192.168.1.5"), Value("fe80::1")}));
}

TEST_F(NetworkStatCollectorTest, LinkDownAndUpKeepsTheItemAndEachChangeCountsOnce) {
    homeNetwork();
    auto c = collector();
    int posted = 0;
    notify::NotificationCenter::defaultCenter().addObserver(NetworkStatCollectorMac::kSetupChangedNotification, nullptr,
                                                             nullptr, [&](const auto&) { ++posted; });
    auto eth0 = item(c, "eth0");
    setUp("eth0", false);
    publish();
    EXPECT_TRUE(eth0->temporary());
    EXPECT_FALSE(eth0->exists());
    EXPECT_EQ(liveBsds(c), std::vector<std::string>{"wlan0"});
    EXPECT_EQ(c->session(), 1);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(c->networkStatus(), 2);  // wlan0 has a routable address

    setUp("eth0", true);
    setUp("ppp0", true);
    publish();
    EXPECT_EQ(item(c, "eth0"), eth0);  // the same item, rings and all
    EXPECT_FALSE(eth0->temporary());
    EXPECT_EQ(c->session(), 2);
    EXPECT_EQ(posted, 2);
    auto ppp = item(c, "ppp0");
    ASSERT_TRUE(ppp);
    EXPECT_EQ(ppp->connectionstatus, 100);
    EXPECT_TRUE(ppp->ppp);
    EXPECT_EQ(ppp->name, "PPP - ppp0");
    EXPECT_EQ(c->items().size(), 3u);
}

TEST_F(NetworkStatCollectorTest, ServiceOrderRulesAndNames) {
    homeNetwork();
    auto c = collector();
    // A service listed twice gives one item; a user-defined name wins.
    Value order(ValueArray{Value(id("wlan0")), Value(id("eth0")), Value(id("wlan0"))});
    store_->setValue("Setup:/Network/Global/IPv4", Value(ValueDictionary{{"ServiceOrder", order}}));
    store_->setValue("Setup:/Network/Service/" + id("eth0"),
                     Value(ValueDictionary{{"UserDefinedName", Value("Office")}}));
    store_->commit();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(c->items().size(), 2u);
    EXPECT_EQ(item(c, "eth0")->name, "Office");
    EXPECT_EQ(item(c, "wlan0")->index, 0);
    // A service whose interface has no "Hardware" is named by its BSD name.
    Value plain(ValueDictionary{{"DeviceName", Value("eth0")}});
    store_->setValue("Setup:/Network/Service/" + id("eth0"), Value(ValueDictionary{}));
    store_->setValue("Setup:/Network/Service/" + id("eth0") + "/Interface", plain);
    store_->commit();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(item(c, "eth0")->name, "eth0");
    // No service order at all: every item is temporary.
    store_->setValue("Setup:/Network/Global/IPv4", Value(ValueDictionary{}));
    store_->commit();
    dispatch::MainLoop::runUntilIdle();
    EXPECT_TRUE(liveBsds(c).empty());
    EXPECT_TRUE(samplesOf(c->xmlNodesFromAttributes(request("0", 3))).empty());
    EXPECT_TRUE(c->xmlNodesFromAttributes(request("0", 3)).at(0)->children.empty());
}

TEST_F(NetworkStatCollectorTest, NetworkStatusByAddresses) {
    addLink(1, "lo", 772);
    addLink(2, "eth0");
    addAddress("eth0", "fe80::1", 64);
    auto c = collector();
    publish();
    EXPECT_EQ(c->networkStatus(), 1);  // link-local only
    addAddress("eth0", "169.254.3.4", 16);
    publish();
    EXPECT_EQ(c->networkStatus(), 1);
    addAddress("eth0", "192.168.1.5", 24);
    publish();
    EXPECT_EQ(c->networkStatus(), 2);
    setUp("eth0", false);
    publish();
    EXPECT_EQ(c->networkStatus(), 0) << "an unplugged interface is no longer connected";
}

TEST_F(NetworkStatCollectorTest, RatesFromCountersDownInterfacesAndCounterResets) {
    homeNetwork();
    counters("eth0", 1000, 500);
    counters("wlan0", 10, 10);
    auto c = collector();
    startCollector(*c);
    auto eth0 = item(c, "eth0");
    tick();
    statsample s = eth0->sampleAtIndex(0, 0);
    EXPECT_EQ(s.values[0], 0);  // the first second reports 0
    EXPECT_EQ(s.values[2], 1000);
    counters("eth0", 3000, 1500);
    tick();
    s = eth0->sampleAtIndex(0, 0);
    EXPECT_DOUBLE_EQ(s.values[0], 2000);
    EXPECT_DOUBLE_EQ(s.values[1], 1000);
    EXPECT_EQ(s.empty, 0);
    // The collector's own sample: the primary interface's counters, the tick's time.
    statsample own = c->sampleAtIndex(0, 0);
    EXPECT_EQ(own.values[0], 3000);
    EXPECT_EQ(own.values[1], 1500);
    EXPECT_GT(own.time, kStart);
    EXPECT_EQ(own.time, s.time);
    EXPECT_EQ(own.empty, 0);
    EXPECT_EQ(own.sampleID, s.sampleID);

    counters("eth0", 100, 2500);  // received went backwards
    tick();
    s = eth0->sampleAtIndex(0, 0);
    EXPECT_EQ(s.values[0], 0);
    EXPECT_DOUBLE_EQ(s.values[1], 1000);
    counters("eth0", 600, 3500);
    tick();
    EXPECT_DOUBLE_EQ(eth0->sampleAtIndex(0, 0).values[0], 500);

    setUp("eth0", false);  // down: 0, 0, 0, 0 every second
    tick();
    s = eth0->sampleAtIndex(0, 0);
    for (int v = 0; v < 4; ++v) EXPECT_EQ(s.values[v], 0);
    setUp("eth0", true);
    counters("eth0", 900, 3600);
    tick();
    EXPECT_EQ(eth0->sampleAtIndex(0, 0).values[0], 0);  // first second after the absence
    counters("eth0", 1900, 3600);
    tick();
    EXPECT_DOUBLE_EQ(eth0->sampleAtIndex(0, 0).values[0], 1000);
    EXPECT_DOUBLE_EQ(eth0->peakDownload, 2000);

    // A failed kernel query takes no sample at all.
    const double before = eth0->sampleAtIndex(0, 0).sampleID;
    *failing_ = true;
    tick();
    EXPECT_EQ(eth0->sampleAtIndex(0, 0).sampleID, before);
}

TEST_F(NetworkStatCollectorTest, GoldenRepliesCountersAtLevel0ForProtocol2RatesOtherwise) {
    homeNetwork();
    counters("eth0", 1000, 500);
    counters("wlan0", 70, 30);
    auto c = collector();
    startCollector(*c);
    tick();
    counters("eth0", 4000, 900);
    counters("wlan0", 170, 30);
    tick();
    expectGolden("network_v2.xml", c->xmlNodesFromAttributes(request("0", 2)));
    expectGolden("network_v3.xml", c->xmlNodesFromAttributes(request("0", 3)));
    auto eth0 = item(c, "eth0");
    statsample newest = eth0->sampleAtIndex(0, 0);
    EXPECT_EQ(eth0->xmlSampleFromSample(newest, 0, 2)["d"], Value("4000.00"));
    EXPECT_EQ(eth0->xmlSampleFromSample(newest, 1, 2)["d"], Value("3000.00"));
    EXPECT_EQ(eth0->xmlSampleFromSample(newest, 0, 3)["d"], Value("3000.00"));
    EXPECT_EQ(eth0->xmlSampleFromSample(newest, 0, 3)["u"], Value("400.00"));
}

TEST_F(NetworkStatCollectorTest, NamesThatAreNotXmlTextAreMadeSafe) {
    addLink(1, "lo", 772);
    addLink(2, std::string("et\x01h\xff", 5));
    addAddress(std::string("et\x01h\xff", 5), "192.168.1.5", 24);
    auto c = collector();
    ASSERT_EQ(c->items().size(), 1u);
    Value xml = static_cast<NetworkStatCollectorItem&>(*c->items()[0]).xmlStorageItem();
    EXPECT_EQ(xml["bsd"], Value("et\xEF\xBF\xBDh\xEF\xBF\xBD"));
    EXPECT_EQ(xml["name"], Value("Ethernet - et\xEF\xBF\xBDh\xEF\xBF\xBD"));
}

TEST_F(NetworkStatCollectorTest, NewDefaultRouteChangesThePrimaryAndResetsOnlyTheCollectorRing) {
    homeNetwork();
    counters("eth0", 1000, 500);
    counters("wlan0", 1000, 500);
    auto c = collector();
    startCollector(*c);
    tick();
    counters("eth0", 2000, 600);
    tick();
    ASSERT_EQ(c->sampleAtIndex(0, 0).values[0], 2000);
    auto wlan0 = item(c, "wlan0");
    const double itemID = wlan0->sampleAtIndex(0, 0).sampleID;
    clearRoutes();
    defaultRoute("wlan0", "10.0.0.1", 50);
    publish();
    EXPECT_EQ(c->primaryInterfaceSettings()["interface"], Value("wlan0"));
    EXPECT_EQ(c->primaryInterfaceSettings()["router"], Value(ValueArray{Value("10.0.0.1")}));
    for (int64_t slot : {0, 1, 601}) {
        statsample s = c->sampleAtIndex(slot, 0);
        EXPECT_EQ(s.values[0], 0);
        EXPECT_EQ(s.sampleID, 0);
        EXPECT_EQ(s.time, 0);
    }
    EXPECT_EQ(wlan0->sampleAtIndex(0, 0).sampleID, itemID);
    EXPECT_EQ(item(c, "eth0")->sampleAtIndex(0, 0).values[2], 2000);
}

TEST_F(NetworkStatCollectorTest, WifiNetworkOfTheFirstAirPortItem) {
    homeNetwork();
    wifi::WifiInterface w;
    w.name = "wlan0";
    w.ssid = std::string("Caf\xC3\xA9\0x", 7);
    w.bssid = "aa:bb:cc:00:11:22";
    wifi_ = w;
    auto c = collector();
    EXPECT_EQ(c->primaryInterfaceSettings()["wifi-bssid"], Value("aa:bb:cc:00:11:22"));
    EXPECT_EQ(c->primaryInterfaceSettings()["wifi-name"], Value(std::string("Caf\xC3\xA9\0x", 7)));
    // Not Wi-Fi any more, then Wi-Fi without a base station: the stored values stay.
    wifi_.reset();
    publish();
    EXPECT_EQ(c->primaryInterfaceSettings()["wifi-bssid"], Value("aa:bb:cc:00:11:22"));
    w.bssid.reset();
    w.ssid = "Other";
    wifi_ = w;
    publish();
    EXPECT_EQ(c->primaryInterfaceSettings()["wifi-name"], Value(std::string("Caf\xC3\xA9\0x", 7)));
}

}  // namespace

namespace {

TEST_F(NetworkStatCollectorTest, LinkSpeedsAndTheOtherKindsOfService) {
    homeNetwork();
    addLink(6, "sit1", 776).address = {192, 0, 2, 4};  // a tunnel's address: 4 bytes, no MAC
    addLink(7, "wg0", 65534).address.clear();
    addLink(8, "sit2", 776);  // no IPv6 state: left out
    addAddress("wg0", "10.8.0.2", 24);
    addAddress("sit1", "2002:c000:204::1", 48);
    writeMachineFile("/sys/class/net/eth0/speed", "1000\n");
    writeMachineFile("/sys/class/net/wlan0/speed", "-1\n");
    auto c = collector();
    EXPECT_EQ(item(c, "eth0")->linkSpeed, 1000);
    EXPECT_EQ(item(c, "wlan0")->linkSpeed, 0);
    ASSERT_TRUE(item(c, "sit1"));
    EXPECT_EQ(item(c, "sit1")->name, "6to4 - sit1");
    EXPECT_EQ(item(c, "sit1")->connectionstatus, 100);
    EXPECT_EQ(item(c, "sit1")->mac, "");
    ASSERT_TRUE(item(c, "wg0"));
    EXPECT_EQ(item(c, "wg0")->name, "VPN - wg0");
    EXPECT_EQ(item(c, "wg0")->mac, "");
    EXPECT_FALSE(item(c, "sit2"));
}

}  // namespace

namespace {

TEST_F(NetworkStatCollectorTest, ItemHistoryIsStoredUnderTheServiceIdentifierAndReadBackAfterARestart) {
    homeNetwork();
    counters("eth0", 1000, 1000);
    auto c = collector();
    startCollector(*c);
    // 1000 bytes a second down for 150 s: level-1 rows (6 s) are written with level 2.
    for (int s = 0; s < 150; ++s) {
        counters("eth0", 1000 + 1000 * uint64_t(s + 1), 1000);
        tick();
    }
    c->runDatabaseQueue();
    flush();
    const std::string rows = sql(fwtest::kLocalDB, "select count(*), min(download), max(download) from hour_networkhistory "
                                                   "where uuid = '" + id("eth0") + "' and download > 0");
    EXPECT_GE(std::atoi(rows.c_str()), 2) << rows;
    EXPECT_NE(rows.find("|1000.0|1000.0"), std::string::npos) << rows;

    // A restart finds the same service identifier, so the item's stored rows are its own.
    NetworkStatCollectorMac::cleanupShared();
    auto again = collector();
    startCollector(*again);
    auto eth0 = again->itemWithBsd("eth0");
    ASSERT_TRUE(eth0);
    EXPECT_EQ(eth0->key(), id("eth0"));
    bool loaded = false;
    again->loadPreviousSamplesForItem(eth0, [&] { loaded = true; });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return loaded; }, 30));
    EXPECT_DOUBLE_EQ(eth0->sampleAtIndex(1, 1).values[0], 1000);
}

}  // namespace

TEST_F(NetworkStatCollectorTest, InterfacesGoneLongerThanTheExpiryLeaveNothingBehind) {
    homeNetwork();
    auto c = collector();
    const size_t idle = c->items().size();
    auto removeLink = [&](const std::string& name) {
        const int index = link(name).index;
        std::erase_if(*links_, [&](const netstate::LinkInfo& l) { return l.name == name; });
        std::erase_if(dumps_.addresses, [&](const netstate::InterfaceAddress& a) { return a.interfaceIndex == index; });
    };
    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            platform::Clock::advance(1.0);
            c->sampleIndexRecord(0)->sampleID += 1;
            c->updateStats();
        }
    };
    // Container veths: 60 names, 6 at a time, each for 2 s.
    std::vector<std::weak_ptr<StatCollectorItem>> gone;
    std::shared_ptr<NetworkStatCollectorItem> returning;
    for (int batch = 0; batch < 10; ++batch) {
        std::vector<std::string> names;
        for (int k = 0; k < 6; ++k) {
            const int n = batch * 6 + k;
            names.push_back("veth" + std::to_string(n));
            addLink(100 + n, names.back());
            addAddress(names.back(), "10.9." + std::to_string(n) + ".1", 24);
        }
        publish();
        ticks(2);
        for (const auto& name : names) {
            gone.push_back(item(c, name));
            removeLink(name);
        }
        publish();
    }
    ASSERT_EQ(gone.size(), 60u);
    returning = std::static_pointer_cast<NetworkStatCollectorItem>(gone[3].lock());
    ASSERT_TRUE(returning);
    const double returningSample = returning->sampleAtIndex(1, 0).sampleID;
    returning.reset();
    EXPECT_EQ(c->items().size(), idle + 60) << "within the expiry the gone items wait";

    // One name returns within the expiry: the same item, its rings as they were.
    ticks(300);
    addLink(103, "veth3");
    addAddress("veth3", "10.9.3.1", 24);
    publish();
    ASSERT_EQ(item(c, "veth3"), gone[3].lock());
    EXPECT_FALSE(item(c, "veth3")->temporary());
    ticks(1);
    bool kept = false;
    for (int64_t s = 0; s < kSamplesPerLevel; ++s)
        kept = kept || item(c, "veth3")->sampleAtIndex(s, 0).sampleID == returningSample;
    EXPECT_TRUE(kept) << "the returning item keeps its samples";

    // Past the expiry every other gone name is dropped with its storage.
    ticks(600 + 2);  // the expiry: 10 minutes
    EXPECT_EQ(c->items().size(), idle + 1);
    for (size_t i = 0; i < gone.size(); ++i) {
        if (i == 3) continue;
        EXPECT_TRUE(gone[i].expired()) << "item " << i << " is still held";
    }
    EXPECT_TRUE(item(c, "eth0"));
    EXPECT_TRUE(item(c, "veth3"));

    // After the expiry a name comes back as a new item.
    addLink(104, "veth4");
    addAddress("veth4", "10.9.4.1", 24);
    publish();
    ASSERT_TRUE(item(c, "veth4"));
    EXPECT_EQ(item(c, "veth4")->key(), id("veth4"));
    EXPECT_EQ(item(c, "veth4")->sampleAtIndex(0, 0).sampleID, 0) << "fresh rings";
}
