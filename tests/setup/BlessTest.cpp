// Blessing through the system launcher, as a real user: the helper that the caller's own
// application carries is checked and installed on the root side, and refused (logged, nothing
// copied) when the caller lacks the right or a valid signature, or the helper is not the
// maker's helper of that label.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "SetupFixture.h"
#include "platform/launchd/ServiceManagement.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class BlessTest : public SetupFixture {
protected:
    // Nothing of the helper's reached root's folders: no program, no temporary copy, no job.
    void expectNothingCopied() {
        if (std::filesystem::exists(hostPath("/Library/PrivilegedHelperTools"))) {
            EXPECT_TRUE(std::filesystem::is_empty(hostPath("/Library/PrivilegedHelperTools")));
        }
        EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperJobFile)));
        EXPECT_FALSE(listed(kHelperLabel));
    }
    std::string downloads() const { return home_ + "/Downloads/Telvo Server.app"; }
};

TEST_F(BlessTest, TheRightfulCallersHelperIsInstalledListedReplacedAndRemoved) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    int status = -1;
    std::string out = runHost(app, {"bless", kHelperLabel}, &status);
    EXPECT_EQ(status, 0) << out << launchd_->log();
    EXPECT_NE(out.find("auth 0\nbless ok\n"), std::string::npos) << out;
    EXPECT_EQ(statOf(kHelperProgram), "544 0:0 regular file\n");
    EXPECT_EQ(statOf(kHelperJobFile), "644 0:0 regular file\n");
    EXPECT_TRUE(listed(kHelperLabel)) << launchctl(root_, {"list"}).output;
    EXPECT_EQ(prompts().size(), 1u);

    // The job's dictionary: the list embedded in the helper plus the program's path.
    Value job = launchd::SMJobCopyDictionary(launchd::kSMDomainSystemLaunchd, kHelperLabel);
    ASSERT_TRUE(job.isDictionary());
    EXPECT_EQ(job["Label"].string(), kHelperLabel);
    ASSERT_EQ(job["ProgramArguments"].array().size(), 1u);
    EXPECT_EQ(job["ProgramArguments"].array()[0].string(), kHelperProgram);
    EXPECT_TRUE(job["MachServices"][kHelperLabel].boolValue());
    EXPECT_TRUE(launchd::SMJobCopyDictionary(launchd::kSMDomainSystemLaunchd, "com.kestro.nothing").isNull());

    // Blessed again by a new process: asked again, the job unloaded and loaded again.
    out = runHost(app, {"bless", kHelperLabel}, &status);
    EXPECT_EQ(status, 0) << out << launchd_->log();
    EXPECT_TRUE(listed(kHelperLabel));
    EXPECT_EQ(prompts().size(), 2u);
    EXPECT_TRUE(launchd_->logged("com.kestro.telvoserver.installerhelper: unloaded")) << launchd_->log();

    // Removed: the job and its file.
    out = runHost(app, {"remove", kHelperLabel}, &status);
    EXPECT_EQ(status, 0) << out << launchd_->log();
    EXPECT_FALSE(listed(kHelperLabel));
    EXPECT_FALSE(std::filesystem::exists(hostPath(kHelperJobFile)));
}

TEST_F(BlessTest, RefusalsAreAnsweredAndLoggedAndCopyNothing) {
    struct Case {
        const char* name;
        const char* policy;
        const char* helperIdentifier;  // how the helper inside is signed
        bool askRights;
        int tamper;  // 0 none, 1 the helper, 2 the caller unsigned, 3 a link on the way to the helper
        const char* logged;
    };
    const Case cases[] = {
        {"no right asked", "allow", kHelperLabel, false, 0, "does not hold the right to bless helpers"},
        {"the right denied", "deny", kHelperLabel, true, 0, "does not hold the right to bless helpers"},
        {"unsigned caller", "allow", kHelperLabel, true, 2, "the caller is not validly signed"},
        {"tampered helper", "allow", kHelperLabel, true, 1, "is not validly signed"},
        {"another identifier", "allow", "com.kestro.telvoserver.other", true, 0, "not as \"com.kestro.telvoserver.installerhelper\""},
        {"a linked folder", "allow", kHelperLabel, true, 3, "without following a link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setPolicy(std::string(kBlessRight) + " " + c.policy + "\n");
        const std::string app = makeApplication(downloads(), c.helperIdentifier, c.tamper != 2);
        if (c.tamper == 1) {
            // One byte of the helper's code changed after it was signed; the bundle sealed again.
            const std::string helper = hostPath(app + "/Contents/Library/LaunchServices/" + kHelperLabel);
            std::fstream f(helper, std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(0x1000);
            char b = 0;
            f.read(&b, 1);
            f.seekp(0x1000);
            b ^= 0x5a;
            f.write(&b, 1);
            f.close();
            signApplication(app);
        }
        if (c.tamper == 3) {
            // The helper's folder swapped for a link to a copy elsewhere, after signing.
            const std::string folder = hostPath(app + "/Contents/Library/LaunchServices");
            const std::string elsewhere = hostPath(home_ + "/elsewhere");
            std::filesystem::remove_all(elsewhere);
            std::filesystem::rename(folder, elsewhere);
            std::filesystem::create_directory_symlink(elsewhere, folder);
        }
        int status = -1;
        std::string out = runHost(app, c.askRights ? std::vector<std::string>{"bless", kHelperLabel}
                                                   : std::vector<std::string>{"bless", kHelperLabel, "--no-rights"},
                                  &status);
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("bless error"), std::string::npos) << out;
        EXPECT_NE(out.find(c.logged), std::string::npos) << out;
        EXPECT_TRUE(launchd_->logged(std::string("refused to bless com.kestro.telvoserver.installerhelper")) &&
                    launchd_->logged(c.logged))
            << launchd_->log();
        expectNothingCopied();
    }
}

TEST_F(BlessTest, AUsersFloodOfRequestsIsBoundedAndRootStillServed) {
    setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = makeApplication(downloads());
    std::vector<std::unique_ptr<helper::Client>> hosts;
    for (int i = 0; i < 12; ++i) hosts.push_back(host(app, {"bless", kHelperLabel}));
    // Root's own requests are answered meanwhile.
    EXPECT_EQ(launchctl(root_, {"list"}).status, 0);
    // Each one ends with an answer (blessed, or refused while too many were in flight).
    int ok = 0;
    for (auto& h : hosts) {
        h->waitExit();
        EXPECT_TRUE(h->has("bless ok") || h->has("bless error")) << h->output();
        if (h->has("bless ok")) ++ok;
    }
    EXPECT_GE(ok, 1) << launchd_->log();
    for (const auto& entry : std::filesystem::directory_iterator(hostPath("/Library/PrivilegedHelperTools")))
        EXPECT_EQ(entry.path().filename(), kHelperLabel);
    EXPECT_TRUE(listed(kHelperLabel));
    EXPECT_EQ(statOf(kHelperProgram), "544 0:0 regular file\n");
}

}  // namespace
