// The root side's check speaks of the process that connected, as pinned at the accept: a user
// whose request waits while its process exits and a later process of that user takes the pid
// (one that holds the right) is refused, not answered with the later process's right.
#include <gtest/gtest.h>
#include <grp.h>
#include <linux/sched.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"
#include "platform/xpc/Listener.h"

using namespace telvo;
using namespace telvo::authorization;

namespace {

const std::string kAdmin = kAuthorizationRightExecute;

bool waitFor(const std::function<bool()>& predicate, double seconds = 60) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Keeps every caller's connection and its credentials, as a service keeps a queued request.
class Keeper : public xpc::ListenerDelegate {
public:
    bool shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& c) override {
        std::lock_guard<std::mutex> lock(mutex);
        connections.push_back(c);
        return true;
    }
    std::vector<xpc::PeerCredentials> peers() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<xpc::PeerCredentials> out;
        for (const auto& c : connections) out.push_back(c->peerCredentials());
        return out;
    }
    std::mutex mutex;
    std::vector<xpc::ConnectionPtr> connections;
};

class CallerPinTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the scripted backend and a test user need root";
        if (std::system("command -v useradd >/dev/null 2>&1") != 0) GTEST_SKIP() << "useradd is needed for a test user";
        char pattern[] = "/tmp/authorization-pin-XXXXXX";
        root_ = mkdtemp(pattern);
        chmod(root_.c_str(), 0755);
        fs::setRootForTesting(root_);
        platform::Clock::useVirtual(1.8e9);
        std::filesystem::create_directories(root_ + "/etc/telvo/authorization");
        std::ofstream(root_ + scripted::kPolicyPath) << kAdmin << " allow\n";
        chmod((root_ + scripted::kPolicyPath).c_str(), 0644);
        systemlog::setCaptureForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_ += line + "\n";
        });
        user_ = "tvsap" + std::to_string(getpid());
        madeUser_ = waitFor([&] { return std::system(("useradd -M -N " + user_ + " >/dev/null 2>&1").c_str()) == 0; }, 20);
        ASSERT_TRUE(madeUser_) << "useradd " << user_;
        passwd* pw = getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        keeper_ = std::make_shared<Keeper>();
        listener_ = xpc::Listener::create("com.example.pinned");
        listener_->setDelegate(keeper_);
        ASSERT_EQ(listener_->resume(), nullptr);
        socketPath_ = fs::resolve(xpc::Connection::servicePath("com.example.pinned"));
    }
    void TearDown() override {
        if (listener_) listener_->invalidate();
        if (keeper_)
            for (auto& c : keeper_->connections) c->invalidate();
        systemlog::setCaptureForTesting(nullptr);
        if (root_.empty()) return;
        platform::Clock::resetForTesting();
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
        if (madeUser_) {
            EXPECT_TRUE(waitFor([&] { return std::system(("userdel " + user_ + " >/dev/null 2>&1").c_str()) == 0; }, 20));
        }
    }
    std::string log() {
        std::lock_guard<std::mutex> lock(logMutex_);
        return log_;
    }
    // In a child: become the test user (async-signal-safe calls only).
    void becomeUser() const {
        if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0) _exit(120);
    }

    std::string root_, user_, socketPath_, log_;
    std::mutex logMutex_;
    bool madeUser_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::shared_ptr<Keeper> keeper_;
    xpc::ListenerPtr listener_;
};

TEST_F(CallerPinTest, ARequestWhoseProcessEndedIsRefusedEvenWhenALaterProcessOfThatUserHoldsItsPidAndTheRight) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath_.copy(address.sun_path, sizeof address.sun_path - 1);
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    // The attacker's process connects (its request now waits at the service), then exits.
    pid_t attacker = fork();
    if (attacker == 0) {
        becomeUser();
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        if (s < 0 || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(2);
        char c;
        if (read(release[0], &c, 1) < 0) _exit(3);
        _exit(0);
    }
    ASSERT_GT(attacker, 0);
    ASSERT_TRUE(waitFor([&] { return keeper_->peers().size() == 1; })) << "the service never saw the caller";
    xpc::PeerCredentials queued = keeper_->peers()[0];
    EXPECT_EQ(queued.pid, attacker);
    EXPECT_EQ(queued.uid, uid_);
    EXPECT_TRUE(queued.alive());
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(attacker, &status, 0), attacker);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the attacker could not connect";

    // A later process of the same user gets the freed pid, and the right (its user
    // authenticated for it).
    pid_t wanted = attacker;
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<uintptr_t>(&wanted);
    args.set_tid_size = 1;
    long later = syscall(SYS_clone3, &args, sizeof args);
    if (later == 0) {
        becomeUser();
        char c;
        if (read(release[0], &c, 1) < 0) _exit(3);
        _exit(0);
    }
    if (later < 0) GTEST_SKIP() << "cannot start a process with a chosen pid (clone3 set_tid): " << std::strerror(errno);
    ASSERT_EQ(pid_t(later), attacker);
    EXPECT_EQ(AuthorizationCheckCaller(pid_t(later), uid_, kAdmin, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
    // A pid alone now names the later process, which holds the right...
    EXPECT_EQ(AuthorizationCheckCaller(queued.pid, queued.uid, kAdmin, kAuthorizationFlagDefaults),
              errAuthorizationSuccess);
    // ...but the queued request is the ended process's: refused, and said so in the log.
    EXPECT_FALSE(queued.alive());
    EXPECT_EQ(AuthorizationCheckCaller(queued, kAdmin, kAuthorizationFlagDefaults), errAuthorizationDenied);
    EXPECT_EQ(AuthorizationCheckCaller(queued, kAdmin, kAuthorizationFlagsAskUser), errAuthorizationDenied);
    EXPECT_NE(log().find("refused " + kAdmin + " to pid " + std::to_string(attacker)), std::string::npos) << log();

    ASSERT_EQ(write(release[1], "x", 1), 1);
    waitpid(pid_t(later), &status, 0);
    close(release[0]);
    close(release[1]);
}

TEST_F(CallerPinTest, ALiveCallerIsAnsweredForItsOwnRight) {
    // This process connects as a client of the service and holds the right.
    AuthorizationRights admin = {kAdmin};
    ASSERT_EQ(AuthorizationCreate(&admin, kAuthorizationFlagsAskUser, nullptr), errAuthorizationSuccess);
    auto client = xpc::Connection::connectToService("com.example.pinned", xpc::Connection::kPrivileged);
    client->resume();
    client->call("anything", {});
    ASSERT_TRUE(waitFor([&] { return keeper_->peers().size() == 1; }));
    xpc::PeerCredentials caller = keeper_->peers()[0];
    EXPECT_EQ(caller.pid, getpid());
    EXPECT_EQ(AuthorizationCheckCaller(caller, kAdmin, kAuthorizationFlagDefaults), errAuthorizationSuccess);
    // Credentials read without a pin are never trusted.
    xpc::PeerCredentials unpinned = caller;
    unpinned.pidfd.reset();
    EXPECT_EQ(AuthorizationCheckCaller(unpinned, kAdmin, kAuthorizationFlagDefaults), errAuthorizationDenied);
    client->invalidate();
}

}  // namespace
