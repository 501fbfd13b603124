#include "platform/notify/DistributedNotificationCenter.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs/Root.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/xpc/RunFolder.h"

#include <mutex>
#include <vector>

using namespace telvo;
using namespace telvo::notify;

namespace {

class DistributedNotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dnote-XXXXXX";
        root_ = mkdtemp(pattern);
        fs::setRootForTesting(root_);
    }
    void TearDown() override {
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    std::string root_;
};

}  // namespace

TEST_F(DistributedNotificationTest, EveryListenerGetsNameAndUserInfo) {
    DistributedNotificationListener first, second;
    ASSERT_TRUE(first.isListening()) << first.error()->description();
    ASSERT_TRUE(second.isListening());

    Value info = Value(ValueDictionary{{"status", Value(3)}, {"port", Value(5109)}});
    EXPECT_EQ(DistributedNotificationCenter::defaultCenter().postNotification("TelvoServerUpnpUpdated", info), 2);
    EXPECT_EQ(DistributedNotificationCenter::defaultCenter().postNotification("TelvoServer2BackendReady"), 2);

    for (auto* listener : {&first, &second}) {
        DistributedNotification note;
        ASSERT_TRUE(listener->waitFor("TelvoServerUpnpUpdated", 5, &note));
        EXPECT_EQ(note.userInfo["status"].intValue(), 3);
        EXPECT_EQ(note.userInfo["port"].intValue(), 5109);
        ASSERT_TRUE(listener->waitFor("TelvoServer2BackendReady", 5, &note));
        EXPECT_TRUE(note.userInfo.isNull());
    }
    auto order = first.received();
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0].name, "TelvoServerUpnpUpdated");  // arrival order is posting order
}

TEST_F(DistributedNotificationTest, ReachesAnotherProcessAndDropsSocketsOfListenersThatAreGone) {
    DistributedNotificationListener listener;
    ASSERT_TRUE(listener.isListening());
    pid_t child = fork();
    if (child == 0) {
        int n = DistributedNotificationCenter::defaultCenter().postNotification("TelvoServerSocketUpdated");
        _exit(n == 1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(listener.waitFor("TelvoServerSocketUpdated", 5));

    // A socket file whose listener is gone is removed at the next post.
    std::string folder = fs::resolve(DistributedNotificationCenter::runFolder());
    {
        DistributedNotificationListener gone;
        ASSERT_TRUE(gone.isListening());
    }
    std::string stale = folder + "/99999-1.sock";
    {
        // Leave a bound socket file behind without a reader, as a crashed listener does.
        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", stale.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    EXPECT_EQ(DistributedNotificationCenter::defaultCenter().postNotification("x"), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
}

TEST_F(DistributedNotificationTest, MalformedDatagramsAreIgnored) {
    std::string name;
    Value info;
    EXPECT_FALSE(DistributedNotificationCenter::decode("", name, info));
    EXPECT_FALSE(DistributedNotificationCenter::decode("no terminator", name, info));
    EXPECT_FALSE(DistributedNotificationCenter::decode(std::string("n\0<plist><dict>", 15), name, info));
    ASSERT_TRUE(DistributedNotificationCenter::decode(DistributedNotificationCenter::encode("n", Value("v")), name, info));
    EXPECT_EQ(name, "n");
    EXPECT_EQ(info.stringValue(), "v");
}

// A listener without history hands every notification to its handler and keeps none.
TEST_F(DistributedNotificationTest, ListenerWithoutHistoryKeepsNothing) {
    std::mutex mutex;
    std::vector<std::string> names;
    DistributedNotificationListener listener(
        [&](const DistributedNotification& note) {
            std::lock_guard lock(mutex);
            names.push_back(note.name);
        },
        DistributedNotificationListener::History::None);
    ASSERT_TRUE(listener.isListening());
    auto arrived = [&](size_t n) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(mutex);
                if (names.size() >= n) return true;
            }
            usleep(20000);
        }
        return false;
    };
    // One at a time: a datagram socket queues only a few.
    for (size_t i = 1; i <= 5; ++i) {
        DistributedNotificationCenter::defaultCenter().postNotification(i < 5 ? "TelvoServerSocketUpdated"
                                                                              : "TelvoServer2BackendReady");
        ASSERT_TRUE(arrived(i));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(names.back(), "TelvoServer2BackendReady");
    EXPECT_TRUE(listener.received().empty());
    EXPECT_EQ(listener.count("TelvoServerSocketUpdated"), 0u);
    EXPECT_FALSE(listener.waitFor("TelvoServerSocketUpdated", 0.05));
}

// Root prepares the shared folder through one descriptor: a link in its place is refused,
// and a folder another user made is taken back with mode 1777.
TEST_F(DistributedNotificationTest, TheSharedFolderBelongsToRootOpenToAll) {
    if (geteuid() != 0) GTEST_SKIP() << "only root prepares the shared folder";
    const std::string folder = DistributedNotificationCenter::runFolder();
    std::filesystem::create_directories(root_ + "/var/run/telvo");
    std::filesystem::create_directories(root_ + "/elsewhere");
    std::filesystem::create_directory_symlink(root_ + "/elsewhere", root_ + folder);
    EXPECT_NE(xpc::prepareSharedRunFolder(folder), nullptr);
    std::filesystem::remove(root_ + folder);
    std::filesystem::create_directory(root_ + folder);
    ASSERT_EQ(chown((root_ + folder).c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod((root_ + folder).c_str(), 0700), 0);
    EXPECT_EQ(xpc::prepareSharedRunFolder(folder), nullptr);
    struct stat st{};
    ASSERT_EQ(lstat((root_ + folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
}
