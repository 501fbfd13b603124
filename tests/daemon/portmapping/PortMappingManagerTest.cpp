// The port-mapping manager over a stand-in router and a fixture network: statuses, the
// "TelvoServerUpnpUpdated" notifications, re-mapping after a port change, and router work that
// never holds up the main queue.
#include <gtest/gtest.h>
#include <atomic>
#include "daemon/DaemonFixture.h"
#include "daemon/TVSPreferences.h"
#include "daemon/portmapping/PortMappingManager.h"
#include "net/portmap/FakeRouter.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/notify/DistributedNotificationListener.h"

namespace telvo {
namespace {

using dispatch::MainLoop;
using testing::FakeNatPmp;
using testing::FakeUPnP;
using testing::routerEntry;

class PortMappingManagerTest : public testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        fixture_ = std::make_shared<netstate::FixtureSource>();
        fixture_->setNetwork("192.168.1.1", "eth0", {"192.168.1.20"}, {"255.255.255.0"});
        fixture_->commit();
        netstate::DynamicStore::setSourceForTesting(fixture_);
        upnp_ = std::make_shared<FakeUPnP>();
        natpmp_ = std::make_shared<FakeNatPmp>();
        TCMPortMapper::createSharedForTesting(upnp_, natpmp_);
        TVSPreferences::sharedPreferences().setObject(Value("12345"), "port map identifier");
        listener_ = std::make_unique<notify::DistributedNotificationListener>();
        ASSERT_TRUE(listener_->isListening());
    }
    void TearDown() override {
        upnp_->release();
        listener_.reset();
        DaemonFixture::TearDown();
    }
    // Waits for the manager's queued router work.
    void drain() { PortMappingManager::sharedPortMappingManager().queue()->sync([] {}); }
    std::vector<Value> updates() {
        std::vector<Value> out;
        for (const auto& n : listener_->received())
            if (n.name == PortMappingManager::kUpnpUpdated) out.push_back(n.userInfo);
        return out;
    }

    std::shared_ptr<netstate::FixtureSource> fixture_;
    std::shared_ptr<FakeUPnP> upnp_;
    std::shared_ptr<FakeNatPmp> natpmp_;
    std::unique_ptr<notify::DistributedNotificationListener> listener_;
};

TEST_F(PortMappingManagerTest, MappingOffDoesNothingButTheStartUpCleanUp) {
    upnp_->entries = {routerEntry("192.168.1.20", 5109, 6000, "TCP", "Telvo.Server 2.1"),
                      routerEntry("192.168.1.20", 5109, 5109, "TCP", "Telvo Server (12345) on 5109")};
    PortMappingManager& manager = PortMappingManager::sharedPortMappingManager();
    manager.map();
    drain();
    // Entries of older releases go; this installation's stay.
    EXPECT_EQ(upnp_->removes, std::vector<std::string>{"6000/TCP"});
    EXPECT_TRUE(upnp_->adds.empty());
    EXPECT_EQ(manager.status(), 0);
    EXPECT_EQ(manager.mappedPort(), 0);
    EXPECT_FALSE(listener_->waitFor(PortMappingManager::kUpnpUpdated, 0.3));
}

TEST_F(PortMappingManagerTest, AnInvalidWantedPortGivesStatus5WithoutAskingTheRouter) {
    TVSPreferences& prefs = TVSPreferences::sharedPreferences();
    prefs.setBool(true, "map external port");
    for (const Value& wanted : {Value("80"), Value("abc"), Value(70000)}) {
        prefs.setObject(wanted, "port external");
        EXPECT_EQ(PortMappingManager::sharedPortMappingManager().port(), -1);
        PortMappingManager::sharedPortMappingManager().map();
        drain();
        EXPECT_EQ(PortMappingManager::sharedPortMappingManager().status(), 5);
    }
    ASSERT_TRUE(MainLoop::runUntil([&] { return updates().size() == 3; }, 60));
    for (const Value& u : updates()) EXPECT_TRUE(u.isNull());
    EXPECT_TRUE(upnp_->adds.empty());
    EXPECT_TRUE(natpmp_->requests().empty());
}

TEST_F(PortMappingManagerTest, ASuccessfulMappingPostsTryingThenMappedWithThePort) {
    TVSPreferences& prefs = TVSPreferences::sharedPreferences();
    prefs.setBool(true, "map external port");
    prefs.setObject(Value("5109"), "port external");
    PortMappingManager::sharedPortMappingManager().map();
    drain();
    EXPECT_EQ(PortMappingManager::sharedPortMappingManager().status(), 2);
    EXPECT_EQ(PortMappingManager::sharedPortMappingManager().mappedPort(), 5109);
    EXPECT_EQ(upnp_->adds, std::vector<std::string>{"5109->192.168.1.20:5109 Telvo Server (12345) on 5109"});
    ASSERT_TRUE(MainLoop::runUntil([&] { return updates().size() == 2; }, 60));
    EXPECT_EQ(updates()[0], Value(ValueDictionary{{"status", Value(1)}}));
    EXPECT_EQ(updates()[1], Value(ValueDictionary{{"status", Value(2)}, {"port", Value(5109)}}));
}

TEST_F(PortMappingManagerTest, APortChangeWithdrawsThisInstallationsEntriesOnly) {
    TVSPreferences& prefs = TVSPreferences::sharedPreferences();
    prefs.setBool(true, "map external port");
    prefs.setObject(Value("5109"), "port external");
    PortMappingManager& manager = PortMappingManager::sharedPortMappingManager();
    manager.map();
    drain();
    upnp_->entries.push_back(routerEntry("192.168.1.20", 5109, 5200, "TCP", "Telvo Server (12345) on 5200"));
    upnp_->entries.push_back(routerEntry("192.168.1.7", 5109, 5300, "TCP", "Telvo Server (99999) on 5300"));
    upnp_->removes.clear();
    prefs.setObject(Value("5110"), "port external");
    manager.mappingPreferenceChange();
    drain();
    EXPECT_EQ(upnp_->removes, (std::vector<std::string>{"5109/TCP", "5200/TCP"}));
    EXPECT_EQ(upnp_->adds.back(), "5110->192.168.1.20:5109 Telvo Server (12345) on 5110");
    EXPECT_EQ(manager.status(), 2);
    EXPECT_EQ(manager.mappedPort(), 5110);
    ASSERT_EQ(upnp_->entries.size(), 2u);

    // Mapping switched off: the change withdraws and maps nothing, and posts nothing.
    ASSERT_TRUE(MainLoop::runUntil([&] { return updates().size() == 4; }, 60));
    prefs.setBool(false, "map external port");
    upnp_->removes.clear();
    prefs.setObject(Value("5111"), "port external");
    manager.mappingPreferenceChange();
    drain();
    EXPECT_EQ(upnp_->removes, std::vector<std::string>{"5110/TCP"});
    EXPECT_EQ(upnp_->adds.size(), 2u);
    EXPECT_EQ(manager.status(), 2);
    EXPECT_FALSE(MainLoop::runUntil([&] { return updates().size() > 4; }, 0.3));
}

TEST_F(PortMappingManagerTest, ARouterThatDoesNotAnswerHoldsUpOnlyTheMappersQueue) {
    TVSPreferences& prefs = TVSPreferences::sharedPreferences();
    prefs.setBool(true, "map external port");
    PortMappingManager& manager = PortMappingManager::sharedPortMappingManager();
    upnp_->block();
    manager.map();
    // The main queue goes on while the router keeps the mapper waiting.
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; ++i) dispatch::Queue::main()->async([&] { ++ran; });
    EXPECT_TRUE(MainLoop::runUntil([&] { return ran.load() == 3; }, 60));
    EXPECT_EQ(manager.status(), 0);
    EXPECT_EQ(manager.mappedPort(), 0);
    upnp_->release();
    drain();
    EXPECT_EQ(manager.status(), 2);
}

}  // namespace
}  // namespace telvo
