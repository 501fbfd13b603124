#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace fs = telvo::fs;

namespace {

class RootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvo-root-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        fs::setRootForTesting(folder_);
        const char* home = std::getenv("HOME");
        savedHome_ = home ? home : "";
        hadHome_ = home != nullptr;
        setenv("HOME", "/home/tester", 1);
    }
    void TearDown() override {
        fs::setRootForTesting("");
        if (hadHome_) setenv("HOME", savedHome_.c_str(), 1);
        else unsetenv("HOME");
        std::filesystem::remove_all(folder_);
    }
    std::string folder_;
    std::string savedHome_;
    bool hadHome_ = false;
};

}  // namespace

TEST_F(RootTest, ResolutionCases) {
    const std::string r = folder_;
    struct Case {
        std::string path;
        std::string expected;
    } cases[] = {
        {"/Library/Logs/TelvoServer.log", r + "/Library/Logs/TelvoServer.log"},
        {"/tmp/tvs3.socket", r + "/tmp/tvs3.socket"},
        {"/Library/Application Support/Telvo Server/", r + "/Library/Application Support/Telvo Server/"},
        {"/", r + "/"},
        {"//Library//Preferences", r + "/Library/Preferences"},
        {"/Library/./Logs/../Preferences/x.plist", r + "/Library/Preferences/x.plist"},
        // ".." never climbs out of the root.
        {"/../../etc/passwd", r + "/etc/passwd"},
        {"~/Library/Logs/Telvo Server/SetupBundle", "/home/tester/Library/Logs/Telvo Server/SetupBundle"},
        {"~", "/home/tester"},
        {"~other/x", "~other/x"},
        {"relative/path", "relative/path"},
        {"", ""},
        // A path resolved before is not moved again.
        {r + "/Library/x", r + "/Library/x"},
        {r + "/../x", r + "/x"},
    };
    for (const auto& c : cases) EXPECT_EQ(fs::resolve(c.path), c.expected) << c.path;
}

TEST_F(RootTest, RootFromEnvironmentAndDefault) {
    fs::setRootForTesting("");
    const char* saved = std::getenv("TELVO_ROOT");
    std::string savedValue = saved ? saved : "";
    unsetenv("TELVO_ROOT");
    EXPECT_EQ(fs::root(), "/");
    EXPECT_EQ(fs::resolve("/Library/x"), "/Library/x");
    setenv("TELVO_ROOT", "/srv/telvo/", 1);
    EXPECT_EQ(fs::root(), "/srv/telvo");
    EXPECT_EQ(fs::resolve("/tmp/tvs3.socket"), "/srv/telvo/tmp/tvs3.socket");
    // The testing root wins over the environment.
    fs::setRootForTesting(folder_ + "/");
    EXPECT_EQ(fs::root(), folder_);
    if (saved) setenv("TELVO_ROOT", savedValue.c_str(), 1);
    else unsetenv("TELVO_ROOT");
}

TEST_F(RootTest, FileHelpersWorkUnderTheRoot) {
    EXPECT_FALSE(fs::exists("/Library/Preferences"));
    ASSERT_TRUE(fs::createDirectories("/Library/Preferences", 0750));
    EXPECT_TRUE(fs::isDirectory("/Library/Preferences"));
    EXPECT_TRUE(std::filesystem::is_directory(folder_ + "/Library/Preferences"));
    EXPECT_TRUE(fs::createDirectories("/Library/Preferences"));  // existing is fine

    ASSERT_TRUE(fs::writeFileAtomically("/Library/Preferences/a.txt", "first", 0600));
    ASSERT_TRUE(fs::writeFileAtomically("/Library/Preferences/a.txt", std::string("sec\0ond", 7)));
    std::string contents;
    ASSERT_TRUE(fs::readFile("/Library/Preferences/a.txt", contents));
    EXPECT_EQ(contents, std::string("sec\0ond", 7));
    struct stat st {};
    ASSERT_EQ(stat((folder_ + "/Library/Preferences/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // No temporary file is left beside it.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(folder_ + "/Library/Preferences")) (void)e, ++files;
    EXPECT_EQ(files, 1);

    EXPECT_FALSE(fs::isDirectory("/Library/Preferences/a.txt"));
    EXPECT_FALSE(fs::createDirectories("/Library/Preferences/a.txt/sub"));
    ASSERT_TRUE(fs::removeFile("/Library/Preferences/a.txt"));
    EXPECT_FALSE(fs::removeFile("/Library/Preferences/a.txt"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(fs::readFile("/Library/Preferences/a.txt", contents));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(contents.empty());
    // Writing into a missing folder fails and creates nothing.
    EXPECT_FALSE(fs::writeFileAtomically("/missing/b.txt", "x"));
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/missing"));
}

// A FIFO (also behind a link), a device, a folder or a file past the limit is refused at once,
// with its own errno, without blocking and without reading it whole.
TEST_F(RootTest, ReadingRefusesWhatIsNoRegularFileOrTooLargeWithoutBlocking) {
    ASSERT_EQ(::mkfifo((folder_ + "/fifo").c_str(), 0644), 0);
    std::filesystem::create_symlink(folder_ + "/fifo", folder_ + "/link-to-fifo");
    std::filesystem::create_directories(folder_ + "/folder");
    {
        int f = ::open((folder_ + "/sparse").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(f, 0);
        ASSERT_EQ(::ftruncate(f, off_t(2) << 30), 0);  // 2 GiB of nothing
        ::close(f);
    }
    {
        int f = ::open((folder_ + "/small").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::write(f, "0123456789", 10), 10);
        ::close(f);
    }
    struct Case {
        const char* path;
        size_t limit;
        int err;
    };
    const Case cases[] = {
        {"/fifo", fs::kReadFileLimit, EINVAL},     {"/link-to-fifo", fs::kReadFileLimit, EINVAL},
        {"/folder", fs::kReadFileLimit, EISDIR},   {"/sparse", fs::kReadFileLimit, EFBIG},
        {"/small", 9, EFBIG},                      {"/small", 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto reading = std::async(std::launch::async, [&] {
            std::string contents;
            bool ok = fs::readFile(c.path, contents, c.limit);
            return std::make_pair(ok ? 0 : errno, contents.size());
        });
        if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Let the blocked open go, so that the test ends with its failure.
            int w = ::open((folder_ + "/fifo").c_str(), O_WRONLY | O_NONBLOCK);
            ADD_FAILURE() << "the read blocked";
            reading.wait();
            if (w >= 0) ::close(w);
            continue;
        }
        auto [err, size] = reading.get();
        EXPECT_EQ(err, c.err);
        EXPECT_EQ(size, c.err ? 0u : 10u);
    }
    // Property lists tell why.
    telvo::ErrorPtr error;
    telvo::plist::readFile("/fifo", &error);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("/fifo: it is no regular file"), std::string::npos) << error->message;
    telvo::plist::readFile("/sparse", &error);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("is larger than 16777216 bytes"), std::string::npos) << error->message;
}

TEST_F(RootTest, HostPathsMapBackToLogicalPathsAndOutsideTheRootIsRefused) {
    const std::string r = folder_;
    struct Case {
        std::string host;
        bool ok;
        std::string logical;
    } cases[] = {
        {r + "/Applications/Telvo Server.app/Contents/Resources", true, "/Applications/Telvo Server.app/Contents/Resources"},
        {r, true, "/"},
        {r + "/", true, "/"},
        {r + "//Library/./x/../Logs", true, "/Library/Logs"},
        {r + "-other/Library", false, ""},
        {r + "/../etc/passwd", false, ""},
        {"/etc/passwd", false, ""},
        {"relative/path", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string logical = "stale";
        EXPECT_EQ(fs::logicalPath(c.host, logical), c.ok) << c.host;
        EXPECT_EQ(logical, c.logical) << c.host;
        if (c.ok) {
            EXPECT_EQ(fs::resolve(logical), fs::resolve(c.host)) << c.host;
        }
    }
    fs::setRootForTesting("");
    std::string logical;
    EXPECT_TRUE(fs::logicalPath("/usr//bin/../lib", logical));
    EXPECT_EQ(logical, "/usr/lib");
}

TEST_F(RootTest, AttributeNamesLiveInTheUserNamespace) {
    EXPECT_EQ(fs::systemAttributeName("com.apple.quarantine"), "user.com.apple.quarantine");
    EXPECT_EQ(fs::systemAttributeName("user.lumberjack.log.archived"), "user.lumberjack.log.archived");
}
