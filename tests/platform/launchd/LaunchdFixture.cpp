// The private root and the test user of the launcher's tests.
#include "platform/launchd/LaunchdFixture.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include "platform/fs/Root.h"

namespace telvo::testing {

LaunchdFixture::LaunchdFixture(std::string rootPrefix, TestUser user, std::string userPrefix)
    : rootPrefix_(std::move(rootPrefix)), userPrefix_(std::move(userPrefix)), testUser_(user) {}

void LaunchdFixture::SetUp() {
    const bool withUser = testUser_ != TestUser::kNone;
    if (geteuid() != 0) {
        if (withUser) GTEST_SKIP() << "a test user and the launcher need root";
        GTEST_SKIP() << "the launcher's tests run as root";
    }
    if (withUser && std::system("command -v useradd >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "useradd is needed for a test user";
    ASSERT_TRUE(std::filesystem::exists(kLaunchdProgram)) << kLaunchdProgram;
    ASSERT_TRUE(std::filesystem::exists(kJobProbe)) << kJobProbe;
    if (withUser) {
        user_ = userPrefix_ + std::to_string(getpid());
        const std::string useradd =
            std::string("useradd ") + (testUser_ == TestUser::kWithHome ? "-m " : "-M -N ") + user_;
        // Other tests may hold the password files' lock a moment: tried again for a while.
        madeUser_ = waitUntil([&] { return std::system((useradd + " >/dev/null 2>&1").c_str()) == 0; }, 20);
        ASSERT_TRUE(madeUser_) << useradd;
        passwd* pw = getpwnam(user_.c_str());
        ASSERT_NE(pw, nullptr);
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
    }
    std::string folder = "/tmp/" + rootPrefix_ + "-XXXXXX";
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    root_ = folder;
    // Other users (the test users, the jobs run as them) pass through it.
    chmod(root_.c_str(), 0755);
    fs::setRootForTesting(root_);
    std::filesystem::create_directories(root_ + "/usr/libexec");
    // A copy, not a link: the launcher runs no program reached through a link.
    std::filesystem::copy_file(kJobProbe, root_ + kProbe);
    // Where the probes record their starts: anyone may write.
    std::filesystem::create_directories(root_ + "/records");
    chmod((root_ + "/records").c_str(), 01777);
}

void LaunchdFixture::TearDown() {
    instance_.reset();
    fs::setRootForTesting("");
    if (!root_.empty()) std::filesystem::remove_all(root_);
    if (madeUser_) {
        const std::string userdel =
            std::string("userdel ") + (testUser_ == TestUser::kWithHome ? "-r " : "") + user_;
        EXPECT_TRUE(waitUntil([&] { return std::system((userdel + " >/dev/null 2>&1").c_str()) == 0; }, 20))
            << userdel;
    }
}

bool LaunchdFixture::startSystem(std::vector<std::string> args) {
    instance_ = std::make_unique<LaunchdProcess>(root_, 0, std::move(args));
    return instance_->start();
}

Value LaunchdFixture::probeJob(const std::string& label, const std::string& mode, const std::string& service) const {
    ValueArray args{Value(kProbe), Value(record(label)), Value(mode)};
    if (!service.empty()) args.push_back(Value(service));
    return Value(ValueDictionary{{"Label", Value(label)}, {"ProgramArguments", Value(args)}});
}

}  // namespace telvo::testing
