// Clients that would take the daemon's passcode or its memory: passcode floods that do not
// wait for answers, many idle TLS connections, and sessions that never authorise. The daemon
// side runs on the main loop of this process, the clients on threads, over TLS on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "DaemonFixture.h"
#include "FakeCollector.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/PasscodeThrottle.h"
#include "daemon/RemoteClient.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;
using telvo::testing::FakeCollector;

namespace {

class HostileClientTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        port_ = telvo::testing::freePort();
        TVSPreferences& preferences = TVSPreferences::sharedPreferences();
        preferences.setInteger(port_, "port");
        preferences.setBool(false, "bonjour enabled");
        DaemonCollectors c;
        c.cpu = std::make_shared<FakeCollector>("cpu");
        c.processes = std::make_shared<FakeCollector>("processes");
        Controller& controller = Controller::sharedController();
        controller.setCollectorsForTesting(c);
        controller.prepare();
        controller.start();
        ASSERT_TRUE(dispatch::MainLoop::runUntil(
            [] { return ServerManager::sharedServerManager().status() == ServerManager::kListening; }, 10));
        passcode_ = *TVSPreferences::sharedPreferences().passcode();
        // A device that gave the passcode earlier.
        ServerManager::sharedServerManager().addDeviceToAuthorizedList("REMEMBERED");
    }
    void TearDown() override {
        platform::Clock::useReal();
        DaemonFixture::TearDown();
    }

    // Runs `body` on a thread while the main loop serves the daemon side.
    template <class F>
    void withClients(F body, double timeout = 60) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            body();
            done = true;
        });
        dispatch::MainLoop::runUntil([&] { return done.load(); }, timeout);
        thread.join();
    }

    // A remembered device from `source` is authorised without a passcode, within a few seconds.
    void expectRememberedDeviceServed(const std::string& source) {
        auto started = std::chrono::steady_clock::now();
        ProtocolClient device;
        device.setSourceAddress(source);
        std::string error;
        ASSERT_TRUE(device.connect("127.0.0.1", port_, &error)) << error;
        EXPECT_EQ(device.logIn("REMEMBERED", std::nullopt, false, &error), "0") << error;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 5);
    }

    static int sessions() { return int(ServerManager::sharedServerManager().clients().size()); }
    int linesContaining(const std::string& text) const {
        int n = 0;
        for (const auto& line : logMessages()) n += line.find(text) != std::string::npos;
        return n;
    }

    uint16_t port_ = 0;
    std::string passcode_;
};

}  // namespace

// Eight senders each open a connection, give hello and details and one passcode and close at
// once without reading the passcode's answer. Only the free guesses are checked; the right passcode,
// sent as the twentieth guess, is never checked; a remembered device is served meanwhile; the
// log does not grow with every guess.
TEST_F(HostileClientTest, AFloodOfGuessesThatDoNotWaitGetsTheFreeChecksOnly) {
    std::atomic<int> sent{0};
    std::atomic<bool> stop{false};
    withClients([&] {
        std::vector<std::thread> senders;
        for (int t = 0; t < 8; ++t)
            senders.emplace_back([&, t] {
                while (!stop) {
                    ProtocolClient client;
                    if (!client.connect("127.0.0.1", port_, nullptr, 5)) continue;
                    client.send(ProtocolClient::hello(false));
                    if (!client.readAnswer(5)) continue;
                    client.send(ProtocolClient::clientDetails("GUESSER-" + std::to_string(t), "g"));
                    if (!client.readAnswer(5)) continue;
                    int n = sent++;
                    client.send(ProtocolClient::passcode(n == 19 ? passcode_ : std::to_string(10000 + n)));
                    // Closes without waiting for any answer.
                }
            });
        while (sent < 40) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        expectRememberedDeviceServed("127.0.0.1");
        while (sent < 120) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = true;
        for (auto& s : senders) s.join();
    });
    // Sessions still closing finish their business.
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return sessions() == 0; }, 20));
    const PasscodeThrottle& throttle = ServerManager::sharedServerManager().passcodeThrottle();
    EXPECT_LE(throttle.checks(), 12);
    EXPECT_GE(throttle.checks(), 1);
    auto devices = ServerManager::sharedServerManager().authorizedDevices();
    EXPECT_EQ(devices, std::vector<std::string>{"REMEMBERED"});
    // Every check is logged; of the other lines about the guesser only a handful, the rest
    // are counted.
    EXPECT_EQ(linesContaining("127.0.0.1 - g: Invalid passcode"), throttle.checks());
    EXPECT_LE(linesContaining("127.0.0.1"), PeerLogLimiter::kLinesPerMinute + 12 + 4);
    EXPECT_GT(ServerManager::sharedServerManager().peerLog().leftOut("127.0.0.1"), 0);
}

// A guess waits for its turn and the session reads nothing meanwhile; the right passcode
// behind wrong ones is answered 103 when its own turn comes.
TEST_F(HostileClientTest, AGuessWaitsForItsTurnAndTheRightOneIsAnsweredWhenChecked) {
    withClients([&] {
        ProtocolClient client;
        std::string error;
        ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
        ASSERT_TRUE(client.send(ProtocolClient::hello(false)));
        ASSERT_TRUE(client.readAnswer());
        ASSERT_TRUE(client.send(ProtocolClient::clientDetails("PATIENT", "p")));
        ASSERT_TRUE(client.readAnswer());
        for (int i = 0; i < PasscodeThrottle::kFreeAttempts; ++i) {
            ASSERT_TRUE(client.send(ProtocolClient::passcode("00000")));
            auto answer = client.readAnswer();
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->type(), 102);
        }
        auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(client.send(ProtocolClient::passcode("00000")));
        ASSERT_TRUE(client.send(ProtocolClient::passcode(passcode_)));
        // Nothing comes before the first gap has passed.
        EXPECT_FALSE(client.readAnswer(0.5));
        auto first = client.readAnswer(10);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->type(), 102);
        auto second = client.readAnswer(10);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->type(), 103);
        double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        // One second before the fourth check, two more before the fifth.
        EXPECT_GE(waited, 2.7);
    });
    EXPECT_EQ(ServerManager::sharedServerManager().passcodeThrottle().failures("127.0.0.1"), 0);
    EXPECT_EQ(ServerManager::sharedServerManager().passcodeThrottle().checks(), 5);
}

// Eight addresses fill both bounds with sessions that never authorise. A connection from a
// ninth address is admitted at once and logs in, and the oldest session of an address
// holding the most is closed for it; a remembered device from one of the eight, at its
// address's bound, is served, and that address's oldest session is closed; sessions from
// addresses of their own are never the ones closed while another address holds more. The
// first close is told at once, the rest in one line a minute later.
TEST_F(HostileClientTest, AtEitherBoundTheOldestUnauthorisedSessionMakesRoom) {
    constexpr int kAddresses = ServerManager::kMaximumUnauthorised / ServerManager::kMaximumUnauthorisedPerAddress;
    ServerManager& server = ServerManager::sharedServerManager();
    std::vector<std::unique_ptr<ProtocolClient>> idle(ServerManager::kMaximumUnauthorised);
    withClients([&] {
        std::atomic<int> next{0}, secured{0};
        std::vector<std::thread> openers;
        for (int t = 0; t < 8; ++t)
            openers.emplace_back([&] {
                for (int i; (i = next++) < int(idle.size());) {
                    auto client = std::make_unique<ProtocolClient>();
                    client->setSourceAddress("127.0.0." + std::to_string(2 + i % kAddresses));
                    if (client->connect("127.0.0.1", port_, nullptr, 20)) ++secured;
                    idle[size_t(i)] = std::move(client);
                }
            });
        for (auto& t : openers) t.join();
        EXPECT_EQ(secured.load(), ServerManager::kMaximumUnauthorised);
    });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return sessions() == ServerManager::kMaximumUnauthorised; }, 20));
    EXPECT_EQ(server.unauthorisedSessions("127.0.0.2"), ServerManager::kMaximumUnauthorisedPerAddress);
    // The session that went, of those open before.
    auto closedOf = [&](const std::vector<RemoteClientPtr>& before) -> RemoteClientPtr {
        const auto now = server.clients();
        for (const auto& c : before)
            if (std::find(now.begin(), now.end(), c) == now.end()) return c;
        return nullptr;
    };
    auto oldestOf = [](const std::vector<RemoteClientPtr>& clients, const std::string& address) -> RemoteClientPtr {
        for (const auto& c : clients)
            if (!c->authenticated() && c->address() == address) return c;
        return nullptr;
    };

    // A ninth address, with every address at its bound and all full: all hold as many, so the
    // oldest session of all goes.
    std::vector<RemoteClientPtr> before = server.clients();
    ProtocolClient newcomer;
    withClients([&] {
        const auto started = std::chrono::steady_clock::now();
        newcomer.setSourceAddress("127.0.0.10");
        std::string error;
        ASSERT_TRUE(newcomer.connect("127.0.0.1", port_, &error)) << error;
        EXPECT_EQ(newcomer.logIn("NEWCOMER", passcode_, false, &error), "0") << error;
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_LT(took, 10) << "the ninth address logged in after " << took << " s";
        RecordProperty("ninth_address_seconds", std::to_string(took));
    });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return closedOf(before) != nullptr; }, 20));
    EXPECT_EQ(closedOf(before), before[0]);
    const std::string first = before[0]->address();
    EXPECT_EQ(server.unauthorisedSessions(first), ServerManager::kMaximumUnauthorisedPerAddress - 1);

    // A remembered device from an address at its bound (with room in all): that address's
    // oldest goes.
    const std::string full = first == "127.0.0.3" ? "127.0.0.4" : "127.0.0.3";
    before = server.clients();
    const RemoteClientPtr oldest = oldestOf(before, full);
    withClients([&] { expectRememberedDeviceServed(full); });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return closedOf(before) != nullptr; }, 20));
    EXPECT_EQ(closedOf(before), oldest);
    EXPECT_EQ(server.unauthorisedSessions(full), ServerManager::kMaximumUnauthorisedPerAddress - 1);

    // One session each from addresses of their own: the first two fit, then every newcomer
    // takes the room of a session of an address holding the most.
    std::vector<std::unique_ptr<ProtocolClient>> lone;
    withClients([&] {
        for (int i = 0; i < 14; ++i) {
            auto client = std::make_unique<ProtocolClient>();
            client->setSourceAddress("127.0.0." + std::to_string(20 + i));
            std::string error;
            EXPECT_TRUE(client->connect("127.0.0.1", port_, &error)) << error;
            lone.push_back(std::move(client));
        }
    });
    ASSERT_TRUE(dispatch::MainLoop::runUntil(
        [&] { return server.evictedSessions() == 14 && server.unauthorisedSessions() == ServerManager::kMaximumUnauthorised; },
        20));
    for (int i = 0; i < 14; ++i) EXPECT_EQ(server.unauthorisedSessions("127.0.0." + std::to_string(20 + i)), 1) << i;
    for (int a = 0; a < kAddresses; ++a)
        EXPECT_GE(server.unauthorisedSessions("127.0.0." + std::to_string(2 + a)),
                  ServerManager::kMaximumUnauthorisedPerAddress - 3);
    EXPECT_EQ(server.refusedConnections(), 0);
    // The lone sessions are still answered.
    withClients([&] {
        for (auto& client : lone) {
            ASSERT_TRUE(client->send(ProtocolClient::hello(false)));
            EXPECT_TRUE(client->readAnswer());
        }
    });
    EXPECT_EQ(linesContaining("closing its oldest session that is not authorized"), 1);
    EXPECT_EQ(linesContaining("Closed 13 sessions that were not authorized in the last minute"), 0);
    // A minute later, one line counts the rest.
    platform::Clock::useVirtual(platform::Clock::now());
    platform::Clock::advance(ServerManager::kRefusalLogInterval + 1);
    EXPECT_TRUE(dispatch::MainLoop::runUntil(
        [&] { return linesContaining("Closed 13 sessions that were not authorized in the last minute") == 1; }, 20));
    platform::Clock::useReal();
    idle.clear();
    lone.clear();
}

// A session that is not authorised a minute after its handshake is closed; an authorised one
// stays; a session whose guess still waits is closed only once the guess is answered.
TEST_F(HostileClientTest, ASessionNotAuthorisedWithinAMinuteIsClosed) {
    platform::Clock::useVirtual(platform::Clock::now());
    ProtocolClient idle, authorised;
    withClients([&] {
        std::string error;
        ASSERT_TRUE(idle.connect("127.0.0.1", port_, &error)) << error;
        ASSERT_TRUE(idle.send(ProtocolClient::hello(false)));
        ASSERT_TRUE(idle.readAnswer());
        ASSERT_TRUE(authorised.connect("127.0.0.1", port_, &error)) << error;
        ASSERT_EQ(authorised.logIn("REMEMBERED", std::nullopt, false, &error), "0") << error;
    });
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return sessions() == 2; }, 10));
    platform::Clock::advance(RemoteClient::kAuthorisationTimeout - 1);
    dispatch::MainLoop::runUntil([] { return false; }, 0.3);
    EXPECT_EQ(sessions(), 2);
    platform::Clock::advance(2);
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return sessions() == 1; }, 10));
    EXPECT_TRUE(ServerManager::sharedServerManager().clients()[0]->authenticated());
    EXPECT_TRUE(logged("127.0.0.1: Not authorized in time"));
    withClients([&] { EXPECT_TRUE(idle.waitForClose(10)); });
    // The authorised session is still answered.
    withClients([&] {
        ASSERT_TRUE(authorised.send(ProtocolClient::hello(false)));
        EXPECT_TRUE(authorised.readAnswer());
    });
}
