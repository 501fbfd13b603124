// The desktop backend against a real polkitd, in a private mount namespace (see
// polkit-namespace.sh): a non-root user runs "id -u" as root through the stand-in when a rule
// says YES, and is denied (-60005) when it says NO; with no rule its password is asked once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/CommandOutput.h"

namespace {

bool hasLine(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

class AuthorizationPolkitTest : public ::testing::Test {
protected:
    // Runs polkit-namespace.sh in a new mount namespace with the probe, the trampoline, the
    // policy file and `mode`; its output in `out`. Skips when it cannot run here.
    void runScript(const std::string& mode) {
        if (geteuid() != 0) GTEST_SKIP() << "needs root: it mounts, adds a test user and starts polkitd";
        int status = 0;
        telvo::testing::commandOutput("unshare -m true 2>&1", status);
        if (status != 0) GTEST_SKIP() << "cannot make a mount namespace here (unshare -m)";
        const std::string command = std::string("unshare -m bash ") + TELVO_SOURCE_DIR +
                                    "/tests/platform/authorization/polkit-namespace.sh " + TELVO_BINARY_DIR +
                                    "/tests/programs/authorization-probe/authorization_probe " + TELVO_BINARY_DIR +
                                    "/programs/telvo-privileged-exec/telvo-privileged-exec " + TELVO_SOURCE_DIR +
                                    "/programs/telvo-privileged-exec/com.kestro.telvoserver.policy " + mode + " 2>&1";
        out = telvo::testing::commandOutput(command, status);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << out;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    }
    bool ran() const { return !IsSkipped() && !HasFailure(); }
    std::string out;
};

}  // namespace

TEST_F(AuthorizationPolkitTest, ANonRootUserRunsAToolAsRootOnlyWhenPolkitSaysYes) {
    runScript("");
    if (!ran()) return;

    // No rule: the administrator (the user) is asked once for the execute right, on the
    // probe's terminal, and pkexec finds the answer kept for the probe's process.
    for (const char* line : {"keep.create=0", "keep.copy=0", "keep.0", "keep.exec=0", "keep.exit=0", "keep.prompts=1"})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;

    // YES: no reference without rights is denied, the right is granted, and the tool runs as
    // root in the fixed environment (nothing of the caller's leaks through pkexec).
    for (const char* line : {"yes.create=0", "yes.copy=0", "yes.0", "yes.exec=0", "yes.exit=0", "yes.free=0",
                             "yesenv.PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                             "yesenv.USER=root", "yesenv.exec=0"})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
    EXPECT_NE(out.find("yesenv.TELVO_ROOT=/tmp/telvo-authz-"), std::string::npos) << out;
    EXPECT_NE(out.find("yesenv.PKEXEC_UID="), std::string::npos) << out;
    EXPECT_EQ(out.find("TELVO_PROBE_LEAK"), std::string::npos) << out;
    // The helper right needs an administrator and nobody can be asked here.
    EXPECT_TRUE(hasLine(out, "yesbless.copy=-60007")) << out;
    // The control application's request (a reference without rights, the right with flags 19,
    // freed) is granted.
    EXPECT_TRUE(hasLine(out, "yesauth.authorized=0")) << out;
    // The root side answers for the user's process from its credentials.
    EXPECT_TRUE(hasLine(out, "yescheck.check=0")) << out;

    // NO: denied before anything runs, on the caller's side and on the root side alike.
    for (const char* line : {"no.create=0", "no.copy=-60005", "no.exec=-60005", "no.exit=-1", "nocheck.check=-60005",
                             "nopkexec.exit=127", "nopkexec.output="})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
    EXPECT_FALSE(hasLine(out, "no.0")) << out;
    EXPECT_TRUE(hasLine(out, "noauth.authorized=-60005")) << out;
}

TEST_F(AuthorizationPolkitTest, AnAuthenticatedCopyReplacesTheApplicationOnlyWhenPolkitSaysYes) {
    runScript("install");
    if (!ran()) return;
    const size_t at = out.find("user.uid=");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string uid = out.substr(at + 9, out.find('\n', at) - at - 9);

    // YES, with no "/Applications": the folder made root 0755, the application moved in whole
    // (its link kept) and given to the user; no Trash was needed, none was filled.
    for (const std::string& line : {std::string("first.installed=1"), std::string("first.applications=755 0"),
                                    std::string("first.marker=one"), "first.owner=" + uid,
                                    std::string("first.link=../marker"), "first.trash=700 " + uid,
                                    std::string("first.trashed="), std::string("first.source=moved")})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
    // YES again: the new copy in place, the old one in the user's Trash.
    for (const std::string& line : {std::string("second.installed=1"), std::string("second.marker=two"),
                                    "second.owner=" + uid, std::string("second.trashed=Telvo Server.app:one,")})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
    // NO: nothing changed, the download where it was.
    for (const std::string& line : {std::string("third.installed=0"), std::string("third.marker=two"),
                                    std::string("third.trashed=Telvo Server.app:one,"), std::string("third.source=kept")})
        EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
}
