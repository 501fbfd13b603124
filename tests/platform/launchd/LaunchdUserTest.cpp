// A user instance for a user made for the test: it loads the agents its session allows, runs
// them as that user, keeps its services in that user's own folder (which refuses everybody
// else) and is driven by that user's launchctl with -S Aqua.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdFixture.h"
#include "platform/launchd/Paths.h"
#include "platform/xpc/RunFolder.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

// connect() to a Unix socket as that user, in a child: 0 when it connected, else the errno.
int connectAs(uid_t uid, gid_t gid, const std::string& hostPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    hostPath.copy(address.sun_path, sizeof address.sun_path - 1);
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(120);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(errno);
        // Held a moment, so that the job started for it sees a caller.
        usleep(200000);
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class LaunchdUserTest : public LaunchdFixture {
protected:
    LaunchdUserTest() : LaunchdFixture("telvo-launchd-user", TestUser::kWithHome, "tvsld") {}
    void TearDown() override {
        userInstance_.reset();
        LaunchdFixture::TearDown();
    }

    std::unique_ptr<LaunchdProcess> userInstance_;
};

TEST_F(LaunchdUserTest, AUserInstanceRunsTheUsersJobsAsThatUserAndItsServiceFolderRefusesAnotherUser) {
    Value atLoad = probeJob("com.example.agent", "wait");
    atLoad.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchAgents/com.example.agent.plist", atLoad);
    Value onDemand = probeJob("com.example.agentservice", "serve", "com.example.agentservice");
    onDemand.set("MachServices", Value(ValueDictionary{{"com.example.agentservice", Value(true)}}));
    onDemand.set("LimitLoadToSessionType", Value(ValueArray{Value("Aqua"), Value("Background")}));
    writeJob(root_, "/Library/LaunchAgents/com.example.agentservice.plist", onDemand);
    Value otherSession = probeJob("com.example.loginwindow", "wait");
    otherSession.set("RunAtLoad", Value(true));
    otherSession.set("LimitLoadToSessionType", Value("LoginWindow"));
    writeJob(root_, "/Library/LaunchAgents/com.example.loginwindow.plist", otherSession);
    // A job file of the user's own loads; one of another user does not.
    Value own = probeJob("com.example.own", "wait");
    own.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchAgents/com.example.own.plist", own, uid_);
    Value foreign = probeJob("com.example.foreign", "wait");
    foreign.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchAgents/com.example.foreign.plist", foreign, getpwnam("nobody")->pw_uid);
    // A daemon's job is not the user instance's.
    Value daemon = probeJob("com.example.daemon", "wait");
    daemon.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchDaemons/com.example.daemon.plist", daemon);

    ASSERT_TRUE(startSystem({"--exit-timeout", "1"})) << instance_->log();
    std::string runtime = "/run/user/" + std::to_string(uid_);
    userInstance_ = std::make_unique<LaunchdProcess>(
        root_, uid_, std::vector<std::string>{"--throttle-interval", "1", "--exit-timeout", "1"},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime, "DISPLAY=:7", "XAUTHORITY=/home/" + user_ + "/.Xauthority",
                                 "WAYLAND_DISPLAY=wayland-1", "LANG=de_DE.UTF-8", "LANGUAGE=fr:de", "UNRELATED_SETTING=1"});
    ASSERT_TRUE(userInstance_->start()) << userInstance_->log();

    ASSERT_TRUE(waitUntil([&] { return probeStarts(record("com.example.agent")).size() == 1; })) << userInstance_->log();
    EXPECT_EQ(probeStarts(record("com.example.agent"))[0].uid, uid_);
    // The fixed environment: the root carried, the session's variables, the user's own.
    std::string env = readHostFile(record("com.example.agent") + ".env");
    for (const std::string& line : {"TELVO_ROOT=" + root_, "XDG_RUNTIME_DIR=" + runtime, std::string("DISPLAY=:7"),
                                    "XAUTHORITY=/home/" + user_ + "/.Xauthority", std::string("WAYLAND_DISPLAY=wayland-1"),
                                    std::string("LANG=de_DE.UTF-8"), std::string("LANGUAGE=fr:de"),
                                    "HOME=/home/" + user_, "USER=" + user_})
        EXPECT_NE(env.find(line + "\n"), std::string::npos) << line << "\n" << env;
    EXPECT_EQ(env.find("UNRELATED_SETTING"), std::string::npos) << env;
    // The system instance ran its own job as root.
    ASSERT_TRUE(waitUntil([&] { return probeStarts(record("com.example.daemon")).size() == 1; }));
    EXPECT_EQ(probeStarts(record("com.example.daemon"))[0].uid, 0u);
    EXPECT_TRUE(probeStarts(record("com.example.loginwindow")).empty());
    ASSERT_TRUE(waitUntil([&] { return probeStarts(record("com.example.own")).size() == 1; }));
    EXPECT_TRUE(probeStarts(record("com.example.foreign")).empty());
    EXPECT_TRUE(userInstance_->logged("refused /Library/LaunchAgents/com.example.foreign.plist: ")) << userInstance_->log();

    // The user's service folder, made by the system instance at check-in: the user's alone.
    std::string folder = root_ + xpc::userServiceFolder(uid_);
    struct stat st{};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    std::string socket = folder + "/com.example.agentservice";
    passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    EXPECT_EQ(connectAs(nobody->pw_uid, nobody->pw_gid, socket), EACCES);
    EXPECT_TRUE(probeStarts(record("com.example.agentservice")).empty());
    // The user's own first connection starts the service's job, as the user.
    EXPECT_EQ(connectAs(uid_, gid_, socket), 0);
    ASSERT_TRUE(waitUntil([&] { return probeStarts(record("com.example.agentservice")).size() == 1; }))
        << userInstance_->log();
    auto started = probeStarts(record("com.example.agentservice"))[0];
    EXPECT_EQ(started.uid, uid_);
    EXPECT_EQ(started.services, "com.example.agentservice");

    // The user drives the instance with -S Aqua; the override lands in the user's own folder.
    CommandResult unload = launchctl(root_, {"unload", "-w", "-S", "Aqua", "/Library/LaunchAgents/com.example.agent.plist"}, uid_);
    EXPECT_EQ(unload.status, 0) << unload.output;
    ASSERT_EQ(stat((root_ + launchd::userOverridesPath(uid_)).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_);
    CommandResult wrongSession =
        launchctl(root_, {"load", "-w", "-S", "LoginWindow", "/Library/LaunchAgents/com.example.agent.plist"}, uid_);
    EXPECT_NE(wrongSession.status, 0);
    CommandResult load = launchctl(root_, {"load", "-w", "-S", "Aqua", "/Library/LaunchAgents/com.example.agent.plist"}, uid_);
    EXPECT_EQ(load.status, 0) << load.output;
    EXPECT_TRUE(waitUntil([&] { return probeStarts(record("com.example.agent")).size() == 2; }));
    CommandResult list = launchctl(root_, {"list"}, uid_);
    EXPECT_NE(list.output.find("com.example.agentservice"), std::string::npos) << list.output;
    EXPECT_EQ(list.output.find("com.example.daemon"), std::string::npos) << list.output;
    // The user cannot drive the system instance: without -S its launchctl reaches its own.
    // Nor can anybody else reach the user's instance.
    EXPECT_NE(launchctl(root_, {"list"}, nobody->pw_uid).status, 0);

    EXPECT_EQ(userInstance_->stop(), 0);
    EXPECT_NE(kill(started.pid, 0), 0);
}

}  // namespace
