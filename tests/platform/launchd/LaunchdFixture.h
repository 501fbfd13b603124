#pragma once
// The fixture of the launcher's tests: as root, a private file-system root holding a copy of
// the probe job and a folder anyone may write its records to, and a local user made for the
// test where one is asked for; both removed after the test.
#include <gtest/gtest.h>
#include <sys/types.h>
#include <memory>
#include <string>
#include <vector>
#include "platform/launchd/LaunchdProcess.h"
#include "platform/values/Value.h"

namespace telvo::testing {

class LaunchdFixture : public ::testing::Test {
protected:
    // The probe job's program, under the root.
    static constexpr const char* kProbe = "/usr/libexec/launchd_job_probe";

    enum class TestUser { kNone, kWithHome, kWithoutHome };
    // `rootPrefix` names the private root ("/tmp/<prefix>-XXXXXX"); a test user, if asked
    // for, is named `userPrefix` and the process id.
    explicit LaunchdFixture(std::string rootPrefix, TestUser user = TestUser::kNone, std::string userPrefix = "");

    void SetUp() override;
    void TearDown() override;

    // The system instance on the root (1 s in place of the 10 s throttle and of the 20 s wait
    // before SIGKILL by default: the launcher's clock is the real one, in another process).
    bool startSystem(std::vector<std::string> args = {"--throttle-interval", "1", "--exit-timeout", "1"});
    // The host path of a logical path under the root.
    std::string host(const std::string& path) const { return root_ + path; }
    // Where the probe job of that label records its starts.
    std::string record(const std::string& name) const { return root_ + "/records/" + name; }
    // A job running the probe in that mode (for "serve", on that service).
    Value probeJob(const std::string& label, const std::string& mode, const std::string& service = "") const;

    std::string root_;
    // The test user, when one was asked for.
    std::string user_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::unique_ptr<LaunchdProcess> instance_;

private:
    std::string rootPrefix_, userPrefix_;
    TestUser testUser_;
    bool madeUser_ = false;
};

}  // namespace telvo::testing
