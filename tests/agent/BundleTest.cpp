// The assembled bundles: the agent inside with its executable named, the agent's job kept
// alive with its service named after the maker's team, and the 3.04 (271) test bundle whose
// agent answers as that version.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AgentProcess.h"
#include "HttpsTestServer.h"
#include "agent/AppDelegate.h"
#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/values/PropertyList.h"

namespace telvo::agent::test {
namespace {

using update::test::makeTemporaryFolder;
using update::test::removeTree;

const std::string kPlugin = "/Contents/Resources/SetupBundle.bundle";
const std::string kAgent = kPlugin + "/Contents/Resources/TelvoServerAgent.app";

struct Expected {
    const char* folder;
    const char* version;
    const char* build;
};

// Starts the bundle's agent on a private root and answers the version response it posts
// unasked at start.
notify::DistributedNotification versionOfAgent(const std::string& program) {
    notify::DistributedNotification response;
    const std::string root = makeTemporaryFolder("telvo-bundle-agent-");
    fs::setRootForTesting(root);
    {
        notify::DistributedNotificationListener watcher;
        EXPECT_TRUE(watcher.isListening());
        AgentProcess agent(program, root);
        EXPECT_GT(agent.pid(), 0);
        EXPECT_TRUE(watcher.waitFor(AppDelegate::kVersionResponse, 60, &response)) << agent.log();
    }
    fs::setRootForTesting("");
    removeTree(root);
    return response;
}

TEST(BundleTest, TheAgentIsInsideBothBundlesAsItsOwnVersion) {
    const Expected bundles[] = {{TELVO_BUNDLE_DIR, "3.03", "270"}, {TELVO_TEST_BUNDLE_DIR, "3.04", "271"}};
    for (const auto& b : bundles) {
        SCOPED_TRACE(b.folder);
        const std::string app = std::string(b.folder) + "/Telvo Server.app";
        Value info = plist::readFile(app + "/Contents/Info.plist");
        EXPECT_EQ(info["CFBundleShortVersionString"].string(), b.version);
        EXPECT_EQ(info["CFBundleVersion"].string(), b.build);
        Value agentInfo = plist::readFile(app + kAgent + "/Contents/Info.plist");
        EXPECT_EQ(agentInfo["CFBundleExecutable"].string(), "TelvoServerAgent");
        EXPECT_EQ(agentInfo["CFBundleIdentifier"].string(), "com.kestro.telvoserveragent");
        EXPECT_EQ(agentInfo["CFBundleVersion"].string(), b.build);

        Value job = plist::readFile(app + kPlugin + "/Contents/Resources/com.kestro.telvoserveragent.plist");
        EXPECT_EQ(job["Label"].string(), "com.kestro.telvoserveragent");
        EXPECT_EQ(job["Program"].string(),
                  "/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/MacOS/TelvoServerAgent");
        EXPECT_TRUE(job["KeepAlive"].boolValue());
        EXPECT_TRUE(job["RunAtLoad"].boolValue());
        EXPECT_EQ(job["LimitLoadToSessionType"].string(), "Aqua");
        ASSERT_TRUE(job["MachServices"].isDictionary());
        EXPECT_EQ(job["MachServices"].dictionary().size(), 1u);
        EXPECT_TRUE(job["MachServices"][std::string(TELVO_MAKER_TEAM) + ".com.kestro.telvo.server.agent"].boolValue());

        const std::string program = app + kAgent + "/Contents/MacOS/TelvoServerAgent";
        struct stat st;
        ASSERT_EQ(stat(program.c_str(), &st), 0) << program;
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        notify::DistributedNotification response = versionOfAgent(program);
        EXPECT_EQ(response.userInfo["version"].doubleValue(), double(std::stof(b.version))) << b.version;
        EXPECT_EQ(response.userInfo["build"].intValue(), std::stoi(b.build));
    }
}

}  // namespace
}  // namespace telvo::agent::test
