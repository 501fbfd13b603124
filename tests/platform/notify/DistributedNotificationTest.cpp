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
