// SMART health and RAID sets through the running daemon on this machine (smoke): with no
// SMART-capable drive and no RAID set, "smart" and "raid" come back empty, "softraid" and
// "corestorage" as empty stat elements, and the daemon runs on; a client that names the
// current session of a session-based collector gets no element for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "DaemonProgramFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

// The stat element of that type, with its "id" and "session" numbers written as "N".
std::string statElement(const std::string& payload, const std::string& type) {
    const std::string open = "<stat type=\"" + type + "\"";
    size_t at = payload.find(open);
    if (at == std::string::npos) return "";
    size_t end = payload.find("</stat>", at);
    std::string element = end == std::string::npos ? payload.substr(at) : payload.substr(at, end + 7 - at);
    if (size_t selfClosed = element.find("/>"); end == std::string::npos || selfClosed < element.find('>'))
        element = element.substr(0, element.find("/>") + 2);
    return std::regex_replace(element, std::regex("(id|session)=\"[0-9]+\""), "$1=\"N\"");
}

std::string sessionOf(const std::string& payload, const std::string& type) {
    const std::string open = "<stat type=\"" + type + "\"";
    size_t at = payload.find(open);
    if (at == std::string::npos) return "";
    std::smatch m;
    const std::string head = payload.substr(at, payload.find('>', at) - at);
    return std::regex_search(head, m, std::regex("session=\"([0-9]+)\"")) ? m[1].str() : "";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class HealthDaemonTest : public telvo::testing::DaemonProgramFixture {
protected:
    void connect(ProtocolClient& client, bool remembered = false) { logIn(client, "HEALTH-DEVICE", remembered); }
};

}  // namespace

TEST_F(HealthDaemonTest, EmptyHealthAndRaidListsOnThisMachine) {
    bool sataOrNvme = false;
    std::error_code ec;
    for (const auto& d : std::filesystem::directory_iterator("/sys/block", ec)) {
        const std::string name = d.path().filename().string();
        if (name.compare(0, 2, "sd") == 0 || name.compare(0, 4, "nvme") == 0) sataOrNvme = true;
        if (name.compare(0, 2, "md") == 0 && std::filesystem::exists(d.path() / "md"))
            GTEST_SKIP() << "SKIPPED LOUDLY: this machine has md RAID sets; the empty lists cannot be checked";
    }
    if (sataOrNvme) GTEST_SKIP() << "SKIPPED LOUDLY: this machine has SATA or NVMe drives; see the SMART smoke test";
    start();
    ProtocolClient client;
    connect(client);
    ASSERT_TRUE(client.send(ProtocolClient::statRequest("smart,raid,softraid,corestorage")));
    auto reply = client.readStatReply();
    ASSERT_TRUE(reply);
    std::string text;
    for (const char* type : {"smart", "raid", "softraid", "corestorage"}) text += statElement(reply->payload, type) + "\n";
    const std::string golden = readFile(std::string(TELVO_TEST_DATA_DIR) + "/health-empty.xml");
    if (std::getenv("TELVO_UPDATE_GOLDEN")) std::ofstream(std::string(TELVO_TEST_DATA_DIR) + "/health-empty.xml") << text;
    EXPECT_EQ(text, golden) << reply->payload;

    // Naming the current session: the session-based collector is left out. Every disk event
    // (other programs' loop devices come and go meanwhile) starts a RAID scan, which raises the
    // session: then the element is sent again, with a greater session, which is named next.
    std::string raid = sessionOf(reply->payload, "raid");
    ASSERT_FALSE(raid.empty());
    bool withheld = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!withheld && std::chrono::steady_clock::now() < deadline) {
        const std::string request = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"><stat type=\"raid\" "
                                    "samples=\"0\" session=\"" + raid + "\"></stat><stat type=\"smart\" samples=\"0\">"
                                    "</stat></tvx>";
        ASSERT_TRUE(client.send(request));
        reply = client.readStatReply();
        ASSERT_TRUE(reply);
        EXPECT_NE(reply->payload.find("type=\"smart\""), std::string::npos) << reply->payload;
        withheld = reply->payload.find("type=\"raid\"") == std::string::npos;
        if (withheld) break;
        const std::string now = sessionOf(reply->payload, "raid");
        ASSERT_FALSE(now.empty()) << reply->payload;
        ASSERT_GT(std::stoll(now), std::stoll(raid)) << "sent again under the session named: " << reply->payload;
        raid = now;
    }
    EXPECT_TRUE(withheld) << "the RAID element was sent with every reply for 60 s: " << reply->payload;
    EXPECT_EQ(kill(pid_, 0), 0) << "the daemon runs on";
}
