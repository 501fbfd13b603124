#pragma once
// A fresh file-system root for the setup plug-in and blessing tests: the maker's test anchor,
// the scripted authorization backend, a user made with useradd whose home is inside the root,
// the system launcher, and a signed copy of the assembled application in the user's
// "~/Downloads" with the test host as its executable and a signed helper inside.
#include <sys/types.h>
#include <memory>
#include <string>
#include "HelperClient.h"
#include "HelperFixture.h"
#include "platform/launchd/LaunchdProcess.h"

namespace telvo::testing {

constexpr const char* kHelperLabel = "com.kestro.telvoserver.installerhelper";
constexpr const char* kHelperProgram = "/Library/PrivilegedHelperTools/com.kestro.telvoserver.installerhelper";
constexpr const char* kHelperJobFile = "/Library/LaunchDaemons/com.kestro.telvoserver.installerhelper.plist";
constexpr const char* kBlessRight = "com.apple.ServiceManagement.blesshelper";

class SetupFixture : public HelperFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The scripted answers, one "<right> allow|deny|cancel" line each.
    void setPolicy(const std::string& lines);
    // The rights asked for so far.
    std::vector<std::string> prompts() const;

    // Copies the assembled application to the logical path `app` (the user's) with the test
    // host as its executable (or its own, with ownExecutable_); signs the helper (unless `helperIdentifier` is empty) and then
    // the whole application.
    // `from` is the assembled bundle to copy (the build's unless given).
    std::string makeApplication(const std::string& app, const std::string& helperIdentifier = kHelperLabel,
                                bool signApplication = true, const std::string& from = "");
    // Signs the application again (after a test changed something inside).
    void signApplication(const std::string& app);

    // The host run as the user from the application's executable.
    std::unique_ptr<helper::Client> host(const std::string& app, const std::vector<std::string>& arguments);
    // Runs it to its end; answers its output.
    std::string runHost(const std::string& app, const std::vector<std::string>& arguments, int* exitStatus = nullptr);

    std::string statOf(const std::string& path) const;  // "%a %u:%g %F"
    bool listed(const std::string& label) const;

    // The host path of a logical path.
    std::string hostPath(const std::string& path) const { return root_ + path; }

    std::string user_, home_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool made_ = false;
    std::unique_ptr<LaunchdProcess> launchd_;
    // Set by a test's constructor: this test process moves into network and mount namespaces
    // of its own (loopback only, no system bus) before the launcher starts, since the daemon
    // it installs serves on its default port.
    bool privateNetwork_ = false;
    // And the user's Aqua instance, with these variables besides.
    bool userInstance_ = false;
    std::vector<std::string> aquaEnvironment_;
    // The application keeps the bundle's own agent (signed with it) instead of a script that
    // waits; the Aqua instance's TMPDIR is then "~/tmp" (host path), the user's, 0700.
    bool realAgent_ = false;
    // Set by a test's constructor: the applications keep the control application as their
    // executable instead of the test host.
    bool ownExecutable_ = false;
    // The assembled bundle copied by makeApplication (empty: the build's 3.03 one).
    std::string sourceBundle_;
    // Keep the real agent (signed with the rest) instead of a script that waits, with the
    // Aqua instance's TMPDIR left as it is.
    bool ownAgent_ = false;
    std::unique_ptr<LaunchdProcess> aqua_;
};

}  // namespace telvo::testing
