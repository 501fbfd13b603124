// Pinning a socket's peer at accept: the process that connected, not whoever holds its pid
// later; a peer gone before the accept, or a process started after it, is never pinned.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include "platform/xpc/PeerCredentials.h"
#include "platform/xpc/PidFd.h"

namespace telvo::xpc {
namespace {

class PidFdTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        forcePidFdFallbackForTesting(GetParam());
        char tmpl[] = "/tmp/telvo-pidfd-XXXXXX";
        folder_ = mkdtemp(tmpl);
        path_ = folder_ + "/s";
        listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listen_, 0);
        ASSERT_EQ(::bind(listen_, address(), sizeof address_), 0);
        ASSERT_EQ(::listen(listen_, 8), 0);
    }
    void TearDown() override {
        forcePidFdFallbackForTesting(false);
        if (listen_ >= 0) ::close(listen_);
        std::filesystem::remove_all(folder_);
    }
    sockaddr* address() {
        address_ = sockaddr_un{};
        address_.sun_family = AF_UNIX;
        path_.copy(address_.sun_path, path_.size());
        return reinterpret_cast<sockaddr*>(&address_);
    }
    // A child that connects, writes one byte, then waits for a byte on `release` before it exits.
    pid_t connectingChild(int release) {
        pid_t child = fork();
        if (child == 0) {
            int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (s < 0 || ::connect(s, address(), sizeof address_) != 0) _exit(2);
            char c = 'x';
            if (::write(s, &c, 1) != 1) _exit(3);
            if (release >= 0 && ::read(release, &c, 1) < 0) _exit(4);
            _exit(0);
        }
        return child;
    }
    int acceptOne() {
        int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        char byte;
        if (c >= 0) {
            EXPECT_EQ(::read(c, &byte, 1), 1);
        }
        return c;
    }

    std::string folder_, path_;
    sockaddr_un address_{};
    int listen_ = -1;
};

TEST_P(PidFdTest, ALiveCallerIsPinnedUntilItExits) {
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    pid_t child = connectingChild(release[0]);
    ASSERT_GT(child, 0);
    int c = acceptOne();
    ASSERT_GE(c, 0);
    PeerCredentials peer;
    ASSERT_TRUE(pinPeerCredentials(c, peer));
    ASSERT_TRUE(peer.pidfd);
    EXPECT_EQ(peer.pid, child);
    EXPECT_TRUE(peer.pidfd->valid());
    EXPECT_EQ(peer.pidfd->pid(), child);
    if (GetParam()) {
        EXPECT_FALSE(peer.pidfd->fromSocketOption());
    }
    EXPECT_TRUE(peer.alive());
    PeerCredentials copy = peer;  // copies share the pin
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(peer.alive());
    EXPECT_FALSE(copy.alive());
    ::close(c);
    ::close(release[0]);
    ::close(release[1]);
}

TEST_P(PidFdTest, ACallerGoneBeforeTheAcceptIsNeverPinned) {
    pid_t child = connectingChild(-1);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int c = acceptOne();
    ASSERT_GE(c, 0);
    PeerCredentials peer;
    ASSERT_TRUE(pinPeerCredentials(c, peer));
    ASSERT_TRUE(peer.pidfd);
    EXPECT_FALSE(peer.pidfd->valid());
    EXPECT_FALSE(peer.alive());
    ::close(c);
}

TEST(PidFdOpenTest, AProcessStartedAfterTheAcceptIsNotTheCaller) {
    // The accept happened a second ago; a process forked now holds the pid the kernel named.
    uint64_t acceptedAt = PidFd::bootClockNow() - 1000000000ull;
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        char c;
        if (::read(release[0], &c, 1) < 0) _exit(1);
        _exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_FALSE(PidFd::open(child, acceptedAt)->valid());
    EXPECT_TRUE(PidFd::open(child, PidFd::bootClockNow())->valid());
    EXPECT_TRUE(PidFd::open(getpid(), PidFd::bootClockNow())->alive());
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    ::close(release[0]);
    ::close(release[1]);
}

INSTANTIATE_TEST_SUITE_P(Paths, PidFdTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Fallback") : std::string("PeerOption"); });

}  // namespace
}  // namespace telvo::xpc
