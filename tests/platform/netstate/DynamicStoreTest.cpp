// The dynamic store over its fixture (sessions, watched keys and patterns, change order) and
// the mapping of rtnetlink dumps to keys.
#include <gtest/gtest.h>
#include <mutex>
#include "platform/dispatch/MainLoop.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/netstate/RtnetlinkSource.h"

namespace telvo::netstate {
namespace {

using dispatch::MainLoop;

class DynamicStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::resetForTesting();
        fixture_ = std::make_shared<FixtureSource>();
        DynamicStore::setSourceForTesting(fixture_);
    }
    void TearDown() override {
        DynamicStore::resetForTesting();
        MainLoop::resetForTesting();
    }
    DynamicStoreSessionPtr session(std::vector<std::vector<std::string>>& seen) {
        return DynamicStoreSession::create("test", dispatch::Queue::main(),
                                           [&seen](const std::vector<std::string>& keys) { seen.push_back(keys); });
    }
    std::shared_ptr<FixtureSource> fixture_;
};

TEST_F(DynamicStoreTest, ValuesReadThroughSessionsAndTheStore) {
    fixture_->setNetwork("192.168.1.1", "eth0", {"192.168.1.20", "10.0.0.5"}, {"255.255.255.0", "255.0.0.0"});
    std::vector<std::vector<std::string>> seen;
    auto s = session(seen);
    Value global = s->copyValue(DynamicStore::kGlobalIPv4Key);
    EXPECT_EQ(global["Router"], Value("192.168.1.1"));
    EXPECT_EQ(global["PrimaryInterface"], Value("eth0"));
    Value iface = DynamicStore::shared().copyValue(DynamicStore::interfaceIPv4Key("eth0"));
    EXPECT_EQ(iface["Addresses"].at(1), Value("10.0.0.5"));
    EXPECT_EQ(iface["SubnetMasks"].at(0), Value("255.255.255.0"));
    EXPECT_TRUE(s->copyValue("State:/Network/Interface/wlan0/IPv4").isNull());
}

TEST_F(DynamicStoreTest, OnlyWatchedKeysAreToldInTheOrderTheStoreReports) {
    std::vector<std::vector<std::string>> seen;
    auto s = session(seen);
    ASSERT_TRUE(s->setNotificationKeys({DynamicStore::kGlobalIPv4Key}, {}));
    fixture_->setValue("State:/Network/Interface/eth1/IPv4", Value(ValueDictionary{}));
    fixture_->commit();
    MainLoop::runUntilIdle();
    EXPECT_TRUE(seen.empty());

    ASSERT_TRUE(s->setNotificationKeys({}, {"State:/Network/Interface/.*/IPv4", "State:/Network/Global/.*"}));
    fixture_->setValue("State:/Network/Interface/eth1/IPv4", Value(ValueDictionary{{"Addresses", Value("x")}}));
    fixture_->setValue(DynamicStore::kGlobalIPv4Key, Value(ValueDictionary{}));
    fixture_->removeValue("State:/Network/Interface/eth0/IPv4");
    fixture_->setValue("Setup:/Network/Service/1", Value(1));
    fixture_->commit();
    MainLoop::runUntilIdle();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{"State:/Network/Interface/eth1/IPv4", DynamicStore::kGlobalIPv4Key,
                                                 "State:/Network/Interface/eth0/IPv4"}));

    EXPECT_FALSE(s->setNotificationKeys({}, {"(unclosed"}));
    fixture_->setValue(DynamicStore::kGlobalIPv4Key, Value(1));
    fixture_->commit();
    s->invalidate();
    MainLoop::runUntilIdle();
    EXPECT_EQ(seen.size(), 1u);
}

TEST(RtnetlinkSourceTest, DumpsMapToGlobalAndInterfaceKeys) {
    std::vector<Ipv4Address> addresses = {{"eth0", "192.168.7.20", 24}, {"eth0", "10.1.2.3", 8}, {"lo", "127.0.0.1", 8}};
    std::vector<Ipv4Route> routes;
    Ipv4Route onLink;
    onLink.interfaceName = "eth0";
    onLink.destinationLength = 24;
    onLink.type = 1;
    Ipv4Route slow;
    slow.interfaceName = "wlan0";
    slow.gateway = "172.16.0.1";
    slow.priority = 600;
    slow.type = 1;
    Ipv4Route fast = slow;
    fast.interfaceName = "eth0";
    fast.gateway = "192.168.7.1";
    fast.priority = 100;
    routes = {onLink, slow, fast};
    ValueDictionary keys = RtnetlinkSource::build(addresses, routes);
    EXPECT_EQ(keys[DynamicStore::kGlobalIPv4Key]["Router"], Value("192.168.7.1"));
    EXPECT_EQ(keys[DynamicStore::kGlobalIPv4Key]["PrimaryInterface"], Value("eth0"));
    Value eth0 = keys[DynamicStore::interfaceIPv4Key("eth0")];
    EXPECT_EQ(eth0["Addresses"], Value(ValueArray{Value("192.168.7.20"), Value("10.1.2.3")}));
    EXPECT_EQ(eth0["SubnetMasks"], Value(ValueArray{Value("255.255.255.0"), Value("255.0.0.0")}));
    EXPECT_EQ(maskFromPrefix(0), "0.0.0.0");
    EXPECT_EQ(maskFromPrefix(32), "255.255.255.255");
    // No default route: no global key at all.
    EXPECT_FALSE(RtnetlinkSource::build(addresses, {onLink}).count(DynamicStore::kGlobalIPv4Key));
}

TEST(RtnetlinkSourceTest, SmokeLoopbackIsInTheLiveSnapshot) {
    RtnetlinkSource source;
    ValueDictionary keys = source.snapshot();
    Value lo = keys[DynamicStore::interfaceIPv4Key("lo")];
    EXPECT_EQ(lo["Addresses"].at(0), Value("127.0.0.1"));
    EXPECT_EQ(lo["SubnetMasks"].at(0), Value("255.0.0.0"));
    auto route = routeTo("127.0.0.1");
    ASSERT_TRUE(route.has_value());
    EXPECT_TRUE(route->gateway.empty());
}

}  // namespace
}  // namespace telvo::netstate
