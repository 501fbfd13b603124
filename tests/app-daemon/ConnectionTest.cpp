// The main window against the real daemon: the clients table and the connection image through
// a daemon kill and restart, a launch with no daemon, and a daemon that stops answering.
#include <signal.h>

#include <chrono>

#include "AppDaemonFixture.h"
#include "ProtocolClient.h"
#include "app/connection/TVSXPCConnection.h"

namespace telvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const std::vector<std::string> kFour = {"SettingsUpdated", "PasscodeUpdated", "UpnpUpdated", "SocketUpdated"};

std::unique_ptr<testclient::ProtocolClient> logIn(uint16_t port, const std::string& passcode) {
    auto client = std::make_unique<testclient::ProtocolClient>();
    std::string error;
    EXPECT_TRUE(client->connect("127.0.0.1", port, &error)) << error;
    EXPECT_EQ(client->logIn("APP-HARNESS-DEVICE", passcode, false, &error), std::optional<std::string>("0")) << error;
    return client;
}

class AppConnectionTest : public AppDaemonTest {};

TEST_F(AppConnectionTest, ClientRowThroughDaemonKillAndRestart) {
    ASSERT_TRUE(startDaemon());
    startApp();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; })) << statusImage().toStdString();
    EXPECT_EQ(posted(), kFour);

    auto client = logIn(port_, passcode());
    // The list may first show the connection under its address: its details come after it.
    ASSERT_TRUE(waitFor([&] { return rows().size() == 1 && rows()[0][1] == "telvo-client"; }))
        << (rows().empty() ? std::string("no row") : rows()[0][1]);
    std::vector<std::string> row = rows()[0];
    EXPECT_EQ(row[0], "127.0.0.1");
    EXPECT_EQ(row[1], "telvo-client");
    EXPECT_TRUE(row[2].size() > 2 && row[2].substr(row[2].size() - 2) == "KB") << row[2];
    EXPECT_EQ(row[3].rfind("0d, 0h, 0m, ", 0), 0u) << row[3];
    EXPECT_EQ(row[3].back(), 's');
    screenshot("main-connected");

    // SIGKILL: the table empties and the image shows the drop within 1.5 s.
    auto killed = Clock::now();
    killDaemon();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "notconnected" && rows().empty(); }, 10));
    EXPECT_LT(since(killed), 1.5);
    screenshot("main-notconnected");

    // A restarted daemon: connected again within 3 s of listening, the four notifications in
    // order, and a new client's row.
    clearPosted();
    client.reset();
    ASSERT_TRUE(startDaemon());
    auto listening = Clock::now();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 10));
    EXPECT_LT(since(listening), 3.0);
    EXPECT_EQ(posted(), kFour);
    auto second = logIn(port_, passcode());
    EXPECT_TRUE(waitFor([&] { return rows().size() == 1 && rows()[0][1] == "telvo-client"; }));
}

TEST_F(AppConnectionTest, NoDaemonAtLaunchThenOneThatListens) {
    startApp();
    serveFor(2.5);
    EXPECT_EQ(statusImage(), "notconnected");
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(rows().empty());
    // One line about the outage, however many tries.
    size_t lines = 0;
    for (const std::string& line : systemLog()) lines += line.find("Cannot connect to the daemon: ") == 0;
    EXPECT_EQ(lines, 1u);

    ASSERT_TRUE(startDaemon());
    auto listening = Clock::now();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 10));
    EXPECT_LT(since(listening), 3.0);
    EXPECT_EQ(posted(), kFour);
}

TEST_F(AppConnectionTest, StoppedDaemonTimesThePollOutAndLateRepliesAreDropped) {
    ASSERT_TRUE(startDaemon());
    startApp();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));
    auto client = logIn(port_, passcode());
    ASSERT_TRUE(waitFor([&] { return rows().size() == 1; }));
    auto& connection = app::TVSXPCConnection::sharedXPCConnection();

    signalDaemon(SIGSTOP);
    // A request waits, is given up after 3 s, and the next one follows: two or more are given
    // up within 8 s while the table keeps its row.
    ASSERT_TRUE(waitFor([&] { return delegate().pollRoundsTimedOut() >= 2; }, 20));
    EXPECT_EQ(rows().size(), 1u);
    EXPECT_EQ(statusImage(), "connected");

    signalDaemon(SIGCONT);
    // The answers to the given-up requests arrive and are dropped; the poll goes on.
    ASSERT_TRUE(waitFor([&] { return connection.droppedReplies() >= 2; }, 20));
    int resets = delegate().clients().resets();
    EXPECT_TRUE(waitFor([&] { return delegate().clients().resets() >= resets + 2; }, 20));
    EXPECT_EQ(rows().size(), 1u);
}


// A device names itself before it proves anything: whatever it sends is shown as one line of
// plain text in its own cell.
TEST_F(AppConnectionTest, HostileDeviceNamesShowAsOneLineOfPlainText) {
    ASSERT_TRUE(startDaemon());
    startApp();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));

    struct Case {
        std::string sent;  // as it stands in the attribute (entities are the daemon's to decode)
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"Evil&#10;127.0.0.9&#13;second", "Evil\xEF\xBF\xBD" "127.0.0.9\xEF\xBF\xBD" "second"},
        {"tab&#9;del&#127;end", "tab\xEF\xBF\xBD" "del\xEF\xBF\xBD" "end"},
        {"&lt;b&gt;bold&lt;/b&gt;&amp;amp;co", "<b>bold</b>&co"},
        {"\xE2\x80\xAE" "evil\xE2\x80\xA8line\xC2\x85" "end", "\xE2\x80\xAE" "evil\xEF\xBF\xBDline\xEF\xBF\xBD" "end"},
    };
    std::vector<std::unique_ptr<testclient::ProtocolClient>> clients;
    for (const Case& c : cases) {
        auto client = std::make_unique<testclient::ProtocolClient>();
        std::string error;
        ASSERT_TRUE(client->connect("127.0.0.1", port_, &error)) << error;
        ASSERT_TRUE(client->send(testclient::ProtocolClient::hello(false)));
        ASSERT_TRUE(client->send("<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"101\" uuid=\"HOSTILE-" +
                                 std::to_string(clients.size()) + "\" version=\"1.0\" name=\"" + c.sent + "\"></tvx>"));
        clients.push_back(std::move(client));
    }
    auto shown = [&](const std::string& name) {
        for (const auto& row : rows())
            if (row[1] == name) return true;
        return false;
    };
    for (const Case& c : cases)
        EXPECT_TRUE(waitFor([&] { return shown(c.shown); }, 30)) << c.shown;
    for (const auto& row : rows()) {
        for (const std::string& cell : row) {
            for (unsigned char ch : cell) EXPECT_FALSE(ch < 0x20 || ch == 0x7f) << cell;
            EXPECT_EQ(cell.find("\xE2\x80\xA8"), std::string::npos) << cell;
        }
    }
    screenshot("main-hostile-names");
}

}  // namespace
}  // namespace telvo::testing
