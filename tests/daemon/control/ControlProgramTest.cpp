// Every ServiceProtocol operation against the running daemon program, as the control
// application calls them: the listener moves to a new port with "TelvoServerSocketUpdated",
// passcodes round-trip, and the client list shows a connected TLS client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include "daemon/FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/DaemonProgramFixture.h"
#include "daemon/TVSPreferences.h"
#include "daemon/control/ControlClient.h"
#include "daemon/control/TVSXPCServer.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/values/PropertyList.h"

namespace telvo {
namespace {

class ControlProgramTest : public testing::DaemonProgramFixture {
protected:
    void SetUp() override {
        DaemonProgramFixture::SetUp();
        start();
    }
};

TEST_F(ControlProgramTest, EveryOperationOfServiceProtocolAgainstTheDaemon) {
    notify::DistributedNotificationListener notifications;
    ASSERT_TRUE(notifications.isListening());
    testing::ServiceCaller caller(TVSXPCServer::kServiceName);

    EXPECT_EQ(caller.call("version:"), std::optional<Value>(Value("3.03 (270)")));
    EXPECT_EQ(caller.call("serverStatus:"), std::optional<Value>(Value(3)));
    EXPECT_EQ(caller.call("upnpStatus:"), std::optional<Value>(Value(0)));
    EXPECT_EQ(caller.call("upnpPort:"), std::optional<Value>(Value(0)));

    // Preferences: stored values, defaults, nothing.
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("port")}), std::optional<Value>(Value(int(port_))));
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("port external")})->intValue(), 5109);
    EXPECT_TRUE(caller.call("objectForKey:reply:", {Value("no such key")})->isNull());
    caller.send("setObject:forKey:", {Value("a </term> b"), Value("note")});
    caller.send("setInteger:forKey:", {Value(7), Value("passcodeType")});
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("note")}), std::optional<Value>(Value("a </term> b")));
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("passcodeType")}), std::optional<Value>(Value(7)));
    caller.send("setObject:forKey:", {Value(), Value("note")});
    EXPECT_TRUE(caller.call("objectForKey:reply:", {Value("note")})->isNull());

    // Passcodes.
    caller.send("setPasscode:", {Value("97531")});
    EXPECT_EQ(caller.call("passcode:"), std::optional<Value>(Value("97531")));
    caller.send("generatePasscode", {});
    Value generated = *caller.call("passcode:");
    EXPECT_EQ(generated.stringValue().size(), 5u);
    EXPECT_NE(generated, Value("97531"));

    // A TLS client, logged in with the passcode, shows in the client list.
    testclient::ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn("CONTROL-TEST-DEVICE", generated.stringValue(), false, &error), std::optional<std::string>("0"))
        << error;
    std::optional<Value> list = caller.call("clients:");
    ASSERT_TRUE(list && list->isArray());
    ASSERT_EQ(list->count(), 1u) << list->description();
    const Value& entry = list->at(0);
    EXPECT_EQ(entry["address"].stringValue().find("127.0.0.1"), 0u) << entry.description();
    EXPECT_FALSE(entry["hostname"].stringValue().empty());
    EXPECT_GT(entry["sent"].doubleValue(), 0);
    EXPECT_GE(entry["time"].doubleValue(), 0);
    EXPECT_LT(entry["time"].doubleValue(), 60);

    // Authorisations: both forms empty the remembered devices.
    caller.send("resetAuthorizations", {});
    caller.send("resetAuthorizedDevices", {});
    caller.call("version:");  // calls are answered in order: the resets are done
    Value devices = *caller.call("objectForKey:reply:", {Value("authorized devices")});
    EXPECT_EQ(devices.count(), 0u) << devices.description();

    // DNS-SD and the router port are stored; mapping is off, so nothing is mapped.
    caller.send("setBonjourEnabled:", {Value(0)});
    caller.send("setUpnpPort:", {Value("5120")});
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("port external")}), std::optional<Value>(Value("5120")));
    EXPECT_EQ(caller.call("objectForKey:reply:", {Value("bonjour enabled")}), std::optional<Value>(Value(0)));
    EXPECT_EQ(caller.call("upnpStatus:"), std::optional<Value>(Value(0)));

    // A new server port moves the listener.
    size_t updatesBefore = notifications.count("TelvoServerSocketUpdated");
    uint16_t newPort = testing::freePort();
    caller.send("setServerPort:", {Value(std::to_string(newPort))});
    ASSERT_TRUE(waitForLog("Waiting for connections on port " + std::to_string(newPort) + ".")) << logText();
    EXPECT_TRUE(notifications.waitFor("TelvoServerSocketUpdated", 60));
    // Both arrive a while after the log line, each on its own: wait for the second as well.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (notifications.count("TelvoServerSocketUpdated") < updatesBefore + 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(notifications.count("TelvoServerSocketUpdated"), updatesBefore + 2);  // starting, listening
    EXPECT_EQ(caller.call("serverStatus:"), std::optional<Value>(Value(3)));
    testclient::ProtocolClient moved;
    EXPECT_TRUE(moved.connect("127.0.0.1", newPort, &error)) << error;
}

}  // namespace
}  // namespace telvo
