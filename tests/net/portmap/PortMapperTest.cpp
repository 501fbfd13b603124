// The port mapper over stand-in routers and a fixture network: router entries met by an add,
// withdrawals, the protocol choice, NAT-PMP renewal intervals and its timer, network changes.
#include <gtest/gtest.h>
#include <mutex>
#include "net/portmap/FakeRouter.h"
#include "net/portmap/PortMapperLog.h"
#include "net/portmap/TCMPortMapper.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

using dispatch::MainLoop;
using platform::Clock;
using testing::FakeNatPmp;
using testing::FakeUPnP;
using testing::routerEntry;

class PortMapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::resetForTesting();
        fixture_ = std::make_shared<netstate::FixtureSource>();
        netstate::DynamicStore::setSourceForTesting(fixture_);
        fixture_->setNetwork("192.168.1.1", "eth0", {"10.8.0.5", "192.168.1.20"}, {"255.255.255.0", "255.255.255.0"});
        fixture_->commit();  // the starting state is no change
        setPortMapperLogHandlerForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        });
        upnp_ = std::make_shared<FakeUPnP>();
        natpmp_ = std::make_shared<FakeNatPmp>();
    }
    void TearDown() override {
        TCMPortMapper::resetForTesting();
        MainLoop::resetForTesting();
        netstate::DynamicStore::resetForTesting();
        setPortMapperLogHandlerForTesting(nullptr);
    }
    TCMPortMapperPtr mapper() {
        if (!mapper_) mapper_ = TCMPortMapper::createSharedForTesting(upnp_, natpmp_);
        return mapper_;
    }
    // Runs on the mapper's queue, as every caller must.
    int64_t add(const TCMPortMappingPtr& m) {
        int64_t status = -1;
        mapper()->queue()->sync([&] { status = mapper()->addPortMapping(m); });
        return status;
    }
    static TCMPortMappingPtr mapping(int local, int external, const std::string& description) {
        auto m = TCMPortMapping::portMappingWithLocalPort(local, external, 0);
        m->setPortDescription(description);
        return m;
    }
    size_t logged(const std::string& part) {
        std::lock_guard<std::mutex> lock(logMutex_);
        size_t n = 0;
        for (const auto& l : log_) n += l.find(part) != std::string::npos;
        return n;
    }

    std::shared_ptr<netstate::FixtureSource> fixture_;
    std::shared_ptr<FakeUPnP> upnp_;
    std::shared_ptr<FakeNatPmp> natpmp_;
    TCMPortMapperPtr mapper_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST(PortMappingTest, PortsOutsideTheRangeMakeNoMappingAndTheDescriptionNamesTheStatus) {
    EXPECT_EQ(TCMPortMapping::portMappingWithLocalPort(0, 5109, 0), nullptr);
    EXPECT_EQ(TCMPortMapping::portMappingWithLocalPort(5109, 65536, 0), nullptr);
    auto m = TCMPortMapping::portMappingWithLocalPort(5109, 5110, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->mappingStatus(), 0);
    EXPECT_EQ(m->externalPort(), 0);
    EXPECT_NE(m->description().find("privatePort:5109 desiredPublicPort:5110 publicPort:0 mappingStatus:unmapped transportProtocol:0"),
              std::string::npos);
    m->setMappingStatus(4);
    EXPECT_NE(m->description().find("mappingStatus:trying"), std::string::npos);
}

TEST(PortMapperSubnetTest, PrivateSubnets) {
    struct {
        const char* address;
        bool isPrivate;
    } cases[] = {{"172.31.255.1", true}, {"172.32.0.1", false}, {"127.5.5.5", true}, {"169.254.3.3", true},
                 {"8.8.8.8", false},     {"192.168.200.1", true}, {"10.255.0.1", true}, {"not an address", false}};
    for (const auto& c : cases) EXPECT_EQ(IPv4AddressInPrivateSubnet(c.address), c.isPrivate) << c.address;
}

TEST_F(PortMapperTest, TheLocalAddressIsTheOneOnTheRoutersSubnetElseTheLast) {
    mapper()->queue()->sync([&] { mapper()->updateLocalIPAddress(); });
    EXPECT_EQ(mapper()->localIPAddress(), "192.168.1.20");
    EXPECT_TRUE(mapper()->localIPOnRouterSubnet());

    fixture_->setNetwork("172.20.0.1", "eth0", {"192.168.1.20", "10.8.0.5"}, {"255.255.255.0"});
    mapper()->queue()->sync([&] { mapper()->updateLocalIPAddress(); });
    EXPECT_EQ(mapper()->localIPAddress(), "10.8.0.5");
    EXPECT_FALSE(mapper()->localIPOnRouterSubnet());

    fixture_->setNetwork("", "eth0", {"192.168.1.20", "10.8.0.5"}, {"255.255.255.0", "255.0.0.0"});
    mapper()->queue()->sync([&] { mapper()->updateLocalIPAddress(); });
    EXPECT_EQ(mapper()->localIPAddress(), "10.8.0.5");
    EXPECT_FALSE(mapper()->localIPOnRouterSubnet());
}

TEST_F(PortMapperTest, RouterEntriesMetByAnAdd) {
    const std::string mine = "Telvo Server (abc) on 5109";
    // The same entry already there: mapped without a request.
    upnp_->entries = {routerEntry("192.168.1.20", 5109, 5109, "TCP", mine)};
    auto m = mapping(5109, 5109, mine);
    EXPECT_EQ(add(m), 2);
    EXPECT_EQ(m->externalPort(), 5109);
    EXPECT_TRUE(upnp_->adds.empty());
    EXPECT_TRUE(upnp_->removes.empty());
    EXPECT_EQ(logged("mapping has same description"), 1u);
    EXPECT_EQ(upnp_->lastRouter, "192.168.1.1");

    // The same description for another client: deleted and made again.
    upnp_->entries = {routerEntry("192.168.1.99", 5109, 5109, "TCP", mine)};
    auto again = mapping(5109, 5109, mine);
    EXPECT_EQ(add(again), 2);
    EXPECT_EQ(upnp_->removes, std::vector<std::string>{"5109/TCP"});
    EXPECT_EQ(upnp_->adds, std::vector<std::string>{"5109->192.168.1.20:5109 " + mine});

    // Another owner's TCP entry on the port: taken, nothing sent.
    upnp_->adds.clear();
    upnp_->removes.clear();
    upnp_->entries = {routerEntry("192.168.1.50", 22, 5110, "TCP", "ssh"),
                      routerEntry("192.168.1.50", 53, 5111, "UDP", "dns")};
    auto taken = mapping(5109, 5110, mine);
    EXPECT_EQ(add(taken), 3);
    // An entry of another protocol on the port is no conflict.
    auto udpOnly = mapping(5109, 5111, mine);
    EXPECT_EQ(add(udpOnly), 2);
    EXPECT_EQ(upnp_->adds, std::vector<std::string>{"5111->192.168.1.20:5109 " + mine});
    EXPECT_TRUE(upnp_->removes.empty());

    // A refusing router: failed.
    upnp_->accept = false;
    EXPECT_EQ(add(mapping(5109, 6000, mine)), 4);
    EXPECT_EQ(mapper()->mappings().size(), 5u);
}

TEST_F(PortMapperTest, WithdrawalsByDescriptionUseEachEntrysOwnProtocol) {
    upnp_->entries = {routerEntry("192.168.1.20", 5109, 7000, "TCP", "Telvo.Server 2.x"),
                      routerEntry("192.168.1.20", 5109, 7000, "UDP", "old Telvo.Server"),
                      routerEntry("192.168.1.20", 5109, 5109, "TCP", "Telvo Server (abc) on 5109"),
                      routerEntry("192.168.1.20", 5109, 5110, "TCP", "Telvo Server (abc) on 5110"),
                      routerEntry("192.168.1.20", 5109, 5111, "TCP", "Telvo Server (other) on 5111")};
    mapper()->queue()->sync([&] { mapper()->removePortMappingsContaining("Telvo.Server"); });
    // The UDP entry goes as UDP: the TCP forwarding of port 7000 is not taken with it.
    EXPECT_EQ(upnp_->removes, (std::vector<std::string>{"7000/TCP", "7000/UDP"}));
    upnp_->removes.clear();
    mapper()->queue()->sync([&] { mapper()->removePortMappingsWithPrefix("Telvo Server (abc)"); });
    EXPECT_EQ(upnp_->removes, (std::vector<std::string>{"5109/TCP", "5110/TCP"}));
    ASSERT_EQ(upnp_->entries.size(), 1u);
    EXPECT_EQ(upnp_->entries[0]["description"], Value("Telvo Server (other) on 5111"));
}

TEST_F(PortMapperTest, RemovingAnUnmappedMappingSendsNothingAndDropsIt) {
    auto m = mapping(5109, 5109, "x");
    mapper()->queue()->sync([&] {
        mapper()->refresh();
        mapper()->removePortMapping(m);
    });
    EXPECT_TRUE(upnp_->removes.empty());
    auto mapped = mapping(5109, 5109, "x");
    EXPECT_EQ(add(mapped), 2);
    mapper()->queue()->sync([&] { mapper()->removePortMapping(mapped); });
    EXPECT_EQ(upnp_->removes, std::vector<std::string>{"5109/TCP"});
    EXPECT_EQ(mapped->mappingStatus(), 2);
    EXPECT_TRUE(mapper()->mappings().empty());
}

TEST_F(PortMapperTest, WithoutUPnPTheMappingGoesToNATPMPAndItsIntervalsFollowTheGrants) {
    upnp_->answers = false;
    natpmp_->grantedPort = 40000;
    auto m = mapping(5109, 5109, "x");
    EXPECT_EQ(add(m), 2);
    EXPECT_EQ(m->externalPort(), 40000);
    EXPECT_EQ(m->mappedWith(), TCMMappingProtocol::NATPMP);
    EXPECT_TRUE(upnp_->adds.empty());
    ASSERT_EQ(natpmp_->requests().size(), 1u);
    EXPECT_EQ(natpmp_->requests()[0].lifetime, 3600u);
    EXPECT_EQ(natpmp_->updateInterval(), 1800);
    EXPECT_TRUE(natpmp_->timerArmed());

    struct {
        uint32_t lifetime;
        double interval;
        size_t cautions;
    } steps[] = {{1000, 500, 0}, {3600, 500, 0}, {100, 60, 1}, {3600, 60, 1}};
    for (const auto& s : steps) {
        natpmp_->grantedLifetime = s.lifetime;
        EXPECT_EQ(add(mapping(5109, 5109, "x")), 2);
        EXPECT_EQ(natpmp_->updateInterval(), s.interval) << s.lifetime;
        EXPECT_EQ(logged("caution - new port mapping had a lifetime < 120. : 100 - "), s.cautions);
    }

    // Withdrawal: lifetime 0 for the local and the granted external port.
    mapper()->queue()->sync([&] { mapper()->removePortMapping(m); });
    auto last = natpmp_->requests().back();
    EXPECT_EQ(last.local, 5109);
    EXPECT_EQ(last.publicPort, 40000);
    EXPECT_EQ(last.lifetime, 0u);
    EXPECT_EQ(logged("removed nat mapping"), 1u);

    natpmp_->result = -7;
    EXPECT_EQ(add(mapping(5109, 5200, "y")), 4);
    mapper()->queue()->sync([&] { mapper()->removePortMapping(m); });
    EXPECT_EQ(logged("error removing nat mapping"), 1u);
}

TEST_F(PortMapperTest, NATPMPMappingsAreRenewedOnTheMappersOwnTimer) {
    Clock::useVirtual(1.7e9);
    upnp_->answers = false;
    auto m = mapping(5109, 5109, "x");
    EXPECT_EQ(add(m), 2);
    ASSERT_EQ(natpmp_->requests().size(), 1u);
    MainLoop::runFor(1799);
    EXPECT_EQ(natpmp_->requests().size(), 1u);
    MainLoop::runFor(2);
    EXPECT_EQ(natpmp_->renewals(), 1);
    ASSERT_EQ(natpmp_->requests().size(), 2u);
    EXPECT_EQ(natpmp_->requests()[1].lifetime, 3600u);
    // A whole day: a renewal every 1800 s, so the mapping never outlives its hour unrenewed.
    MainLoop::runFor(86400);
    EXPECT_EQ(natpmp_->renewals(), 49);
    EXPECT_EQ(natpmp_->requests().size(), 50u);
    // Withdrawn mappings are no longer renewed.
    mapper()->queue()->sync([&] { mapper()->removePortMapping(m); });
    size_t before = natpmp_->requests().size();
    MainLoop::runFor(3600);
    EXPECT_EQ(natpmp_->requests().size(), before);
}

TEST_F(PortMapperTest, AChangeOfTheGlobalKeyRemapsEveryHeldMappingOnTheMappersQueue) {
    auto m = mapping(5109, 5109, "x");
    EXPECT_EQ(add(m), 2);
    EXPECT_EQ(upnp_->refreshes, 1);
    fixture_->setValue("State:/Network/Interface/eth9/IPv4", Value(ValueDictionary{}));
    fixture_->commit();
    MainLoop::runUntilIdle();
    EXPECT_EQ(upnp_->refreshes, 1);
    upnp_->entries.clear();
    fixture_->setNetwork("192.168.1.1", "eth0", {"192.168.1.30"}, {"255.255.255.0"});
    fixture_->commit();
    ASSERT_TRUE(MainLoop::runUntil([&] {
        std::lock_guard<std::mutex> lock(upnp_->mutex);
        return upnp_->adds.size() == 2;
    }, 60));
    EXPECT_EQ(upnp_->refreshes, 2);
    EXPECT_EQ(upnp_->adds.back(), "5109->192.168.1.30:5109 x");
    // Asleep, changes are ignored.
    mapper()->queue()->sync([&] { mapper()->willSleep(); });
    fixture_->setNetwork("192.168.1.1", "eth0", {"192.168.1.31"}, {"255.255.255.0"});
    fixture_->commit();
    MainLoop::runUntilIdle();
    EXPECT_EQ(upnp_->refreshes, 2);
}

}  // namespace
}  // namespace telvo
