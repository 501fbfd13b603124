// The older route: both processes told they run on 10.7, the application speaks to the
// daemon's control socket.
#include <signal.h>

#include "AppDaemonFixture.h"
#include "ProtocolClient.h"
#include "app/cells/LabelCell.h"
#include "app/connection/TVSXPCConnection.h"
#include "foundation/ControlChannel.h"
#include "foundation/KXRVersions.h"

namespace telvo::testing {
namespace {

class AppLegacyRouteTest : public AppDaemonTest {
protected:
    void SetUp() override {
        AppDaemonTest::SetUp();
        setenv("TELVO_OS_VERSION", "10.7", 1);
        KXRVersions::resetForTesting();
    }
    std::string passcodeOverSocket() {
        auto socket = std::make_shared<LegacyCaller>();
        ErrorPtr error;
        if (!socket->connect(channel::kLegacySocketPath, &error)) {
            ADD_FAILURE() << (error ? error->description() : "no socket");
            return {};
        }
        std::optional<Value> answer = socket->ask("passcode");
        socket->close();
        return answer ? (*answer)["passcode"].stringValue() : std::string();
    }
};

TEST_F(AppLegacyRouteTest, SameRowAndVersionsOverTheSocketAndAfterARestart) {
    ASSERT_TRUE(startDaemon({"TELVO_OS_VERSION=10.7"}));
    startApp();
    auto& connection = app::TVSXPCConnection::sharedXPCConnection();
    ASSERT_FALSE(connection.usesServiceRoute());
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));
    EXPECT_TRUE(waitFor([&] { return delegate().aboutVersionDaemon()->text() == "Daemon Version 3.03 (270)"; }));

    testclient::ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn("APP-LEGACY-DEVICE", passcodeOverSocket(), false, &error), std::optional<std::string>("0"));
    // The list may first show the connection under its address: its details come after it.
    ASSERT_TRUE(waitFor([&] { return rows().size() == 1 && rows()[0][1] == "telvo-client"; }))
        << (rows().empty() ? std::string("no row") : rows()[0][1]);
    EXPECT_EQ(rows()[0][0], "127.0.0.1");
    screenshot("legacy-connected");

    // Two requests under one handler slot: the block stored last answers both.
    int first = 0, second = 0;
    Value answered;
    Value request(ValueDictionary{{"key", Value("preference")}, {"pkey", Value("port")}});
    EXPECT_EQ(app::TVSXPCConnection::handlerKey(request), "preference-port");
    connection.sendIPCRequest(request, [&](const Value&) { ++first; });
    connection.sendIPCRequest(request, [&](const Value& reply) {
        ++second;
        answered = reply;
    });
    EXPECT_TRUE(waitFor([&] { return second == 2; }));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(answered["value"].intValue(), port_);

    // The daemon restarted: the next requests open a new socket.
    client.close();
    killDaemon();
    EXPECT_TRUE(waitFor([&] { return statusImage() == "notconnected" && rows().empty(); }, 20));
    ASSERT_TRUE(startDaemon({"TELVO_OS_VERSION=10.7"}));
    EXPECT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 20));
    testclient::ProtocolClient again;
    ASSERT_TRUE(again.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(again.logIn("APP-LEGACY-DEVICE", passcodeOverSocket(), false, &error), std::optional<std::string>("0"));
    EXPECT_TRUE(waitFor([&] { return rows().size() == 1; }));
}

}  // namespace
}  // namespace telvo::testing
