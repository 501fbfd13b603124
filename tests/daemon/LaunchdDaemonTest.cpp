// The daemon under the system launcher: its job file under the root, started at load,
// answering TLS on its port and its control service on the socket the launcher made, and
// stopped by "launchctl unload" with exit status 0 and its history committed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "DaemonProgramFixture.h"
#include "FreePort.h"
#include "control/ControlClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSPreferences.h"
#include "platform/launchd/LaunchdProcess.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

const char* kJobPath = "/Library/LaunchDaemons/com.kestro.telvoserverdaemon.plist";
const char* kProgramPath = "/Library/Application Support/Telvo Server/TelvoServerDaemon";

class LaunchdDaemonTest : public DaemonProgramFixture {};

TEST_F(LaunchdDaemonTest, TheDaemonStartsAtLoadServesTLSAndStopsOnUnloadWithItsHistoryCommitted) {
    if (geteuid() != 0) GTEST_SKIP() << "the system launcher runs as root";
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    if (std::system("sqlite3 -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sqlite3 is needed to read the history";
    ASSERT_TRUE(std::filesystem::exists(kDaemonProgram)) << kDaemonProgram;
    const uint16_t port = port_;
    std::filesystem::create_directories(std::filesystem::path(host(kProgramPath)).parent_path());
    // A copy, not a link: the launcher runs no program reached through a link.
    std::filesystem::copy_file(kDaemonProgram, host(kProgramPath));
    Value job(ValueDictionary{
        {"Label", Value("com.kestro.telvoserverdaemon")},
        {"Program", Value(kProgramPath)},
        {"MachServices", Value(ValueDictionary{{"com.kestro.telvoserverdaemon", Value(true)}})},
        {"RunAtLoad", Value(true)},
    });
    writeJob(root_, kJobPath, job);

    // The network the daemon sees: none, so that nothing is asked of a router.
    LaunchdProcess launchd(root_, 0, {}, {"TELVO_NETSTATE_FILE=/nonexistent"});
    ASSERT_TRUE(launchd.start()) << launchd.log();
    std::string ready = ": Waiting for connections on port " + std::to_string(port) + ".\n";
    auto daemonLog = [&] { return readHostFile(host(Controller::kLogPath)); };
    ASSERT_TRUE(waitUntil([&] { return daemonLog().find(ready) != std::string::npos; }, 25))
        << daemonLog() << launchd.log();
    auto started = std::chrono::steady_clock::now();

    std::string tls = commandOutput("echo | timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " 2>&1");
    EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;
    EXPECT_TRUE(std::regex_search(tls, std::regex("Cipher is [A-Z]"))) << tls;
    // The control service answers on the socket the launcher made and handed down.
    {
        ServiceCaller caller("com.kestro.telvoserverdaemon");
        std::optional<Value> passcode = caller.call("passcode:");
        ASSERT_TRUE(passcode) << launchd.log();
        EXPECT_FALSE(passcode->string().empty());
    }

    // Long enough for an hour-level row (one every 6 s) to be queued after the start's commit;
    // only the stop commits it.
    std::this_thread::sleep_until(started + std::chrono::milliseconds(7000));
    CommandResult unload = launchctl(root_, {"unload", kJobPath});
    EXPECT_EQ(unload.status, 0) << unload.output;
    EXPECT_TRUE(launchd.logged("com.kestro.telvoserverdaemon: exited with status 0")) << launchd.log();
    std::string rows = sqlite("/Library/Application Support/Telvo Server/databases/local.db",
                              "select count(*) from hour_cpuhistory where empty = 0;");
    EXPECT_GE(std::atoi(rows.c_str()), 1) << rows;
    EXPECT_EQ(launchd.stop(), 0);
}

}  // namespace
