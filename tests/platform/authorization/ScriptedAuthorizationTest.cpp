// The authorization stand-in on its scripted backend: statuses per right and answer, the
// questions each caller's flow asks, the privileged tool run, and the root side's check.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"
#include "platform/authorization/Trampoline.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"

extern char** environ;

using namespace telvo;
using namespace telvo::authorization;

namespace {

const std::string kAdmin = kAuthorizationRightExecute;
const std::string kBless = kSMRightBlessPrivilegedHelper;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? pid : -1;
}

class ScriptedAuthorizationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "the scripted backend serves root processes only";
        char pattern[] = "/tmp/authorization-test-XXXXXX";
        root_ = mkdtemp(pattern);
        fs::setRootForTesting(root_);
        setTrampolineForTesting(std::string(TELVO_BINARY_DIR) + "/programs/telvo-privileged-exec/telvo-privileged-exec");
        platform::Clock::useVirtual(1.8e9);
        policy({});
    }
    void TearDown() override {
        if (root_.empty()) return;
        platform::Clock::resetForTesting();
        setTrampolineForTesting("");
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    // Scripts the answers: lines "<right> allow|deny|cancel".
    void policy(const std::vector<std::string>& lines) {
        std::string text = "# scripted answers\n";
        for (const auto& l : lines) text += l + "\n";
        std::filesystem::create_directories(host("/etc/telvo/authorization"));
        std::ofstream(host(scripted::kPolicyPath)) << text;
        chmod(host(scripted::kPolicyPath).c_str(), 0644);
    }
    std::string host(const std::string& path) const { return root_ + path; }
    std::string root_;
};

TEST_F(ScriptedAuthorizationTest, EachRightGivesTheStatusOfTheUsersAnswerAfterOneQuestion) {
    struct Case {
        std::string right, answer;
        OSStatus status;
    };
    const Case cases[] = {
        {kAdmin, "allow", errAuthorizationSuccess},  {kAdmin, "deny", errAuthorizationDenied},
        {kAdmin, "cancel", errAuthorizationCanceled}, {kBless, "allow", errAuthorizationSuccess},
        {kBless, "deny", errAuthorizationDenied},    {kBless, "cancel", errAuthorizationCanceled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.right + " " + c.answer);
        for (bool throughCreate : {true, false}) {
            std::filesystem::remove_all(host(scripted::kStateFolder));
            // The other right is refused, so that a mix-up shows.
            policy({c.right + " " + c.answer, (c.right == kAdmin ? kBless : kAdmin) + " deny"});
            AuthorizationRef ref = nullptr;
            AuthorizationRights rights = {c.right};
            if (throughCreate) {
                EXPECT_EQ(AuthorizationCreate(&rights, kAuthorizationFlagsAskUser, &ref), c.status);
                EXPECT_EQ(ref != nullptr, c.status == errAuthorizationSuccess);
            } else {
                ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
                EXPECT_EQ(AuthorizationCopyRights(ref, rights, kAuthorizationFlagsAskUser), c.status);
            }
            EXPECT_EQ(scripted::prompts(), std::vector<std::string>{c.right});
            // Granted rights are held: asking again without extending them asks nobody.
            if (ref) {
                EXPECT_EQ(AuthorizationCopyRights(ref, rights, kAuthorizationFlagDefaults),
                          c.status == errAuthorizationSuccess ? errAuthorizationSuccess : errAuthorizationDenied);
                EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), errAuthorizationSuccess);
            }
            EXPECT_EQ(scripted::prompts().size(), 1u);
        }
    }
}

TEST_F(ScriptedAuthorizationTest, NobodyIsAskedWithoutInteractionOrExtensionOrForUnknownRights) {
    for (const char* answer : {"allow", "deny", "cancel"}) {
        SCOPED_TRACE(answer);
        policy({kAdmin + " " + answer, kBless + " " + answer, "com.example.other allow"});
        AuthorizationRef ref = nullptr;
        ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
        // Extend without interaction: the answer needs the user.
        EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagExtendRights),
                  errAuthorizationInteractionNotAllowed);
        EXPECT_EQ(AuthorizationCopyRights(ref, {kBless},
                                          kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize),
                  errAuthorizationInteractionNotAllowed);
        AuthorizationRights both = {kAdmin, kBless};
        EXPECT_EQ(AuthorizationCreate(&both, kAuthorizationFlagExtendRights, nullptr),
                  errAuthorizationInteractionNotAllowed);
        // No extension: only held rights count.
        EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagInteractionAllowed),
                  errAuthorizationDenied);
        // Rights we do not know are never asked for.
        EXPECT_EQ(AuthorizationCopyRights(ref, {"com.example.other"}, kAuthorizationFlagsAskUser),
                  errAuthorizationDenied);
        EXPECT_EQ(AuthorizationCopyRights(ref, {"system.privilege.admin.other"}, kAuthorizationFlagsAskUser),
                  errAuthorizationDenied);
        EXPECT_TRUE(scripted::prompts().empty());
        AuthorizationFree(ref, kAuthorizationFlagDefaults);
    }
    // A right the policy does not script is denied without a question.
    policy({kBless + " allow"});
    AuthorizationRights admin = {kAdmin};
    EXPECT_EQ(AuthorizationCreate(&admin, kAuthorizationFlagsAskUser, nullptr),
              errAuthorizationDenied);
    EXPECT_TRUE(scripted::prompts().empty());
}

TEST_F(ScriptedAuthorizationTest, AReferenceWithoutRightsIsMadeWhateverTheBackendWouldSay) {
    // The update installer and the older install route retry for as long as this is denied.
    policy({kAdmin + " deny", kBless + " deny"});
    AuthorizationRights none;
    const AuthorizationRights* noRights[] = {nullptr, &none};
    for (const AuthorizationRights* rights : noRights) {
        for (AuthorizationFlags flags : {kAuthorizationFlagDefaults, kAuthorizationFlagsAskUser}) {
            AuthorizationRef ref = nullptr;
            EXPECT_EQ(AuthorizationCreate(rights, flags, &ref), errAuthorizationSuccess);
            ASSERT_NE(ref, nullptr);
            EXPECT_EQ(AuthorizationCopyRights(ref, {}, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
            EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), errAuthorizationSuccess);
        }
    }
    // Even when the backend is broken: the scripted state cannot be kept.
    std::filesystem::create_directories(host("/var/run/telvo"));
    std::ofstream(host(scripted::kStateFolder)) << "not a folder";
    AuthorizationRef ref = nullptr;
    EXPECT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagsAskUser), errAuthorizationInternal);
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
    std::filesystem::remove(host(scripted::kStateFolder));
    EXPECT_TRUE(scripted::prompts().empty());
    // Bad flags are refused, not taken for something else.
    EXPECT_EQ(AuthorizationCreate(nullptr, 4, &ref), errAuthorizationInvalidFlags);
    EXPECT_EQ(ref, nullptr);
}

TEST_F(ScriptedAuthorizationTest, EachCallersFlowAsksAsOftenAsItShould) {
    policy({kAdmin + " allow", kBless + " allow"});
    int exitStatus = -1;

    // Update installer with administrator rights: one question, then three tools run.
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    EXPECT_TRUE(scripted::prompts().empty());
    ASSERT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/true", {}, &exitStatus),
                  errAuthorizationSuccess);
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
    EXPECT_EQ(scripted::prompts(), std::vector<std::string>{kAdmin});

    // Settings gated by the right ask anew, and an administrator's answer is kept for five
    // minutes for this process.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
        EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
        AuthorizationFree(ref, kAuthorizationFlagDefaults);
    }
    EXPECT_EQ(scripted::prompts().size(), 1u);
    platform::Clock::advance(scripted::kKeepSeconds + 1);
    ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagExtendRights),
              errAuthorizationInteractionNotAllowed);
    // The older install route: the tool is run with the right it was just given.
    EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/sh", {"-c", "exit 0", "uninstall"}, &exitStatus),
              errAuthorizationSuccess);
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
    EXPECT_EQ(scripted::prompts(), (std::vector<std::string>{kAdmin, kAdmin}));

    // The setup plug-in's install: one question for the helper right; the blessing service
    // (root side) then finds it granted to this process without asking again.
    AuthorizationRights bless = {kBless};
    ASSERT_EQ(AuthorizationCreate(&bless, kAuthorizationFlagsAskUser, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCheckCaller(getpid(), geteuid(), kBless, kAuthorizationFlagDefaults),
              errAuthorizationSuccess);
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
    EXPECT_EQ(scripted::prompts(), (std::vector<std::string>{kAdmin, kAdmin, kBless}));
}

TEST_F(ScriptedAuthorizationTest, TheRootSideDecidesFromTheCallersCredentials) {
    policy({kAdmin + " allow", kBless + " deny"});
    AuthorizationRights admin = {kAdmin};
    ASSERT_EQ(AuthorizationCreate(&admin, kAuthorizationFlagsAskUser, nullptr),
              errAuthorizationSuccess);
    // Granted to this process only: not to another process, not to this pid under another user.
    pid_t other = spawn({"/bin/sleep", "30"});
    ASSERT_GT(other, 0);
    EXPECT_EQ(AuthorizationCheckCaller(getpid(), geteuid(), kAdmin, kAuthorizationFlagDefaults),
              errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCheckCaller(other, geteuid(), kAdmin, kAuthorizationFlagDefaults),
              errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(AuthorizationCheckCaller(getpid(), 12345, kAdmin, kAuthorizationFlagDefaults),
              errAuthorizationInteractionNotAllowed);
    EXPECT_EQ(scripted::prompts().size(), 1u);
    // Asking the other process's user counts a question and gives the scripted answer.
    EXPECT_EQ(AuthorizationCheckCaller(other, geteuid(), kBless, kAuthorizationFlagsAskUser), errAuthorizationDenied);
    EXPECT_EQ(AuthorizationCheckCaller(other, geteuid(), kAdmin, kAuthorizationFlagsAskUser), errAuthorizationSuccess);
    EXPECT_EQ(scripted::prompts(), (std::vector<std::string>{kAdmin, kBless, kAdmin}));
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    // A process that ended is refused.
    EXPECT_EQ(AuthorizationCheckCaller(other, geteuid(), kAdmin, kAuthorizationFlagsAskUser), errAuthorizationDenied);
    EXPECT_EQ(AuthorizationCheckCaller(-1, 0, kAdmin, kAuthorizationFlagsAskUser), errAuthorizationDenied);
}

TEST_F(ScriptedAuthorizationTest, ARunWaitsForItsToolAndAnswersItsStatusInAFixedEnvironment) {
    policy({kAdmin + " allow"});
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    setenv("TELVO_AUTHORIZATION_LEAK", "1", 1);

    // The right is asked for by the run itself when the reference lacks it.
    std::string out = root_ + "/tool-output";
    int exitStatus = -1;
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(
                  ref, "/bin/sh",
                  {"-c", "sleep 0.2; { env; pwd; umask; readlink /proc/self/fd/0; } > \"$1\"; exit 7", "tool", out},
                  &exitStatus),
              errAuthorizationSuccess);
    unsetenv("TELVO_AUTHORIZATION_LEAK");
    EXPECT_EQ(exitStatus, 7);
    EXPECT_EQ(scripted::prompts().size(), 1u);
    std::string text = readAll(out);  // written before the tool ended, so already there
    EXPECT_NE(text.find("TELVO_ROOT=" + root_ + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos);
    EXPECT_NE(text.find("\n/\n0022\n/dev/null\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("TELVO_AUTHORIZATION_LEAK"), std::string::npos) << text;
    EXPECT_EQ(text.find("PKEXEC_UID"), std::string::npos) << text;

    // A tool ended by a signal.
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/sh", {"-c", "kill -TERM $$"}, &exitStatus),
              errAuthorizationSuccess);
    EXPECT_EQ(exitStatus, 128 + SIGTERM);

    // It waits for its own child, not for another that ended first, and works with the
    // child-ended signal ignored, which it leaves as it found it.
    pid_t earlier = spawn({"/bin/true"});
    ASSERT_GT(earlier, 0);
    // Ended (left unreaped) before the signal is ignored: a child that ends while it is ignored
    // is reaped by the kernel at once.
    siginfo_t ended {};
    ASSERT_EQ(waitid(P_PID, id_t(earlier), &ended, WEXITED | WNOWAIT), 0);
    struct sigaction ignore {}, previous {}, after {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/sh", {"-c", "sleep 0.2; exit 3"}, &exitStatus),
              errAuthorizationSuccess);
    EXPECT_EQ(exitStatus, 3);
    sigaction(SIGCHLD, &previous, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
    int status = -1;
    EXPECT_EQ(waitpid(earlier, &status, 0), earlier);  // still there to be reaped
    AuthorizationFree(ref, kAuthorizationFlagDefaults);
}

TEST_F(ScriptedAuthorizationTest, ARunThatCannotStartOrIsRefusedRunsNothing) {
    std::string marker = root_ + "/ran";
    std::vector<std::string> touch = {"-c", "touch \"$1\"", "tool", marker};
    int exitStatus = 5;
    for (const char* answer : {"deny", "cancel"}) {
        policy({kAdmin + " " + answer});
        AuthorizationRef ref = nullptr;
        ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
        EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/sh", touch, &exitStatus),
                  std::string(answer) == "deny" ? errAuthorizationDenied : errAuthorizationCanceled);
        EXPECT_EQ(exitStatus, -1);
        AuthorizationFree(ref, kAuthorizationFlagDefaults);
    }
    EXPECT_FALSE(std::filesystem::exists(marker));

    policy({kAdmin + " allow"});
    AuthorizationRef ref = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, root_ + "/no-such-tool", {}, &exitStatus),
              errAuthorizationToolExecuteFailure);
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "bin/sh", touch, &exitStatus),
              errAuthorizationToolExecuteFailure);
    setTrampolineForTesting(root_ + "/no-trampoline");
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(ref, "/bin/sh", touch, &exitStatus),
              errAuthorizationToolExecuteFailure);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(AuthorizationExecuteWithPrivilegesAndWait(nullptr, "/bin/sh", touch, &exitStatus),
              errAuthorizationInvalidRef);

    // Freeing: once, and only what was made.
    EXPECT_EQ(AuthorizationFree(ref, 8), errAuthorizationInvalidFlags);
    EXPECT_EQ(AuthorizationFree(ref, kAuthorizationFlagDefaults), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationFree(nullptr, kAuthorizationFlagDefaults), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationCopyRights(ref, {kAdmin}, kAuthorizationFlagsAskUser), errAuthorizationInvalidRef);
}

TEST_F(ScriptedAuthorizationTest, OnlyARootOwnedPolicyFileNobodyElseMayWriteSelectsTheScriptedBackend) {
    std::string file = host(scripted::kPolicyPath), folder = host("/etc/telvo/authorization");
    EXPECT_TRUE(scripted::isSelected());
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(scripted::isSelected());
    ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    chmod(file.c_str(), 0664);
    EXPECT_FALSE(scripted::isSelected());
    chmod(file.c_str(), 0644);
    chmod(folder.c_str(), 0777);
    EXPECT_FALSE(scripted::isSelected());
    chmod(folder.c_str(), 0755);
    std::filesystem::rename(file, file + ".real");
    std::filesystem::create_symlink(file + ".real", file);
    EXPECT_FALSE(scripted::isSelected());
    std::filesystem::remove(file);
    EXPECT_FALSE(scripted::isSelected());
    // Nothing in the environment selects it.
    setenv("TELVO_AUTHORIZATION_BACKEND", "scripted", 1);
    EXPECT_FALSE(scripted::isSelected());
    unsetenv("TELVO_AUTHORIZATION_BACKEND");
}

TEST(AuthorizationTrampolineTest, TheToolsEnvironmentIsFixedAndTakesOnlyANumericCaller) {
    auto has = [](const std::vector<std::string>& env, const std::string& entry) {
        for (const auto& e : env)
            if (e == entry) return true;
        return false;
    };
    auto env = trampolineEnvironment("/srv/root", "1000");
    EXPECT_TRUE(has(env, "TELVO_ROOT=/srv/root"));
    EXPECT_TRUE(has(env, "PKEXEC_UID=1000"));
    EXPECT_TRUE(has(env, "SHELL=/bin/sh"));
    EXPECT_EQ(env.size(), 8u);
    for (const char* caller : {"", "10x", "1000\nLD_PRELOAD=/tmp/x.so", static_cast<const char*>(nullptr)}) {
        auto plain = trampolineEnvironment("/", caller);
        EXPECT_EQ(plain.size(), 7u);
        for (const auto& e : plain) EXPECT_NE(e.rfind("PKEXEC_UID", 0), 0u) << e;
    }
}

}  // namespace
