// The system-log call: formatted lines reach the capture hook in place of syslog, and without
// a hook they reach syslog with a copy on standard error.
#include <gtest/gtest.h>
#include <mutex>
#include <vector>
#include "platform/systemlog/SystemLog.h"

namespace telvo {
namespace {

TEST(SystemLogTest, LinesGoToTheCaptureHookOrToSyslogWithACopyOnStandardError) {
    std::mutex mutex;
    std::vector<std::string> lines;
    systemlog::setCaptureForTesting([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    SystemLog("Update available %li %li", 271L, 3L);
    SystemLog("%@", "installation failed");
    EXPECT_EQ(lines, (std::vector<std::string>{"Update available 271 3", "installation failed"}));

    systemlog::setCaptureForTesting(nullptr);
    ::testing::internal::CaptureStderr();
    SystemLog("helper not installed");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("helper not installed"), std::string::npos) << err;
    EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
}  // namespace telvo
