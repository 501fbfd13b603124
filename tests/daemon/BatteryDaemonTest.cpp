// The daemon program on this machine answers a "battery" request with one item per power
// source and Bluetooth peripheral battery the kernel lists: on a machine without any, an
// empty "battery" element.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DaemonFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/power/HIDBatteries.h"
#include "platform/power/PowerSources.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

const char* kProgram = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";

class BatteryDaemonTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        port_ = telvo::testing::freePort();
        fs::createDirectories("/Library/Preferences");
        ValueDictionary prefs{{"port", Value(int(port_))}, {"bonjour enabled", Value(0)}};
        ASSERT_TRUE(plist::writeFile(Value(prefs), TVSPreferences::kPath));
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        DaemonFixture::TearDown();
    }
    std::string logText() const {
        std::ifstream in(host(Controller::kLogPath));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(BatteryDaemonTest, ServesThisMachinesBatteries) {
    ASSERT_TRUE(std::filesystem::exists(kProgram)) << kProgram;
    pid_ = fork();
    if (pid_ == 0) {
        setenv("TELVO_ROOT", root_.c_str(), 1);
        setenv("TELVO_NETSTATE_FILE", "/nonexistent", 1);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        execl(kProgram, kProgram, nullptr);
        _exit(127);
    }
    ASSERT_GT(pid_, 0);
    const std::string ready = ": Waiting for connections on port " + std::to_string(port_) + ".\n";
    for (int i = 0; i < 3000 && logText().find(ready) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(logText().find(ready), std::string::npos) << logText();

    TVSKeychain::resetForTesting();
    TVSPreferences::resetForTesting();
    const std::string code = TVSPreferences::sharedPreferences().passcode().value_or("");
    ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn("BATTERY-DEVICE", code, false, &error), "0") << error;

    // The first battery sample is taken on the first tick; ask until it is there.
    std::string payload;
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_TRUE(client.send(ProtocolClient::statRequest("battery")));
        auto reply = client.readStatReply();
        ASSERT_TRUE(reply);
        payload = reply->payload;
        const size_t id = payload.find("<stat type=\"battery\" interval=\"0\" id=\"");
        ASSERT_NE(id, std::string::npos) << payload;
        if (std::atoi(payload.c_str() + id + 38) >= 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const size_t expected = power::PowerSources().read().descriptions.size() + power::HIDBatteries().read().size();
    EXPECT_EQ(count(payload, "<item "), expected) << payload;
    if (expected == 0) {
        EXPECT_NE(payload.find("\"></stat>"), std::string::npos) << "an empty battery element: " << payload;
    }
}

}  // namespace
