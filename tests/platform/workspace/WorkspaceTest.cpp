// The workspace stand-in: starting bundles, opening web addresses, the Trash.
#include "platform/workspace/Workspace.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"

namespace telvo::workspace {
namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/workspace-test-XXXXXX";
        root = mkdtemp(pattern);
        fs::setRootForTesting(root);
        const char* home = std::getenv("HOME");
        if (home) savedHome = home;
        std::filesystem::create_directories(root + "/home");
        setenv("HOME", (root + "/home").c_str(), 1);
    }
    void TearDown() override {
        setOpenToolForTesting("");
        if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
        fs::setRootForTesting("");
        std::filesystem::remove_all(root);
    }
    void write(const std::string& path, const std::string& text, mode_t mode = 0644) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << text;
        chmod(path.c_str(), mode);
    }
    // A bundle whose executable writes its marker file.
    void makeBundle(const std::string& bundle, mode_t mode = 0755) {
        write(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Run</string>"
              "</dict></plist>");
        write(bundle + "/Contents/MacOS/Run", "#!/bin/sh\necho started > '" + root + "/started'\n", mode);
    }
    bool waitFor(const std::string& path) {
        return dispatch::MainLoop::runUntil([&] { return access(path.c_str(), F_OK) == 0; }, 60);
    }
    std::string root, savedHome;
};

TEST_F(WorkspaceTest, LaunchesBundlesByPathOrPlainName) {
    makeBundle(root + "/Applications/Telvo Server.app");
    ErrorPtr error;
    ASSERT_TRUE(launchApplication("Telvo Server", 0, &error)) << (error ? error->message : "");
    EXPECT_TRUE(waitFor(root + "/started"));
    unlink((root + "/started").c_str());
    ASSERT_TRUE(launchApplication(root + "/Applications/Telvo Server.app", 0.2, &error));
    EXPECT_TRUE(waitFor(root + "/started"));

    EXPECT_FALSE(launchApplication("Missing", 0, &error));
    ASSERT_TRUE(error);
    makeBundle(root + "/Applications/Plain.app", 0644);
    error.reset();
    EXPECT_FALSE(launchApplication("Plain", 0, &error));
    ASSERT_TRUE(error);
    // An executable that cannot be executed (no interpreter) is reported by the exec.
    write(root + "/Applications/Broken.app/Contents/Info.plist",
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>Run</string>"
          "</dict></plist>");
    write(root + "/Applications/Broken.app/Contents/MacOS/Run", "#!/nonexistent/interpreter\n", 0755);
    error.reset();
    EXPECT_FALSE(launchApplication("Broken", 0, &error));
    ASSERT_TRUE(error);
}

TEST_F(WorkspaceTest, OpensOnlyWebAddresses) {
    write(root + "/open", "#!/bin/sh\necho \"$1\" > '" + root + "/opened'\n", 0755);
    setOpenToolForTesting(root + "/open");
    EXPECT_FALSE(openURL("file:///etc/passwd"));
    EXPECT_FALSE(openURL("javascript:alert(1)"));
    ASSERT_TRUE(openURL("https://example.invalid/release?build=271"));
    ASSERT_TRUE(waitFor(root + "/opened"));
    dispatch::MainLoop::runUntil([&] {
        std::ifstream in(root + "/opened");
        std::string line;
        return bool(std::getline(in, line)) && !line.empty();
    }, 60);
    std::ifstream in(root + "/opened");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "https://example.invalid/release?build=271");
}

TEST_F(WorkspaceTest, RecyclesUnderFreeNames) {
    write(root + "/a/Telvo Server.app", "1");
    write(root + "/b/Telvo Server.app", "2");
    std::string first, second;
    ASSERT_TRUE(recycle(root + "/a/Telvo Server.app", &first));
    ASSERT_TRUE(recycle(root + "/b/Telvo Server.app", &second));
    EXPECT_EQ(first, root + "/home/.Trash/Telvo Server.app");
    EXPECT_EQ(second, root + "/home/.Trash/Telvo Server 2.app");
    struct stat st;
    ASSERT_EQ(lstat((root + "/home/.Trash").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    // A Trash that is a link is no Trash.
    std::filesystem::remove_all(root + "/home/.Trash");
    symlink((root + "/a").c_str(), (root + "/home/.Trash").c_str());
    write(root + "/c", "3");
    EXPECT_FALSE(recycle(root + "/c"));
    EXPECT_TRUE(fs::exists(root + "/c"));
}

TEST_F(WorkspaceTest, RecyclesAcrossFileSystemsWithoutLosingTheItem) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting the tmpfs that puts the Trash on another file system needs root";
    // The home (and so the Trash) on a small tmpfs of its own; the items on the test's folder.
    const std::string home = root + "/home";
    if (mount("tmpfs", home.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{home};

    // A bundle with a link, an executable and a private file: in the Trash with all three, and
    // gone from where it was.
    const std::string app = root + "/Applications/Telvo Server.app";
    write(app + "/Contents/MacOS/Telvo Server", "#!/bin/sh\n", 0755);
    write(app + "/Contents/Resources/private", "p", 0600);
    std::filesystem::create_directory_symlink("../MacOS", app + "/Contents/Resources/Programs");
    std::string trashed;
    ErrorPtr error;
    ASSERT_TRUE(recycle(app, &trashed, &error)) << (error ? error->message : "");
    EXPECT_EQ(trashed, home + "/.Trash/Telvo Server.app");
    EXPECT_FALSE(fs::exists(app));
    struct stat st;
    ASSERT_EQ(lstat((trashed + "/Contents/Resources/Programs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat((trashed + "/Contents/MacOS/Telvo Server").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((trashed + "/Contents/Resources/private").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A second item of the name gets the next free one.
    write(app + "/Contents/Info.plist", "2");
    ASSERT_TRUE(recycle(app, &trashed, &error)) << (error ? error->message : "");
    EXPECT_EQ(trashed, home + "/.Trash/Telvo Server 2.app");

    // An item the Trash's file system has no room for: refused, the item whole where it was,
    // nothing half-copied left in the Trash.
    const std::string big = root + "/Big.app";
    write(big + "/Contents/data", std::string(1 << 20, 'x'));
    error.reset();
    EXPECT_FALSE(recycle(big, &trashed, &error));
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("stays in place"), std::string::npos) << error->message;
    ASSERT_EQ(stat((big + "/Contents/data").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 1 << 20);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(home + "/.Trash")) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Telvo Server 2.app", "Telvo Server.app"}));
}

}  // namespace
}  // namespace telvo::workspace
