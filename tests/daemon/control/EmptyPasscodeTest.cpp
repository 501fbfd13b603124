// An empty passcode set through the control service, on both routes: refused with a log line
// and an error to the caller, and the passcode in effect stays (a client logs in with it).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "daemon/Controller.h"
#include "daemon/DaemonFixture.h"
#include "daemon/FakeCollector.h"
#include "daemon/FreePort.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "daemon/control/ControlClient.h"
#include "daemon/control/TVSXPCServer.h"
#include "platform/dispatch/MainLoop.h"
#include "ProtocolClient.h"

namespace telvo {
namespace {

using testing::LegacyCaller;
using testing::ServiceCaller;

class EmptyPasscodeTest : public testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        port_ = testing::freePort();
        TVSPreferences& preferences = TVSPreferences::sharedPreferences();
        preferences.setInteger(port_, "port");
        preferences.setBool(false, "bonjour enabled");
        DaemonCollectors c;
        c.cpu = std::make_shared<testing::FakeCollector>("cpu");
        c.processes = std::make_shared<testing::FakeCollector>("processes");
        Controller& controller = Controller::sharedController();
        controller.setCollectorsForTesting(c);
        controller.prepare();
        controller.start();
        ASSERT_TRUE(dispatch::MainLoop::runUntil(
            [] { return ServerManager::sharedServerManager().status() == ServerManager::kListening; }, 60));
        ASSERT_EQ(TVSXPCServer::sharedXPCServer().startListener(), nullptr);
        TVSXPCServer::sharedXPCServer().startLegacyServer();
        ASSERT_EQ(preferences.setPasscode("24680"), nullptr);
    }

    int linesContaining(const std::string& text) const {
        int n = 0;
        for (const auto& line : logMessages()) n += line.find(text) != std::string::npos;
        return n;
    }

    // A TLS client from another thread while the main loop serves the daemon side: the
    // answer to logging in with `code` ("0" when authorised).
    std::optional<std::string> logIn(const std::string& device, const std::string& code) {
        std::optional<std::string> answer;
        std::atomic<bool> done{false};
        std::thread thread([&] {
            testclient::ProtocolClient client;
            std::string error;
            if (client.connect("127.0.0.1", port_, &error)) answer = client.logIn(device, code, false, &error);
            done = true;
        });
        dispatch::MainLoop::runUntil([&] { return done.load(); }, 60);
        thread.join();
        return answer;
    }

    uint16_t port_ = 0;
};

TEST_F(EmptyPasscodeTest, IsRefusedOnBothRoutesWithALogLineAndAnErrorToTheCaller) {
    // ServiceProtocol: the call's error handler learns of the refusal.
    ServiceCaller caller(TVSXPCServer::kServiceName);
    struct Outcome {
        std::mutex mutex;
        ErrorPtr error;
        bool told = false;
    };
    for (const Value& empty : {Value(""), Value()}) {
        auto outcome = std::make_shared<Outcome>();
        caller.connection()->call("setPasscode:", {empty}, nullptr, [outcome](const ErrorPtr& error) {
            std::lock_guard<std::mutex> lock(outcome->mutex);
            outcome->error = error;
            outcome->told = true;
        });
        ASSERT_TRUE(dispatch::MainLoop::runUntil(
            [&] {
                std::lock_guard<std::mutex> lock(outcome->mutex);
                return outcome->told;
            },
            60));
        std::lock_guard<std::mutex> lock(outcome->mutex);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->code, xpc::Connection::kReplyInvalid);
        EXPECT_NE(outcome->error->message.find("empty"), std::string::npos) << outcome->error->description();
    }
    EXPECT_EQ(caller.call("passcode:"), std::optional<Value>(Value("24680")));
    EXPECT_EQ(linesContaining("Refused to set an empty passcode"), 2);

    // A passcode that is stored: the error handler does not run, and the call is answered.
    auto stored = std::make_shared<Outcome>();
    caller.connection()->call("setPasscode:", {Value("13579")}, nullptr, [stored](const ErrorPtr& error) {
        std::lock_guard<std::mutex> lock(stored->mutex);
        stored->error = error;
        stored->told = true;
    });
    EXPECT_EQ(caller.call("passcode:"), std::optional<Value>(Value("13579")));
    caller.send("setPasscode:", {Value("24680")});
    EXPECT_EQ(caller.call("passcode:"), std::optional<Value>(Value("24680")));
    {
        std::lock_guard<std::mutex> lock(stored->mutex);
        EXPECT_FALSE(stored->told) << (stored->error ? stored->error->description() : std::string());
    }

    // The older route: the answer carries the error; a missing passcode is refused alike.
    auto legacy = std::make_shared<LegacyCaller>();
    ErrorPtr error;
    ASSERT_TRUE(legacy->connect(TVSXPCServer::kLegacySocketPath, &error)) << error->description();
    for (ValueDictionary fields : {ValueDictionary{{"passcode", Value("")}}, ValueDictionary{}}) {
        auto answer = legacy->ask("setpasscode", fields);
        ASSERT_TRUE(answer);
        EXPECT_EQ((*answer)["key"], Value("setpasscode"));
        EXPECT_NE((*answer)["error"].stringValue().find("empty"), std::string::npos) << answer->description();
    }
    EXPECT_EQ(linesContaining("Refused to set an empty passcode"), 4);
    EXPECT_EQ((*legacy->ask("passcode"))["passcode"], Value("24680"));
    // A stored one is answered without an error.
    auto answer = legacy->ask("setpasscode", {{"passcode", Value("97531")}});
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->has("error")) << answer->description();
    legacy->ask("setpasscode", {{"passcode", Value("24680")}});
    legacy->close();

    // The daemon's passcode is the one it had: a client logs in with it, not with nothing.
    EXPECT_EQ(logIn("EMPTY-PASSCODE-DEVICE", "24680"), std::optional<std::string>("0"));
    EXPECT_NE(logIn("EMPTY-PASSCODE-OTHER", ""), std::optional<std::string>("0"));
}

}  // namespace
}  // namespace telvo
