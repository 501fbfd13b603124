// The keychain's import diagnostics go to the system log, never to the daemon log.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "DaemonFixture.h"
#include "daemon/TVSKeychain.h"
#include "platform/systemlog/SystemLog.h"

using namespace telvo;

namespace {

using KeychainSystemLogTest = telvo::testing::DaemonFixture;

TEST_F(KeychainSystemLogTest, MakingAnIdentityLogsTheImportToTheSystemLogOnly) {
    std::mutex mutex;
    std::vector<std::string> lines;
    systemlog::setCaptureForTesting([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    TVSKeychain::sharedKeychain().createNewIdentity();
    systemlog::setCaptureForTesting(nullptr);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "OSStatus: 0");
    EXPECT_EQ(lines[1].rfind("SecExternalFormat: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("SecExternalItemType: ", 0), 0u) << lines[2];
    EXPECT_NE(lines[3].find("<SecIdentity \"TelvoServer2"), std::string::npos) << lines[3];
    for (const std::string& message : logMessages()) EXPECT_EQ(message.find("OSStatus"), std::string::npos) << message;
}

}  // namespace
