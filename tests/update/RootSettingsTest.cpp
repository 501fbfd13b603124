// The root-owned settings file: believed only when it is a regular file of root's that no one else
// may write, read through one descriptor that never follows a link and never blocks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "HttpsTestServer.h"
#include "platform/fs/Root.h"
#include "update/RootSettings.h"

namespace telvo::update::test {
namespace {

constexpr const char* kPath = "/etc/telvo/test.plist";
const std::string kSettings =
    "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>UpdateFeed</key>"
    "<string>https://127.0.0.1/feed</string></dict></plist>";

class RootSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTemporaryFolder("telvo-settings-");
        ASSERT_FALSE(root.empty());
        fs::setRootForTesting(root);
        fs::createDirectories(root + "/etc/telvo", 0755);
        file = root + kPath;
    }
    void TearDown() override {
        fs::setRootForTesting("");
        removeTree(root);
    }
    void writeSettings(unsigned mode) {
        writeText(file, kSettings);
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
    }
    std::string root;
    std::string file;
};

TEST_F(RootSettingsTest, ReadsARootOwnedFileOnlyRootMayWrite) {
    EXPECT_TRUE(readRootSettings(kPath).isNull()) << "missing file";
    for (unsigned mode : {0644u, 0600u, 0400u}) {
        writeSettings(mode);
        EXPECT_EQ(readRootSettings(kPath)["UpdateFeed"].string(), "https://127.0.0.1/feed") << std::oct << mode;
    }
}

TEST_F(RootSettingsTest, IgnoresFilesSomeoneElseCouldHaveWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make root-owned and user-owned files";
    const std::string elsewhere = root + "/elsewhere.plist";
    writeText(elsewhere, kSettings);
    ::chmod(elsewhere.c_str(), 0644);
    struct Case {
        const char* what;
        void (*make)(const std::string& file, const std::string& elsewhere);
    };
    const Case cases[] = {
        {"group-writable", [](const std::string& f, const std::string&) { writeText(f, kSettings); ::chmod(f.c_str(), 0664); }},
        {"writable by all", [](const std::string& f, const std::string&) { writeText(f, kSettings); ::chmod(f.c_str(), 0646); }},
        {"owned by a user",
         [](const std::string& f, const std::string&) {
             writeText(f, kSettings);
             ::chmod(f.c_str(), 0644);
             ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
         }},
        {"a link to a trusted file", [](const std::string& f, const std::string& e) { ASSERT_EQ(::symlink(e.c_str(), f.c_str()), 0); }},
        {"a folder", [](const std::string& f, const std::string&) { ASSERT_EQ(::mkdir(f.c_str(), 0755), 0); }},
        // A reader that blocked on it would hang the program at start-up.
        {"a pipe", [](const std::string& f, const std::string&) { ASSERT_EQ(::mkfifo(f.c_str(), 0644), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        removeTree(file);
        c.make(file, elsewhere);
        EXPECT_TRUE(readRootSettings(kPath).isNull());
    }
}

TEST_F(RootSettingsTest, ALargerFileThanTheLimitReadsAsNoSettings) {
    std::string big = kSettings;
    big.insert(big.find("</dict>"), "<key>Pad</key><string>" + std::string(kRootSettingsLimit, 'x') + "</string>");
    writeText(file, big);
    ::chmod(file.c_str(), 0644);
    EXPECT_TRUE(readRootSettings(kPath).isNull());
}

}  // namespace
}  // namespace telvo::update::test
