#pragma once
// Shared pieces of the logging tests: a temporary file-system root with a fixed application
// name, directory and file helpers, and a logger that records what it is given.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>
#include "foundation/logging/DDAbstractLogger.h"
#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileInfo.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "platform/fs/Root.h"
#include "platform/process/ProcessIdentity.h"
#include "platform/time/Clock.h"

namespace telvo::logtest {

inline const std::string kAppName = "com.kestro.telvoserver.test";

// Every test runs under a fresh temporary root; logical "/Logs" is <root>/Logs.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvo-logging-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::setRootForTesting(root_);
        platform::ProcessIdentity::setBundleIdentifier(kAppName);
        DDLogFileManagerDefault::resetForTesting();
        DDFileLogger::resetForTesting();
        DDLogFileInfo::setExtendedAttributesUnavailableForTesting(false);
    }
    void TearDown() override {
        DDLog::resetForTesting();
        platform::Clock::useReal();
        DDLogFileInfo::setExtendedAttributesUnavailableForTesting(false);
        platform::ProcessIdentity::resetForTesting();
        DDLogFileManagerDefault::resetForTesting();
        fs::setRootForTesting("");
        std::string command = "rm -rf '" + root_ + "'";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
    }

    std::string host(const std::string& logical) const { return root_ + logical; }

    std::string root_;
};

inline std::vector<std::string> listDirectory(const std::string& hostDir) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(hostDir.c_str())) {
        while (auto* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void touchHostFile(const std::string& path, const std::string& contents = "") {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

inline DDLogMessagePtr makeMessage(const std::string& text) {
    return std::make_shared<const DDLogMessage>(text, DDLogLevelAll, DDLogFlagInfo, 0, __FILE__, __func__, __LINE__,
                                                std::any(), 0);
}

// Hands one record straight to a logger on its queue, as the core would.
inline void deliver(const std::shared_ptr<DDAbstractLogger>& logger, const std::string& text) {
    auto message = makeMessage(text);
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

// Writes lines without a time stamp, so file contents are exactly the records.
class PlainFormatter : public DDLogFormatter {
public:
    std::optional<std::string> formatLogMessage(const DDLogMessage& m) override { return m.logMsg(); }
};

class RecordingLogger : public DDAbstractLogger {
public:
    explicit RecordingLogger(std::string name = "RecordingLogger") : DDAbstractLogger(std::move(name)) {}
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(message->logMsg());
        onLoggerQueue_ = onLoggerQueue_ && isOnInternalLoggerQueue();
    }
    void didAddLogger() override { added_ = isOnInternalLoggerQueue() ? 1 : -1; }
    void willRemoveLogger() override { removed_ = isOnInternalLoggerQueue() ? 1 : -1; }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    bool allOnLoggerQueue() {
        std::lock_guard<std::mutex> lock(mutex_);
        return onLoggerQueue_;
    }
    std::atomic<int> added_{0};
    std::atomic<int> removed_{0};

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
    bool onLoggerQueue_ = true;
};

}  // namespace telvo::logtest
