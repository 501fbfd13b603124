// The agent as a program on a private root: its first check (brought forward by
// TELVO_AGENT_FIRST_CHECK) against the HTTPS test server named by a root-owned agent.plist,
// and many version requests leaving its memory flat.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "AgentProcess.h"
#include "HttpsTestServer.h"
#include "agent/AppDelegate.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/notify/DistributedNotificationListener.h"

namespace telvo::agent::test {
namespace {

using update::test::HttpsTestServer;
using update::test::makeTemporaryFolder;
using update::test::readText;
using update::test::removeTree;
using update::test::writeText;

long rssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

bool waitUntil(const std::function<bool()>& predicate, double seconds = 60) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return predicate();
}

TEST(AgentProcessTest, FirstCheckFromTheSettingsFileAndFlatMemoryUnderRequests) {
    const std::string program = std::string(TELVO_BINARY_DIR) + "/programs/TelvoServerAgent/TelvoServerAgent";
    ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
    HttpsTestServer server;
    if (!server.failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server.failure();
    server.setAnswer("/telvoserver3/version.php", "<versions></versions>");
    const std::string root = makeTemporaryFolder("telvo-agent-process-");
    fs::createDirectories(root + "/etc/telvo", 0755);
    writeText(root + "/etc/telvo/ca.pem", readText(server.caFile()));
    writeText(root + AgentSettings::kPath,
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>UpdateFeed</key><string>" +
                  server.url("/telvoserver3/version.php") +
                  "</string><key>UpdateCAFile</key><string>/etc/telvo/ca.pem</string></dict></plist>");
    chmod((root + AgentSettings::kPath).c_str(), 0644);
    fs::setRootForTesting(root);
    notify::DistributedNotificationListener watcher;
    ASSERT_TRUE(watcher.isListening());

    AgentProcess agent(program, root, {{"TELVO_AGENT_FIRST_CHECK", "1"}});
    const pid_t pid = agent.pid();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(watcher.waitFor(AppDelegate::kAvailable, 60));
    EXPECT_TRUE(watcher.waitFor(AppDelegate::kVersionResponse, 60));
    EXPECT_TRUE(waitUntil([&] { return agent.log().find("No Updates 0 270") != std::string::npos; })) << agent.log();
    EXPECT_NE(server.posts().find("version=3.03&build=270&platform=10.13&"), std::string::npos) << server.posts();

    // 10,000 requests, a few at a time (a datagram socket queues only a few); every answer comes
    // and memory stays flat.
    auto& center = notify::DistributedNotificationCenter::defaultCenter();
    long before = 0;
    size_t asked = 0;
    for (int batch = 0; batch < 2000; ++batch) {
        for (int i = 0; i < 5; ++i) center.postNotification(AppDelegate::kVersionRequest);
        asked += 5;
        ASSERT_TRUE(waitUntil([&] { return watcher.count(AppDelegate::kVersionResponse) >= asked + 1; }))
            << watcher.count(AppDelegate::kVersionResponse) << " of " << asked + 1;
        if (batch == 199) before = rssKiB(pid);
    }
    const long after = rssKiB(pid);
#ifndef __SANITIZE_ADDRESS__
    // (AddressSanitizer's quarantine keeps freed memory: flatness is measured without it.)
    EXPECT_LT(after - before, 1024) << before << " kB after 1,000 requests, " << after << " kB after 10,000";
#else
    (void)after;
    (void)before;
#endif
    EXPECT_EQ(watcher.count(AppDelegate::kAvailable), 1u);

    agent.stop();
    fs::setRootForTesting("");
    removeTree(root);
}

}  // namespace
}  // namespace telvo::agent::test
