// The daemon's log file rolls to "<name>.1" past its limit and goes on under its own name.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/DaemonLogFile.h"
#include "foundation/ServerLog.h"

using namespace telvo;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DaemonLogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvo-logfile-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = dir_ + "/TelvoServer.log";
        stream_ = std::fopen("/dev/null", "w");
        ASSERT_TRUE(stream_);
    }
    void TearDown() override {
        setDaemonLogStream(nullptr);
        DaemonLogFile::resetForTesting();
        if (stream_) std::fclose(stream_);
        std::filesystem::remove_all(dir_);
    }
    std::string dir_, path_;
    FILE* stream_ = nullptr;
};

}  // namespace

TEST_F(DaemonLogFileTest, PastTheLimitTheFileIsRenamedAndANewOneStarted) {
    // An older log is appended to, not replaced.
    std::ofstream(path_) << "earlier line\n";
    ASSERT_TRUE(DaemonLogFile::open(path_, stream_, 2000));
    setDaemonLogStream(stream_);
    const std::string filler(70, 'x');
    for (int i = 0; i < 20; ++i) ServerLog("first %02d %s", i, filler);  // 20 lines of ~100 bytes
    ASSERT_TRUE(std::filesystem::exists(path_ + ".1"));
    std::string rolled = slurp(path_ + ".1");
    EXPECT_EQ(rolled.rfind("earlier line\n", 0), 0u);
    EXPECT_GT(rolled.size(), 2000u);
    EXPECT_LT(rolled.size(), 2200u);  // rolled right after the line that passed the limit
    // The current file holds what came after, and the next roll replaces the older ".1".
    EXPECT_NE(slurp(path_).find("first 19"), std::string::npos);
    for (int i = 0; i < 40; ++i) ServerLog("second %02d %s", i, filler);
    EXPECT_EQ(slurp(path_ + ".1").find("earlier line"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".2"));
    EXPECT_LE(std::filesystem::file_size(path_), 2200u);
    EXPECT_NE(slurp(path_).find("second 39"), std::string::npos);
}

TEST_F(DaemonLogFileTest, ManyWritersNeverPassTheLimitByMoreThanALine) {
    ASSERT_TRUE(DaemonLogFile::open(path_, stream_, 20000));
    setDaemonLogStream(stream_);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) DLog("writer %d line %d %s", t, i, std::string(60, 'a' + t));
        });
    for (auto& thread : threads) thread.join();
    for (const std::string& file : {path_, path_ + ".1"}) {
        std::string text = slurp(file);
        EXPECT_LE(text.size(), 20000u + 8 * 200u) << file;
        // Whole lines only.
        ASSERT_FALSE(text.empty()) << file;
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST_F(DaemonLogFileTest, AFileThatCannotBeOpenedLeavesTheStreamAsItWas) {
    EXPECT_FALSE(DaemonLogFile::open(dir_ + "/missing/folder/TelvoServer.log", stream_, 100));
}

TEST_F(DaemonLogFileTest, NewFilesAreReadableByEveryoneWhateverTheUmask) {
    // The control application reads the log as the user; the daemon may run with umask 077.
    std::ofstream(dir_ + "/Older.log") << "kept\n";
    std::filesystem::permissions(dir_ + "/Older.log", std::filesystem::perms(0600));
    const mode_t old = ::umask(077);
    ASSERT_TRUE(DaemonLogFile::open(path_, stream_, 500));
    setDaemonLogStream(stream_);
    for (int i = 0; i < 20; ++i) ServerLog("line %02d %s", i, std::string(60, 'x'));
    ASSERT_TRUE(DaemonLogFile::open(dir_ + "/Older.log", stream_, 500));
    ::umask(old);
    auto mode = [](const std::string& file) {
        struct stat st {};
        EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
        return st.st_mode & 07777;
    };
    ASSERT_TRUE(std::filesystem::exists(path_ + ".1"));
    EXPECT_EQ(mode(path_ + ".1"), 0644u);  // the first file, rolled
    EXPECT_EQ(mode(path_), 0644u);         // the one the roll made
    EXPECT_EQ(mode(dir_ + "/Older.log"), 0600u);  // an existing file keeps its mode
}
