// The privileged helper's service in this process (root), with signed clients started as a
// real user made for the test: who is admitted, what an admitted caller may do, the replies,
// the logs, and connections replaced or gone.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include "HelperClient.h"
#include "codesign/TestPki.h"
#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "platform/process/ProcessIdentity.h"
#include <thread>
#include "helper/HelperController.h"
#include "helper/HelperService.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Signer.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"
#include "platform/xpc/PidFd.h"

extern char** environ;

namespace telvo::helper {
namespace {

using testing::TestPki;


class HelperServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the helper runs as root and checks callers by process id";
        if (!pki().ok) GTEST_SKIP() << "no test PKI: " << pki().failure;
        root_ = pki().root;
        fs::setRootForTesting(root_);
        std::random_device random;
        user_ = "tvs" + std::to_string(random() % 1000000);
        home_ = "/Users/" + user_;
        // The test user reaches its programs and the service socket under the root.
        testing::run("chmod 755 '" + root_ + "' && mkdir -p '" + root_ + "/Users'");
        ASSERT_EQ(testing::run("useradd -m -d '" + root_ + home_ + "' " + user_ + " >/dev/null 2>&1"), 0);
        struct passwd* pw = getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        scratch_ = "/helper-scratch-" + std::to_string(getpid());
        testing::run("mkdir -p '" + root_ + scratch_ + "' && chmod 755 '" + root_ + scratch_ + "'");
        systemlog::setCaptureForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            systemLog_.push_back(line);
        });
        HelperController::sharedHelper().resetForTesting();
        platform::ProcessIdentity::setBundleIdentifier(HelperService::kLabel);
        DDLogFileManagerDefault::resetForTesting();
        service_ = std::make_shared<HelperService>(HelperController::sharedHelper(), HelperService::Settings());
        ErrorPtr error = service_->start();
        ASSERT_FALSE(error) << error->description();
    }
    void TearDown() override {
        if (geteuid() != 0 || !pki().ok) return;
        HelperController& helper = HelperController::sharedHelper();
        if (helper.listener) helper.listener->invalidate();
        if (helper.connection) helper.connection->invalidate();
        dispatch::MainLoop::runUntil([] { return false; }, 0.2);
        helper.listener.reset();
        helper.connection.reset();
        if (helper.fileLogger) DDLog::removeLogger(helper.fileLogger);
        helper.fileLogger.reset();
        helper.resetForTesting();
        service_.reset();
        DDLog::resetForTesting();
        systemlog::setCaptureForTesting(nullptr);
        xpc::forcePidFdFallbackForTesting(false);
        platform::ProcessIdentity::resetForTesting();
        DDLogFileManagerDefault::resetForTesting();
        testing::run("userdel -r " + user_ + " >/dev/null 2>&1");
        testing::run("rm -rf '" + root_ + home_ + "' '" + root_ + scratch_ + "' '" + root_ + "/Library' '" + root_ +
                     "/Applications' '" + root_ + "/var/db/telvo'");
        fs::setRootForTesting("");
    }

    const TestPki& pki() const { return TestPki::shared(); }

    // A copy of the client signed with `leaf` and `chain` as `identifier` (unsigned for no leaf).
    std::string signedClient(const std::string& name, const std::string& leaf, const std::string& chain,
                             const std::string& identifier = "com.kestro.TelvoServer") {
        const std::string path = scratch_ + "/" + name;
        EXPECT_EQ(testing::run("cp '" + kClient + "' '" + root_ + path + "' && chmod 755 '" + root_ + path + "'"), 0);
        if (leaf.empty()) {
            std::string bytes;
            codesign::SectionRange range;
            EXPECT_TRUE(fs::readFile(path, bytes) && codesign::findSignatureSection(bytes, range));
            bytes.replace(range.offset, range.size, std::string(range.size, '\0'));
            EXPECT_TRUE(fs::writeFileAtomically(path, bytes, 0755));
        } else {
            ErrorPtr error;
            EXPECT_TRUE(codesign::signExecutable(path, identifier, pki().identity(leaf, chain), 0, &error))
                << (error ? error->message : "");
        }
        return root_ + path;
    }
    std::string listFile(const ValueArray& list) {
        static int counter = 0;
        const std::string path = root_ + scratch_ + "/list-" + std::to_string(counter++) + ".plist";
        std::ofstream(path) << plist::serialize(Value(list));
        return path;
    }
    std::unique_ptr<Client> start(const std::string& program, const ValueArray& list,
                                  std::vector<std::string> arguments = {}, std::vector<std::string> env = {}) {
        arguments.push_back(listFile(list));
        env.push_back("TELVO_ROOT=" + root_);
        env.push_back("HOME=" + root_ + home_);
        auto client = std::make_unique<Client>(program, arguments, env, uid_, gid_);
        EXPECT_TRUE(client->waitFor("ready\n"));
        return client;
    }
    std::vector<std::string> systemLog() {
        std::lock_guard<std::mutex> lock(logMutex_);
        return systemLog_;
    }
    bool logged(const std::string& text) {
        for (const std::string& line : systemLog())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    static Value step(const std::string& name, ValueDictionary keys = {}) {
        keys["command"] = Value(name);
        return Value(keys);
    }
    Value config() { return step("config", {{"log", Value(home_ + "/Library/Logs/Telvo Server/InstallerHelper")}}); }
    static Value finish() { return step("finish", {{"reply", Value(true)}}); }

    std::string root_, user_, home_, scratch_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::shared_ptr<HelperService> service_;
    std::mutex logMutex_;
    std::vector<std::string> systemLog_;
};

TEST_F(HelperServiceTest, RefusesCallersThatAreNotTheMakersSignedPrograms) {
    struct Case {
        const char* what;
        std::string program;
        std::vector<std::string> arguments;
        std::vector<std::string> env;
        std::string reason;
    };
    const std::string good = signedClient("good", "leaf", "devIdCA");
    const std::string flipped = signedClient("flipped", "leaf", "devIdCA");
    {
        std::fstream f(flipped, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(200);
        char c;
        f.seekg(200);
        f.get(c);
        f.seekp(200);
        f.put(char(c ^ 0x01));
    }
    std::vector<Case> cases = {
        {"unsigned", signedClient("unsigned", "", ""), {}, {}, "is not valid"},
        {"self-made chain", signedClient("rogue", "rogueLeaf", "rogueCA"), {}, {}, "is not valid"},
        {"flipped byte", flipped, {}, {}, "is not valid"},
        {"other identifier", signedClient("other", "leaf", "devIdCA", "com.kestro.Other"), {}, {}, "meets none"},
        {"wrong OU", signedClient("wrongou", "wrongOU", "devIdCA"), {}, {}, "meets none"},
        {"LD_PRELOAD", good, {}, {"LD_PRELOAD="}, "is not valid"},
        {"dumpable", good, {"--dumpable"}, {}, "is not valid"},
        {"traced", good, {}, {}, "is not valid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = systemLog().size();
        auto client = start(c.program, {Value(finish())}, c.arguments, c.env);
        bool traced = std::string(c.what) == "traced";
        if (traced) {
            ASSERT_EQ(ptrace(PTRACE_SEIZE, client->pid(), nullptr, nullptr), 0) << std::strerror(errno);
        }
        client->send("go");
        ASSERT_TRUE(client->waitFor("done\n")) << client->output();
        EXPECT_TRUE(client->has("error 0 ")) << client->output();
        EXPECT_FALSE(client->has("reply 0")) << client->output();
        bool found = false;
        std::vector<std::string> lines = systemLog();
        for (size_t i = before; i < lines.size(); ++i)
            found = found || (lines[i].find("Refused the connection") != std::string::npos &&
                              lines[i].find(c.reason) != std::string::npos);
        EXPECT_TRUE(found) << "no refusal logged with \"" << c.reason << "\"";
        if (traced) ptrace(PTRACE_DETACH, client->pid(), nullptr, nullptr);
    }

    // A good client passes, also when the caller is pinned by pidfd_open after the accept.
    for (bool fallback : {false, true}) {
        SCOPED_TRACE(fallback ? "pidfd_open" : "SO_PEERPIDFD");
        xpc::forcePidFdFallbackForTesting(fallback);
        auto client = start(good, {Value(finish())});
        client->send("go");
        ASSERT_TRUE(client->waitFor("done\n")) << client->output();
        EXPECT_TRUE(client->has("reply 0 ''")) << client->output();
    }
}

TEST_F(HelperServiceTest, AFloodOfRefusedCallersLeavesTheGoodOneServed) {
    const std::string bad = signedClient("unsigned", "", "");
    const std::string good = signedClient("good", "leaf", "devIdCA");
    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 24; ++i) flood.push_back(start(bad, {finish()}));
    auto client = start(good, {config(), finish()});
    for (auto& c : flood) c->send("go");
    client->send("go");
    ASSERT_TRUE(client->waitFor("done\n")) << client->output();
    EXPECT_TRUE(client->has("reply 1 ''")) << client->output();
    for (auto& c : flood) {
        ASSERT_TRUE(c->waitFor("done\n")) << c->output();
        EXPECT_TRUE(c->has("error 0 ")) << c->output();
    }
    EXPECT_EQ(HelperController::sharedHelper().listener->connections().size(), 1u) << "refused connections are not kept";
}

TEST_F(HelperServiceTest, AdmittedCallersAreRefusedWhatThePolicyDoesNotAllow) {
    const std::string good = signedClient("good", "leaf", "devIdCA");
    testing::run("mkdir -p '" + root_ + "/Users/other' && mkdir -p '" + root_ + "/etc-copy'");
    // A link planted where the log folder goes.
    testing::run("mkdir -p '" + root_ + home_ + "/Library/Logs' && ln -s '" + root_ + "/etc-copy' '" + root_ + home_ +
                 "/Library/Logs/Telvo Server' && chown -h " + user_ + " '" + root_ + home_ + "/Library/Logs/Telvo Server'");
    // A Trash that leads to /etc-copy.
    testing::run("ln -s '" + root_ + "/etc-copy' '" + root_ + home_ + "/.Trash' && chown -h " + user_ + " '" + root_ +
                 home_ + "/.Trash'");
    testing::run("mkdir -p '" + root_ + "/Applications/Telvo Server.app/Contents'");
    Bytes garbage(64, 0x5a);
    ValueArray list = {
        step("config", {{"log", Value("/Users/other/Library/Logs/Telvo Server/InstallerHelper")}}),
        config(),  // through the planted link
        step("system", {{"system", Value("touch /tmp/owned")}}),
        step("mkdir", {{"file", Value("/Library/Application Support/Telvo Server/")}, {"chmod", Value("4755")}}),
        step("mkdir", {{"file", Value("/Library/Application Support/Telvo Server/")}, {"chown", Value("0:0")}}),
        step("remove", {{"file", Value("/etc")}}),
        step("trash", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value(home_ + "/.Trash")}}),
        Value(ValueDictionary{{"__raw", Value(garbage)}, {"reply", Value(true)}}),
        step("touch", {{"file", Value("/Library/LaunchAgents/")}, {"nested", Value(ValueDictionary{{"a", Value(1)}})}}),
        finish(),
    };
    auto client = start(good, list);
    client->send("go");
    struct stat st;
    ASSERT_TRUE(client->waitFor("done\n")) << client->output();
    // Seven steps refused; the undecryptable message got no answer at all.
    EXPECT_TRUE(client->has("reply 9 '7'")) << client->output();
    EXPECT_FALSE(client->has("reply 7")) << client->output();
    EXPECT_FALSE(client->has("reply 8")) << client->output();
    EXPECT_TRUE(logged("the message could not be decrypted"));
    EXPECT_TRUE(logged("the message is not a flat dictionary"));
    EXPECT_NE(::stat((root_ + "/Library/LaunchAgents").c_str(), &st), 0) << "the nested message ran nothing";
    EXPECT_TRUE(logged("Refused a message of " + user_)) << "undecryptable";
    EXPECT_TRUE(logged("\"config\" logs only into"));
    EXPECT_TRUE(logged("is not run for callers"));
    EXPECT_TRUE(logged("mode \"4755\""));
    EXPECT_TRUE(logged("owner \"0:0\""));
    EXPECT_TRUE(logged("\"remove\" of /etc"));
    EXPECT_NE(::stat((root_ + "/tmp/owned").c_str(), &st), 0);
    EXPECT_NE(::stat("/tmp/owned", &st), 0);
    EXPECT_NE(::stat((root_ + "/Library/Application Support/Telvo Server").c_str(), &st), 0);
    EXPECT_EQ(::stat((root_ + "/Applications/Telvo Server.app").c_str(), &st), 0) << "the application stays";
    EXPECT_EQ(testing::run("[ -z \"$(ls -A '" + root_ + "/etc-copy')\" ]"), 0) << "nothing went through the links";
    EXPECT_EQ(testing::run("[ ! -e '" + root_ + "/Users/other/Library' ]"), 0);
}

TEST_F(HelperServiceTest, ConfigLogsForTheCallerAndAMissingSourceIsCounted) {
    const std::string good = signedClient("good", "leaf", "devIdCA");
    ValueArray list = {
        config(),
        step("mkdir", {{"file", Value("/Library/LaunchAgents/")}}),
        step("copy", {{"file", Value(home_ + "/Downloads/Telvo Server.app/Contents/Resources/SetupBundle.bundle/Contents/Resources/TelvoServerDaemon")},
                      {"dest", Value("/Library/Application Support/Telvo Server/TelvoServerDaemon")},
                      {"chown", Value("root")},
                      {"chmod", Value("755")}}),
        finish(),
    };
    auto client = start(good, list);
    client->send("go");
    ASSERT_TRUE(client->waitFor("done\n")) << client->output();
    EXPECT_TRUE(client->has("reply 3 '1'")) << client->output();
    DDLog::flushLog();
    const std::string logs = root_ + home_ + "/Library/Logs/Telvo Server/InstallerHelper";
    struct stat st;
    ASSERT_EQ(::stat(logs.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_);
    EXPECT_EQ(::stat((root_ + home_ + "/Library/Logs").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_);
    EXPECT_EQ(testing::run("test -n \"$(find '" + logs + "' -name 'com.kestro.telvoserver.installerhelper *.log' -user " +
                           user_ + " -size +0)\""),
              0);
    EXPECT_EQ(testing::run("grep -q 'mkdir' '" + logs + "'/*.log"), 0);
    EXPECT_FALSE(HelperController::sharedHelper().fileLogger) << "finish removed the logger";
}

TEST_F(HelperServiceTest, TheTrashOnAnotherFileSystemGetsTheCallersCopy) {
    // The Trash on a file system of its own (tmpfs, the user's), in a mount namespace of this test.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "cannot make a mount namespace: " << std::strerror(errno);
    const std::string trash = root_ + home_ + "/.Trash";
    ASSERT_EQ(::mkdir(trash.c_str(), 0700), 0);
    const std::string options = "size=16m,mode=0700,uid=" + std::to_string(uid_) + ",gid=" + std::to_string(gid_);
    ASSERT_EQ(::mount("tmpfs", trash.c_str(), "tmpfs", 0, options.c_str()), 0) << std::strerror(errno);
    testing::run("mkdir -p '" + root_ + "/Applications/Telvo Server.app/Contents/MacOS' && echo old > '" + root_ +
                 "/Applications/Telvo Server.app/Contents/MacOS/Telvo Server'");
    const std::string good = signedClient("good", "leaf", "devIdCA");
    auto client = start(good, {step("trash", {{"file", Value("/Applications/Telvo Server.app")}, {"dest", Value(home_ + "/.Trash")}}),
                               finish()});
    client->send("go");
    ASSERT_TRUE(client->waitFor("done\n")) << client->output();
    EXPECT_TRUE(client->has("reply 1 ''")) << client->output() << systemLog().size();
    struct stat st;
    EXPECT_NE(::lstat((root_ + "/Applications/Telvo Server.app").c_str(), &st), 0) << "the original is gone";
    ASSERT_EQ(::lstat((trash + "/Telvo Server.app/Contents/MacOS/Telvo Server").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_) << "the copy is the caller's";
    client.reset();
    ::umount2(trash.c_str(), MNT_DETACH);
}

TEST_F(HelperServiceTest, ANewerClientReplacesTheHeldOneAndAKilledClientLeavesItListening) {
    const std::string good = signedClient("good", "leaf", "devIdCA");
    auto first = start(good, {Value(step("sleep", {{"time", Value(3.0)}})), Value(finish())});
    auto second = start(good, {Value(finish())});
    first->send("go");
    // The steps run on this thread: the second client connects while the first one's sleep
    // holds it, without this thread running any step meanwhile.
    for (int i = 0; i < 6000 && !HelperController::sharedHelper().connection; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(HelperController::sharedHelper().connection);
    second->send("go");
    ASSERT_TRUE(second->waitFor("done\n")) << second->output();
    EXPECT_TRUE(second->has("reply 0 ''")) << second->output();
    ASSERT_TRUE(first->waitFor("done\n")) << first->output();
    EXPECT_TRUE(first->has("error 1 ")) << first->output();
    EXPECT_FALSE(first->has("reply 1")) << first->output();

    // Killed while held: the helper drops it and admits the next one.
    auto third = start(good, {Value(finish())});
    third->send("go");
    ASSERT_TRUE(third->waitFor("done\n"));
    kill(third->pid(), SIGKILL);
    third->waitExit();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return !HelperController::sharedHelper().connection; }, 60));
    auto fourth = start(good, {Value(finish())});
    fourth->send("go");
    ASSERT_TRUE(fourth->waitFor("done\n")) << fourth->output();
    EXPECT_TRUE(fourth->has("reply 0 ''")) << fourth->output();
}

}  // namespace
}  // namespace telvo::helper
