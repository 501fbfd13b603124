// DNS-SD publication through a private avahi-daemon on the loopback interface only.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "DaemonFixture.h"
#include "PrivateAvahi.h"
#include "daemon/BonjourManager.h"

using namespace telvo;

namespace {
using BonjourTest = telvo::testing::DaemonFixture;

BonjourManager::HostFacts facts(std::optional<std::string> name, std::string model, std::optional<std::string> address) {
    return {[=] { return name; }, [=] { return model; }, [=] { return address; }};
}
}  // namespace

TEST(BonjourNameTest, DisplayNameFromComputerNameModelAndAddress) {
    struct Case {
        std::optional<std::string> computer;
        std::string model;
        std::optional<std::string> address;
        std::string expected;
    } cases[] = {
        {"Studio", "iMac11,3", "10.0.1.5", "Studio"},
        {"", "MacBookAir6,2", "10.0.1.5", "MacBook Air - 10.0.1.5"},
        {std::nullopt, "MacBookAir6,2", std::nullopt, "MacBook Air"},
        {std::nullopt, "MacBookPro11,3", std::nullopt, "MacBook Pro"},
        {std::nullopt, "MacBook8,1", std::nullopt, "MacBook"},
        {std::nullopt, "RackMac3,1", std::nullopt, "Xserve"},
        {std::nullopt, "Standard PC", "192.168.1.2", "192.168.1.2"},
        {std::nullopt, "Standard PC", std::nullopt, "Unknown Mac"},
        {std::nullopt, "", std::nullopt, "Unknown Mac"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BonjourManager::displayName(c.computer, c.model, c.address), c.expected) << c.model;
}

TEST_F(BonjourTest, WithoutAnAvahiDaemonPublicationFailsIsLoggedAndNothingIsHeld) {
    // The D-Bus library keeps the first bus address a process uses, so this runs in a child.
    pid_t child = fork();
    if (child == 0) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root_ + "/no-bus").c_str(), 1);
        BonjourManager& manager = BonjourManager::sharedBonjourManager();
        manager.startBonjourWithPort(5109, "UUID");
        bool held = manager.service() != nullptr;
        manager.stopBonjour();
        std::fflush(log_);
        _exit(held ? 1 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a failed publication left a service held";
    EXPECT_TRUE(logged("starting bonjour on port 5109"));
    EXPECT_TRUE(logged("Unable to start bonjour"));
    EXPECT_FALSE(logged("stopping bonjour"));  // nothing held, nothing logged
}

TEST_F(BonjourTest, PublishedServiceIsFoundWithItsTXTRecord) {
    telvo::testing::PrivateAvahi avahi;
    std::string error;
    ASSERT_TRUE(avahi.start(&error)) << "cannot start a private D-Bus system bus and avahi-daemon: " << error;

    BonjourManager& manager = BonjourManager::sharedBonjourManager();
    manager.setHostFactsForTesting(facts(std::nullopt, "MacBookAir6,2", std::string("10.0.1.5")));
    const std::string uuid = "7A1F0C9E-1111-4222-8333-944455556666";
    manager.startBonjourWithPort(5109, uuid);
    ASSERT_NE(manager.service(), nullptr) << ::testing::PrintToString(logMessages());
    manager.startBonjourWithPort(6000, "OTHER");  // a second start changes nothing
    EXPECT_EQ(manager.service()->port(), 5109);

    std::string line;
    for (int i = 0; i < 100 && line.empty(); ++i) {
        std::string out = avahi.run("avahi-browse -rpt _telvoserver._tcp 2>/dev/null");
        for (size_t start = 0; start < out.size();) {
            size_t end = out.find('\n', start);
            std::string l = out.substr(start, end - start);
            if (l.rfind("=;", 0) == 0 && l.find(uuid) != std::string::npos) line = l;
            if (end == std::string::npos) break;
            start = end + 1;
        }
        if (line.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(line.empty()) << "the service was not found by avahi-browse";
    EXPECT_NE(line.find(";_telvoserver._tcp;local;"), std::string::npos) << line;
    EXPECT_NE(line.find(";5109;"), std::string::npos) << line;
    EXPECT_NE(line.find("\"name=MacBook Air - 10.0.1.5\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"model=MacBookAir6,2\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"platform=7\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"protocol=3\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"time="), std::string::npos) << line;

    manager.stopBonjour();
    EXPECT_TRUE(logged("stopping bonjour"));
    EXPECT_EQ(manager.service(), nullptr);
}
