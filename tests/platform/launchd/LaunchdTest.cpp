// The launcher as root on a fresh file-system root: jobs started at load, kept alive with the
// throttle, started on the first connection to their Mach service with the listening socket
// handed down, stopped on unload, refused when anybody but root could have written them, and
// what survives a restart of the instance.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdFixture.h"
#include "platform/launchd/Paths.h"
#include "platform/values/PropertyList.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/RunFolder.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class LaunchdTest : public LaunchdFixture {
protected:
    LaunchdTest() : LaunchdFixture("telvo-launchd") {}
    std::string listed() { return launchctl(root_, {"list"}).output; }
};

// A client of a probe's service: the probe's answer to "whoami:", or none.
std::optional<Value> whoami(const std::string& service, unsigned options = xpc::Connection::kPrivileged) {
    auto connection = xpc::Connection::connectToService(service, options);
    connection->resume();
    struct State {
        std::mutex mutex;
        std::optional<Value> reply;
        bool failed = false;
    };
    auto state = std::make_shared<State>();
    connection->call(
        "whoami:", {},
        [state](const Value& v) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->reply = v;
        },
        [state](const ErrorPtr&) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->failed = true;
        });
    waitUntil([&] {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->reply.has_value() || state->failed;
    });
    connection->invalidate();
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->reply;
}

TEST_F(LaunchdTest, RunAtLoadStartsAJobAndKeepAliveRestartsOneThatExits1NoMoreThanOncePerThrottleInterval) {
    Value atLoad = probeJob("com.example.atload", "wait");
    atLoad.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchDaemons/com.example.atload.plist", atLoad);
    Value kept = probeJob("com.example.kept", "exit1");
    kept.set("KeepAlive", Value(true));
    writeJob(root_, "/Library/LaunchDaemons/com.example.kept.plist", kept);
    Value idle = probeJob("com.example.idle", "wait");
    writeJob(root_, "/Library/LaunchDaemons/com.example.idle.plist", idle);
    ASSERT_TRUE(startSystem());

    ASSERT_TRUE(waitUntil([&] { return probeStarts(record("com.example.kept")).size() >= 3; })) << instance_->log();
    auto starts = probeStarts(record("com.example.kept"));
    // The probes record their start after exec, whose delay varies on a loaded machine: an
    // unthrottled loop would restart within milliseconds.
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_GE(starts[i].time - starts[i - 1].time, 0.5) << "start " << i << "\n" << instance_->log();
    EXPECT_LE(double(starts.size() - 1), starts.back().time - starts.front().time + 1.0) << instance_->log();
    EXPECT_TRUE(instance_->logged("com.example.kept: exited with status 1"));
    EXPECT_TRUE(instance_->logged("com.example.kept: throttled"));

    auto atLoadStarts = probeStarts(record("com.example.atload"));
    ASSERT_EQ(atLoadStarts.size(), 1u);
    EXPECT_EQ(atLoadStarts[0].uid, 0u);
    // Loaded without RunAtLoad: listed, never started.
    EXPECT_TRUE(probeStarts(record("com.example.idle")).empty());
    std::string list = listed();
    EXPECT_NE(list.find(std::to_string(atLoadStarts[0].pid) + "\t0\tcom.example.atload"), std::string::npos) << list;
    EXPECT_NE(list.find("-\t0\tcom.example.idle"), std::string::npos) << list;

    // The instance stops its jobs when it stops.
    EXPECT_EQ(instance_->stop(), 0);
    EXPECT_NE(kill(atLoadStarts[0].pid, 0), 0);
}

TEST_F(LaunchdTest, AMachServiceStartsItsJobOnTheFirstConnectionWhichTheJobServesOnTheHandedDownSocket) {
    Value job = probeJob("com.example.ondemand", "serve", "com.example.ondemand");
    job.set("MachServices", Value(ValueDictionary{{"com.example.ondemand", Value(true)}}));
    writeJob(root_, "/Library/LaunchDaemons/com.example.ondemand.plist", job);
    ASSERT_TRUE(startSystem());

    std::string socket = root_ + xpc::Connection::servicePath("com.example.ondemand");
    struct stat st{};
    ASSERT_EQ(lstat(socket.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_TRUE(probeStarts(record("com.example.ondemand")).empty()) << "started before any connection";

    std::optional<Value> first = whoami("com.example.ondemand");
    ASSERT_TRUE(first) << instance_->log();
    auto starts = probeStarts(record("com.example.ondemand"));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ((*first)["pid"].intValue(), starts[0].pid);
    EXPECT_TRUE((*first)["adopted"].boolValue());
    EXPECT_EQ(starts[0].services, "com.example.ondemand");
    // A second client reaches the same process.
    std::optional<Value> second = whoami("com.example.ondemand");
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)["pid"].intValue(), starts[0].pid);

    // Unloaded, the service is gone: a client learns it through its error handler.
    EXPECT_EQ(launchctl(root_, {"unload", "/Library/LaunchDaemons/com.example.ondemand.plist"}).status, 0);
    EXPECT_NE(lstat(socket.c_str(), &st), 0);
    EXPECT_FALSE(whoami("com.example.ondemand"));
    dispatch::MainLoop::resetForTesting();
}

TEST_F(LaunchdTest, UnloadStopsAJobWithSIGTERMAndKillsOneThatIgnoresItAfterTheExitTimeout) {
    writeJob(root_, "/Library/LaunchDaemons/polite.plist", probeJob("com.example.polite", "wait"));
    writeJob(root_, "/Library/LaunchDaemons/stubborn.plist", probeJob("com.example.stubborn", "ignore-term"));
    ASSERT_TRUE(startSystem({"--throttle-interval", "1", "--exit-timeout", "1.5"}));
    for (const char* path : {"/Library/LaunchDaemons/polite.plist", "/Library/LaunchDaemons/stubborn.plist"})
        EXPECT_EQ(launchctl(root_, {"unload", path}).status, 0);
    // Loaded again by hand (with RunAtLoad) and unloaded.
    for (const char* name : {"polite", "stubborn"}) {
        Value job = probeJob(std::string("com.example.") + name, name == std::string("polite") ? "wait" : "ignore-term");
        job.set("RunAtLoad", Value(true));
        writeJob(root_, std::string("/Library/LaunchDaemons/") + name + ".plist", job);
        std::string path = std::string("/Library/LaunchDaemons/") + name + ".plist";
        CommandResult loaded = launchctl(root_, {"load", path});
        ASSERT_EQ(loaded.status, 0) << loaded.output;
        ASSERT_TRUE(waitUntil([&] { return probeStarts(record(std::string("com.example.") + name)).size() == 1; }));
    }
    // Give the stubborn one time to have its SIGTERM disposition in place.
    ASSERT_TRUE(waitUntil([&] { return listed().find("com.example.stubborn") != std::string::npos; }));
    pid_t stubborn = probeStarts(record("com.example.stubborn"))[0].pid;

    auto began = std::chrono::steady_clock::now();
    CommandResult polite = launchctl(root_, {"unload", "/Library/LaunchDaemons/polite.plist"});
    EXPECT_EQ(polite.status, 0) << polite.output;
    EXPECT_TRUE(instance_->logged("com.example.polite: exited with status 0")) << instance_->log();
    began = std::chrono::steady_clock::now();
    CommandResult killed = launchctl(root_, {"unload", "/Library/LaunchDaemons/stubborn.plist"});
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(killed.status, 0) << killed.output;
    EXPECT_GE(waited, 1.4);
    EXPECT_TRUE(instance_->logged("com.example.stubborn: still running 2 s after SIGTERM, sending SIGKILL") ||
                instance_->logged("com.example.stubborn: still running"))
        << instance_->log();
    EXPECT_TRUE(instance_->logged("com.example.stubborn: killed by signal 9")) << instance_->log();
    EXPECT_NE(kill(stubborn, 0), 0);
    std::string list = listed();
    EXPECT_EQ(list.find("com.example."), std::string::npos) << list;
    // Unloading what is not loaded is an error.
    EXPECT_NE(launchctl(root_, {"unload", "/Library/LaunchDaemons/polite.plist"}).status, 0);
}

TEST_F(LaunchdTest, AJobFileOrProgramThatAnyoneButRootCouldHaveWrittenIsRefusedWithTheReasonLogged) {
    ASSERT_TRUE(startSystem());
    // A program of the tests' own, writable by everybody.
    std::filesystem::copy_file(kJobProbe, root_ + "/usr/libexec/open_probe");
    chmod((root_ + "/usr/libexec/open_probe").c_str(), 0777);
    Value openProgram = probeJob("com.example.openprogram", "wait");
    openProgram.set("ProgramArguments",
                    Value(ValueArray{Value("/usr/libexec/open_probe"), Value(record("com.example.openprogram")), Value("wait")}));
    struct Case {
        const char* label;
        Value job;
        uid_t owner;
        mode_t mode;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"com.example.foreign", probeJob("com.example.foreign", "wait"), 65534, 0644, "is owned by uid 65534, not by root"},
        {"com.example.writable", probeJob("com.example.writable", "wait"), 0, 0666, "is writable by group or others"},
        {"com.example.groupwritable", probeJob("com.example.groupwritable", "wait"), 0, 0664, "is writable by group or others"},
        {"com.example.openprogram", openProgram, 0, 0644, "/usr/libexec/open_probe is writable by group or others"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Value job = c.job;
        job.set("RunAtLoad", Value(true));
        std::string path = std::string("/Library/LaunchDaemons/") + c.label + ".plist";
        writeJob(root_, path, job, c.owner, c.mode);
        CommandResult r = launchctl(root_, {"load", "-w", path});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output;
        EXPECT_TRUE(instance_->logged("refused " + path + ": ")) << instance_->log();
    }
    // Nor are they loaded at the next start.
    instance_->stop();
    ASSERT_TRUE(startSystem());
    EXPECT_EQ(listed().find("com.example."), std::string::npos) << listed();
    for (const auto& c : cases) EXPECT_TRUE(probeStarts(record(c.label)).empty()) << c.label;
    // A damaged job file and one without a program are refused too.
    std::filesystem::create_directories(root_ + "/Library/LaunchDaemons");
    { std::ofstream(root_ + "/Library/LaunchDaemons/damaged.plist") << "<plist><dict><key>Label"; }
    writeJob(root_, "/Library/LaunchDaemons/noprogram.plist", Value(ValueDictionary{{"Label", Value("com.example.np")}}));
    EXPECT_NE(launchctl(root_, {"load", "/Library/LaunchDaemons/damaged.plist"}).status, 0);
    CommandResult np = launchctl(root_, {"load", "/Library/LaunchDaemons/noprogram.plist"});
    EXPECT_NE(np.status, 0);
    EXPECT_NE(np.output.find("neither Program nor ProgramArguments"), std::string::npos) << np.output;
}

TEST_F(LaunchdTest, SocketsFoldersAndDisabledOverridesSurviveARestartOfTheInstance) {
    Value service = probeJob("com.example.service", "serve", "com.example.service");
    service.set("MachServices", Value(ValueDictionary{{"com.example.service", Value(true)}}));
    writeJob(root_, "/Library/LaunchDaemons/service.plist", service);
    Value atLoad = probeJob("com.example.switched", "wait");
    atLoad.set("RunAtLoad", Value(true));
    writeJob(root_, "/Library/LaunchDaemons/switched.plist", atLoad);
    // A job file that says Disabled loads only with -w.
    Value disabled = probeJob("com.example.disabled", "wait");
    disabled.set("Disabled", Value(true));
    writeJob(root_, "/Library/LaunchDaemons/disabled.plist", disabled);
    ASSERT_TRUE(startSystem());
    EXPECT_EQ(listed().find("com.example.disabled"), std::string::npos);
    EXPECT_NE(launchctl(root_, {"load", "/Library/LaunchDaemons/disabled.plist"}).status, 0);
    EXPECT_EQ(launchctl(root_, {"load", "-w", "/Library/LaunchDaemons/disabled.plist"}).status, 0);
    EXPECT_EQ(launchctl(root_, {"unload", "-w", "/Library/LaunchDaemons/switched.plist"}).status, 0);
    ASSERT_TRUE(whoami("com.example.service"));

    // The override file is root's, and no one else may write it.
    struct stat st{};
    ASSERT_EQ(stat((root_ + launchd::systemOverridesPath()).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 022, 0u);

    EXPECT_EQ(instance_->stop(), 0);
    // Stopped: no socket answers.
    EXPECT_FALSE(whoami("com.example.service"));
    ASSERT_TRUE(startSystem());
    std::string list = listed();
    EXPECT_EQ(list.find("com.example.switched"), std::string::npos) << list;
    EXPECT_NE(list.find("com.example.disabled"), std::string::npos) << list;
    EXPECT_NE(list.find("com.example.service"), std::string::npos) << list;
    std::optional<Value> again = whoami("com.example.service");
    ASSERT_TRUE(again) << instance_->log();
    EXPECT_TRUE((*again)["adopted"].boolValue());
    EXPECT_EQ(probeStarts(record("com.example.switched")).size(), 1u);
    // The shared run folders as the system instance makes them.
    ASSERT_EQ(stat((root_ + launchd::kNotificationsFolder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    ASSERT_EQ(stat((root_ + xpc::kServiceFolder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    // A second instance on the same root does not take the first one's place.
    LaunchdProcess second(root_, 0, {});
    second.start();
    EXPECT_TRUE(waitUntil([&] { return second.logged("an instance already answers"); })) << second.log();
    EXPECT_EQ(launchctl(root_, {"load", "-w", "/Library/LaunchDaemons/switched.plist"}).status, 0);
    EXPECT_TRUE(waitUntil([&] { return probeStarts(record("com.example.switched")).size() == 2; }));
    dispatch::MainLoop::resetForTesting();
}

}  // namespace
