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

#include "DaemonProgramFixture.h"
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

class BatteryDaemonTest : public telvo::testing::DaemonProgramFixture {};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(BatteryDaemonTest, ServesThisMachinesBatteries) {
    start();
    ProtocolClient client;
    logIn(client, "BATTERY-DEVICE");

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
