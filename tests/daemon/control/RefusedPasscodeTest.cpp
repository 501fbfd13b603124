// Passcodes the daemon cannot keep, set through the control service on both routes: an empty
// one, one that would not read back as given, and one the keychain file does not take. Each is
// refused with a log line and an error to the caller, and the passcode in effect stays (a
// client logs in with it).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "daemon/Controller.h"
#include "daemon/DaemonFixture.h"
#include "daemon/FakeCollector.h"
#include "daemon/FreePort.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "daemon/control/ControlClient.h"
#include "daemon/control/TVSXPCServer.h"
#include "platform/dispatch/MainLoop.h"
#include "ProtocolClient.h"
#include "support/ReadOnlyBindMount.h"

namespace telvo {
namespace {

using testing::LegacyCaller;
using testing::ServiceCaller;

class RefusedPasscodeTest : public testing::DaemonFixture {
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

    // Sets `code` through ServiceProtocol: the error the call's handler was given (null when
    // none), learnt once the passcode read afterwards on the same connection was answered.
    struct Outcome {
        ErrorPtr error;
        std::optional<Value> readBack;
    };
    Outcome setThroughService(ServiceCaller& caller, const std::string& code) {
        struct Told {
            std::mutex mutex;
            ErrorPtr error;
        };
        auto told = std::make_shared<Told>();
        caller.connection()->call("setPasscode:", {Value(code)}, nullptr, [told](const ErrorPtr& error) {
            std::lock_guard<std::mutex> lock(told->mutex);
            told->error = error;
        });
        Outcome outcome;
        outcome.readBack = caller.call("passcode:");
        std::lock_guard<std::mutex> lock(told->mutex);
        outcome.error = told->error;
        return outcome;
    }

    uint16_t port_ = 0;
};

TEST_F(RefusedPasscodeTest, AnEmptyOneIsRefusedOnBothRoutesWithALogLineAndAnErrorToTheCaller) {
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

// The keychain keeps at most 1023 bytes of a password, up to a zero byte, and reads bytes
// that are not UTF-8 as no password at all. A passcode it would cut is refused whole rather
// than kept cut (a cut inside a character would leave the daemon without a passcode).
TEST_F(RefusedPasscodeTest, OneThatWouldNotReadBackAsGivenIsRefusedAndOneThatFitsIsKeptWhole) {
    const std::string umlaut = "\xc3\xa4";  // two bytes
    const struct {
        const char* what;
        std::string code;
        bool kept;
    } cases[] = {
        {"1023 ASCII bytes", std::string(1023, 'a'), true},
        {"1021 bytes and a two-byte character ending at byte 1023", std::string(1021, 'b') + umlaut, true},
        {"1024 ASCII bytes", std::string(1024, 'c'), false},
        {"a two-byte character straddling byte 1023", std::string(1022, 'd') + umlaut, false},
        {"a four-byte character straddling byte 1023", std::string(1020, 'e') + "\xf0\x9f\x98\x80", false},
        {"3000 bytes", std::string(3000, 'f'), false},
    };
    ServiceCaller caller(TVSXPCServer::kServiceName);
    int refusals = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(TVSPreferences::sharedPreferences().setPasscode("24680"), nullptr);
        Outcome outcome = setThroughService(caller, c.code);
        ASSERT_TRUE(outcome.readBack);
        if (c.kept) {
            EXPECT_FALSE(outcome.error) << outcome.error->description();
            EXPECT_EQ(outcome.readBack->stringValue(), c.code);
            continue;
        }
        ++refusals;
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code, xpc::Connection::kReplyInvalid);
        EXPECT_NE(outcome.error->message.find("The passcode cannot be kept"), std::string::npos)
            << outcome.error->description();
        EXPECT_EQ(outcome.readBack, std::optional<Value>(Value("24680"))) << "the passcode in effect stays";
    }
    // Text the transports may not carry as it is, refused by the preferences all the same.
    for (const std::string& code : {std::string("135\0" "79", 6), std::string("13\xff" "579")}) {
        ErrorPtr refused = TVSPreferences::sharedPreferences().setPasscode(code);
        ASSERT_TRUE(refused) << "a zero byte or bytes that are not UTF-8 would not read back";
        EXPECT_EQ(TVSPreferences::sharedPreferences().passcode(), std::optional<std::string>("24680"));
        ++refusals;
    }
    EXPECT_EQ(linesContaining("Refused to set the passcode"), refusals);

    // The older route answers the refusal in "error" alike.
    auto legacy = std::make_shared<LegacyCaller>();
    ErrorPtr error;
    ASSERT_TRUE(legacy->connect(TVSXPCServer::kLegacySocketPath, &error)) << error->description();
    auto answer = legacy->ask("setpasscode", {{"passcode", Value(std::string(1022, 'g') + umlaut)}});
    ASSERT_TRUE(answer);
    EXPECT_NE((*answer)["error"].stringValue().find("at most 1023"), std::string::npos) << answer->description();
    EXPECT_EQ((*legacy->ask("passcode"))["passcode"], Value("24680"));
    legacy->close();

    // The longest one kept is the one a client logs in with, every byte of it.
    const std::string longest = std::string(1021, 'h') + umlaut;
    EXPECT_FALSE(setThroughService(caller, longest).error);
    EXPECT_NE(logIn("LONG-PASSCODE-OTHER", longest.substr(0, 1021)), std::optional<std::string>("0"));
    EXPECT_EQ(logIn("LONG-PASSCODE-DEVICE", longest), std::optional<std::string>("0"));
}

// The keychain file on a read-only file system: the new passcode is an error to the caller,
// on both routes, and the one in the file stays in effect; once the file can be written again
// a passcode is stored as usual.
TEST_F(RefusedPasscodeTest, OneTheKeychainFileDoesNotTakeIsAnErrorAndTheOldOneStays) {
    const std::string folder = host("/Library/Application Support/Telvo Server");
    ASSERT_TRUE(std::filesystem::exists(folder + "/TelvoServer.keychain"));
    testing::ReadOnlyBindMount readOnly(folder);
    if (!readOnly.failure().empty()) GTEST_SKIP() << readOnly.failure();

    ServiceCaller caller(TVSXPCServer::kServiceName);
    Outcome outcome = setThroughService(caller, "13579");
    ASSERT_TRUE(outcome.error) << "a passcode that was not stored is no success";
    EXPECT_NE(outcome.error->message.find("The passcode could not be stored"), std::string::npos)
        << outcome.error->description();
    EXPECT_EQ(outcome.readBack, std::optional<Value>(Value("24680")));

    auto legacy = std::make_shared<LegacyCaller>();
    ErrorPtr error;
    ASSERT_TRUE(legacy->connect(TVSXPCServer::kLegacySocketPath, &error)) << error->description();
    auto answer = legacy->ask("setpasscode", {{"passcode", Value("97531")}});
    ASSERT_TRUE(answer);
    EXPECT_NE((*answer)["error"].stringValue().find("could not be stored"), std::string::npos) << answer->description();
    EXPECT_EQ((*legacy->ask("passcode"))["passcode"], Value("24680"));
    EXPECT_EQ(linesContaining("Unable to store the new passcode"), 2);
    EXPECT_FALSE(TVSKeychain::sharedKeychain().hasPendingWrites()) << "nothing waits to overwrite the old one later";

    // Writable again: stored in the file as usual.
    readOnly.undo();
    outcome = setThroughService(caller, "97531");
    EXPECT_FALSE(outcome.error) << outcome.error->description();
    EXPECT_EQ(outcome.readBack, std::optional<Value>(Value("97531")));
    EXPECT_FALSE(TVSKeychain::sharedKeychain().hasPendingWrites());
    legacy->close();
}

}  // namespace
}  // namespace telvo
