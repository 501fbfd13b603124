// The install steps as a local user would attack them: a throw-away user owns the folders and
// the bundle root works on, and races root on every name. Root's own files (a 0700 folder
// with a 0600 file) must never change owner or mode, and nothing the user can repoint may be
// installed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "HelperFixture.h"
#include "helper/HelperController.h"
#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdProcess.h"

using namespace telvo;
using namespace telvo::helper;
using namespace telvo::testing;

namespace {

class RootBoundaryTest : public HelperFixture {
protected:
    void SetUp() override {
        HelperFixture::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "the attacks need root on one side and a test user on the other";
        if (std::system("command -v useradd >/dev/null 2>&1") != 0) GTEST_SKIP() << "useradd is needed for a test user";
        user_ = "tvsrb" + std::to_string(getpid());
        madeUser_ = waitUntil([&] { return std::system(("useradd -M -s /bin/false " + user_ + " >/dev/null 2>&1").c_str()) == 0; }, 20);
        ASSERT_TRUE(madeUser_) << "useradd " << user_;
        passwd* pw = getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        // Root's private tree, which the user must never reach.
        makeFile("/private/secret", "root only", 0600);
        ::chmod(host("/private").c_str(), 0700);
        helper().setLogger([this](const std::string& line) { log_ += line + "\n"; });
    }
    void TearDown() override {
        if (attacker_ > 0) {
            ::kill(attacker_, SIGKILL);
            waitpid(attacker_, nullptr, 0);
        }
        HelperFixture::TearDown();
        if (madeUser_) {
            EXPECT_TRUE(waitUntil([&] { return std::system(("userdel " + user_ + " >/dev/null 2>&1").c_str()) == 0; }, 20))
                << "userdel " << user_;
        }
    }
    HelperController& helper() { return HelperController::sharedHelper(); }
    bool run(const std::string& command, ValueDictionary keys) { return helper().processCommand(HelperCommand::make(command, keys)); }
    void giveToUser(const std::string& path) {
        for (auto& e : std::filesystem::recursive_directory_iterator(host(path)))
            ASSERT_EQ(::lchown(e.path().c_str(), uid_, gid_), 0) << e.path();
        ASSERT_EQ(::lchown(host(path).c_str(), uid_, gid_), 0);
    }
    bool privateUnchanged() {
        return modeOf("/private") == "700" && ownerOf("/private") == "0:0" && modeOf("/private/secret") == "600" &&
               ownerOf("/private/secret") == "0:0";
    }
    // Runs `body` as the test user in a child until the test ends.
    void attack(const std::function<void()>& body) {
        attacker_ = fork();
        ASSERT_GE(attacker_, 0);
        if (attacker_ == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0) _exit(99);
            for (;;) body();
        }
    }

    std::string user_;
    bool madeUser_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    pid_t attacker_ = -1;
    std::string log_;
};

// The user owns "/Applications" and swaps the installed application for a link to root's
// private tree, again and again, while root copies it there and sets its owner and modes.
TEST_F(RootBoundaryTest, SwappingTheInstalledApplicationForALinkNeverReachesRootsFiles) {
    std::filesystem::create_directories(host("/Applications"));
    ASSERT_EQ(::chown(host("/Applications").c_str(), uid_, gid_), 0);
    makeFile("/src/Telvo Server.app/Contents/MacOS/Telvo Server", "app", 0755);
    std::filesystem::create_symlink(host("/private"), host("/Applications/swap"));
    ASSERT_EQ(::lchown(host("/Applications/swap").c_str(), uid_, gid_), 0);
    const std::string apps = host("/Applications");
    attack([&] {
        ::renameat2(AT_FDCWD, (apps + "/swap").c_str(), AT_FDCWD, (apps + "/Telvo Server.app").c_str(), RENAME_EXCHANGE);
    });
    const std::string owner = std::to_string(uid_) + ":" + std::to_string(gid_);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end && privateUnchanged()) {
        run("copy", {{"file", Value("/src/Telvo Server.app")}, {"dest", Value("/Applications/Telvo Server.app")},
                     {"chown", Value(owner)}});
        helper().chmod("/Applications/Telvo Server.app", "755");
        helper().chownRoot("/Applications/Telvo Server.app");
        ++rounds;
    }
    EXPECT_TRUE(privateUnchanged()) << "after " << rounds << " rounds: /private " << modeOf("/private") << " "
                                    << ownerOf("/private") << ", secret " << modeOf("/private/secret") << " "
                                    << ownerOf("/private/secret");
    EXPECT_GT(rounds, 10);
}

// Links, FIFOs and sockets in a bundle the user made are never installed into root's folders:
// the copy fails at once, says why, and leaves the installed file as it was.
TEST_F(RootBoundaryTest, ACopyIntoRootsFoldersTakesOnlyRegularFilesAndFolders) {
    const std::string support = "/Library/Application Support/Telvo Server";
    makeFile(support + "/TelvoServerDaemon", "installed daemon", 0755);
    makeFile("/Users/attacker/evil", "the user's own program", 0755);
    makeFile("/Users/attacker/Bundle/Contents/Resources/plain", "x");
    std::filesystem::create_directories(host("/Users/attacker/Bundle/Contents/Resources/Links"));
    std::filesystem::create_symlink(host("/Users/attacker/evil"), host("/Users/attacker/Bundle/Contents/Resources/daemon-link"));
    std::filesystem::create_symlink("../evil", host("/Users/attacker/Bundle/Contents/Resources/Links/relative"));
    std::filesystem::create_symlink(host("/Users/attacker"), host("/Users/attacker/Bundle/Contents/Resources/Links/folder"));
    ASSERT_EQ(::mkfifo(host("/Users/attacker/Bundle/Contents/Resources/fifo").c_str(), 0644), 0);
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string socketPath = host("/Users/attacker/Bundle/Contents/Resources/socket");
    ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);
    giveToUser("/Users/attacker");

    const std::string resources = "/Users/attacker/Bundle/Contents/Resources/";
    struct Case {
        std::string source, why;
    } cases[] = {
        {resources + "daemon-link", "is a symbolic link"},
        {resources + "Links", "is a symbolic link"},
        {resources + "fifo", "is a FIFO"},
        {resources + "socket", "is a socket"},
        {"/Users/attacker/Bundle", "only regular files and folders are copied"},
    };
    for (const auto& c : cases) {
        log_.clear();
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(run("copy", {{"file", Value(c.source)}, {"dest", Value(support + "/TelvoServerDaemon")},
                                  {"chown", Value("root")}, {"chmod", Value("755")}}))
            << c.source;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.source;
        EXPECT_NE(log_.find(c.why), std::string::npos) << log_;
        EXPECT_NE(log_.find("left as it was"), std::string::npos) << log_;
        EXPECT_EQ(contents(support + "/TelvoServerDaemon"), "installed daemon") << c.source;
        EXPECT_FALSE(std::filesystem::is_symlink(host(support + "/TelvoServerDaemon")));
    }
    // Nothing of a failed copy is left beside the installed file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(host(support)), {}), 1);
    // A source reached through a link on the way is refused too.
    std::filesystem::create_symlink(host("/Users/attacker/Bundle"), host("/Users/attacker/Through"));
    log_.clear();
    EXPECT_FALSE(run("copy", {{"file", Value("/Users/attacker/Through/Contents/Resources/plain")},
                              {"dest", Value(support + "/TelvoServerDaemon")}}));
    EXPECT_NE(log_.find("/Users/attacker/Through is a symbolic link"), std::string::npos) << log_;
    EXPECT_EQ(contents(support + "/TelvoServerDaemon"), "installed daemon");
}

// Copied files keep their own modes (without write for others); folders and programs get 755.
TEST_F(RootBoundaryTest, CopiedFilesKeepTheirModesAndOnlyFoldersAndProgramsGet755) {
    makeFile("/Users/attacker/App.app/Contents/MacOS/App", "program", 0700);
    makeFile("/Users/attacker/App.app/Contents/Info.plist", "info", 0644);
    makeFile("/Users/attacker/App.app/Contents/Resources/private", "mine", 0600);
    makeFile("/Users/attacker/App.app/Contents/Resources/open", "everyone writes", 0666);
    makeFile("/Users/attacker/App.app/Contents/Resources/setuid", "s", 04755);
    giveToUser("/Users/attacker");
    std::filesystem::create_directories(host("/Applications"));
    ASSERT_TRUE(run("copy", {{"file", Value("/Users/attacker/App.app")}, {"dest", Value("/Applications/App.app")},
                             {"chown", Value("root")}}))
        << log_;
    const std::string app = "/Applications/App.app/Contents";
    struct Expected {
        std::string path, mode;
    } modes[] = {{"/Applications/App.app", "755"},     {app, "755"},
                 {app + "/MacOS/App", "755"},          {app + "/Info.plist", "644"},
                 {app + "/Resources/private", "600"},  {app + "/Resources/open", "644"},
                 {app + "/Resources/setuid", "755"}};
    for (const auto& e : modes) {
        EXPECT_EQ(modeOf(e.path), e.mode) << e.path;
        EXPECT_EQ(ownerOf(e.path), "0:0") << e.path;
    }
}

// A bundle whose Contents/Resources is a link to a folder of the user: the tool found there
// lies in no application, refuses, and copies nothing.
TEST_F(RootBoundaryTest, LegacySetupToolRefusesAnApplicationReachedThroughALink) {
    const std::string tool = std::string(TELVO_BUNDLE_DIR) + "/Telvo Server.app/Contents/Resources/LegacySetupTool";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    std::filesystem::create_directories(host("/Users/attacker/res"));
    std::filesystem::copy_file(tool, host("/Users/attacker/res/LegacySetupTool"));
    ::chmod(host("/Users/attacker/res/LegacySetupTool").c_str(), 0755);
    std::filesystem::create_directories(host("/Users/attacker/Evil.app/Contents"));
    std::filesystem::create_symlink(host("/Users/attacker/res"), host("/Users/attacker/Evil.app/Contents/Resources"));
    giveToUser("/Users/attacker");
    // Someone else's private file beside it, which a copy of "/Users" would expose.
    makeFile("/Users/other/secret", "other's", 0600);
    const std::string command = "TELVO_ROOT='" + root_ + "' '" + host("/Users/attacker/Evil.app/Contents/Resources/LegacySetupTool") +
                                "' 2>&1; echo status=$?";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[512];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    pclose(pipe);
    EXPECT_NE(out.find("lies in no application folder"), std::string::npos) << out;
    EXPECT_NE(out.find("status=3"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(host("/Applications/Telvo Server.app")));
    EXPECT_FALSE(std::filesystem::exists(host("/Library")));
    EXPECT_EQ(modeOf("/Users/other/secret"), "600");
}

}  // namespace
