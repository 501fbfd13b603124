#pragma once
// Test fixture for the history files: a temporary root holding the daemon's databases
// folder, the virtual clock, and sqlite3 run on the real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>

#include "collectors/framework/StatCollector.h"
#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"

namespace telvo::fwtest {

inline const std::string kLocalDB = "/Library/Application Support/Telvo Server/databases/local.db";
inline const std::string kLongTermDB = "/Library/Application Support/Telvo Server/databases/longterm.db";

class HistoryFixture : public ::testing::Test {
protected:
    static constexpr double kStart = 1700000000.0;

    void SetUp() override {
        // A memory file system where there is one: the simulated days commit thousands of
        // transactions, and their syncs would dominate the run on a disk.
        struct stat st;
        std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/telvo-framework-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        fs::setRootForTesting(root_);
        ASSERT_TRUE(fs::createDirectories("/Library/Application Support/Telvo Server/databases"));
        platform::Clock::useVirtual(kStart + 0.5);
        HistoryDatabaseController::resetForTesting();
        FILE* probe = popen("sqlite3 -version", "r");
        char buf[64] = {};
        ASSERT_TRUE(probe && fgets(buf, sizeof buf, probe)) << "sqlite3 is needed to check the history files";
        pclose(probe);
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        HistoryDatabaseController::resetForTesting();
        fs::setRootForTesting("");
        platform::Clock::useReal();
        std::string cmd = "rm -rf '" + root_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
    }

    // What the daemon's controller does at start.
    void startCollector(StatCollector& c, bool longTerm = true) {
        c.setDbpath(kLocalDB);
        if (longTerm) c.setDbpathLong(kLongTermDB);
        c.prepareDatabase(false);
        c.loadPreviousSamples();
        c.fillGaps();
        c.startLogging();
    }
    // Waits for every queued write of the open files to be committed.
    void flush() { ASSERT_TRUE(HistoryDatabaseController::sharedHistoryDatabaseController().commitAllSync()); }

    // The writes queued for a file, once the queue has taken every record handed to it.
    std::vector<HistoryWriteRecord> pendingWrites(const std::string& path) {
        auto file = databaseItemWithPath(path);
        file->queryDatabase([](const FMDatabasePtr&) {});
        return file->queries();
    }

    // sqlite3's answer (list mode, "|" between columns, lines joined by "\n", no final "\n").
    std::string sql(const std::string& file, const std::string& query) {
        std::string cmd = "sqlite3 -batch -cmd '.timeout 30000' '" + fs::resolve(file) + "' \"" + query + "\" 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[4096];
        while (p && fgets(buf, sizeof buf, p)) out += buf;
        if (p) pclose(p);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    long sqlNumber(const std::string& file, const std::string& query) { return std::atol(sql(file, query).c_str()); }

    std::string root_;
};

}  // namespace telvo::fwtest
