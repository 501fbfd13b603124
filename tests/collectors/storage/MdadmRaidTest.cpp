// A real RAID1 made with mdadm on two loop devices: it appears in the RAID collector with both
// members online, a member failed with "mdadm --fail" shows at the next scan, and the set is
// gone after "mdadm --stop". Needs the md driver and mdadm; skips loudly without them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "collectors/storage/RaidStatCollectorMac.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/registry/Registry.h"

using namespace telvo;

namespace {

namespace stdfs = std::filesystem;

// Runs a shell command; its standard output, trimmed, and its exit status.
int run(const std::string& command, std::string* out = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe)) text += buffer.data();
    const int status = pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MdadmRaidTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (run("command -v mdadm") != 0) GTEST_SKIP() << "SKIPPED LOUDLY: mdadm is not installed (scripts/install-deps.sh)";
        if (!stdfs::exists("/proc/mdstat")) run("modprobe md_mod");
        if (!stdfs::exists("/proc/mdstat"))
            GTEST_SKIP() << "SKIPPED LOUDLY: this kernel has no md driver (no /proc/mdstat, md_mod cannot be loaded)";
        dir_ = stdfs::temp_directory_path() / ("telvo-md-" + std::to_string(getpid()));
        stdfs::create_directories(dir_);
        for (int i = 0; i < 2; ++i) {
            const std::string image = (dir_ / ("member" + std::to_string(i) + ".img")).string();
            ASSERT_EQ(run("truncate -s 24M " + image), 0);
            std::string loop;
            ASSERT_EQ(run("losetup --find --show " + image, &loop), 0) << loop;
            loops_.push_back(loop);
        }
        name_ = "/dev/md/telvo" + std::to_string(getpid());
        std::string out;
        ASSERT_EQ(run("mdadm --create " + name_ + " --run --level=1 --raid-devices=2 --metadata=1.2 --assume-clean " +
                          loops_[0] + " " + loops_[1],
                      &out),
                  0)
            << out;
        created_ = true;
        std::string target;
        ASSERT_EQ(run("readlink -f " + name_, &target), 0);
        md_ = stdfs::path(target).filename().string();
    }
    void TearDown() override {
        RaidStatCollectorMac::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        if (created_) run("mdadm --stop " + name_);
        for (const std::string& loop : loops_) {
            run("mdadm --zero-superblock " + loop);
            run("losetup -d " + loop);
        }
        std::error_code ec;
        if (!dir_.empty()) stdfs::remove_all(dir_, ec);
        registry::Registry::resetForTesting();
    }
    std::shared_ptr<RaidStatCollectorItem> set(RaidStatCollectorMac& c) {
        for (const auto& item : c.items()) {
            auto raid = std::static_pointer_cast<RaidStatCollectorItem>(item);
            if (raid->bsd == md_) return raid;
        }
        return nullptr;
    }

    stdfs::path dir_;
    std::vector<std::string> loops_;
    std::string name_, md_;
    bool created_ = false;
};

}  // namespace

TEST_F(MdadmRaidTest, MirrorAppearsFailsAndStops) {
    registry::Registry::refreshShared();
    auto c = RaidStatCollectorMac::sharedRaidCollector();
    c->fetchDisks();
    auto mirror = set(*c);
    ASSERT_TRUE(mirror) << md_ << " is not listed";
    EXPECT_EQ(mirror->type, "raid1");
    ASSERT_EQ(mirror->members.size(), 2u);
    for (const auto& m : mirror->members) EXPECT_EQ(m->status, "Online") << m->bsd;

    std::string out;
    ASSERT_EQ(run("mdadm " + name_ + " --fail " + loops_[1], &out), 0) << out;
    c->fetchDisks();
    mirror = set(*c);
    ASSERT_TRUE(mirror);
    EXPECT_EQ(mirror->status, "Degraded");
    ASSERT_EQ(mirror->members.size(), 2u);
    EXPECT_EQ(mirror->members[1]->status, "Failed");

    ASSERT_EQ(run("mdadm --stop " + name_, &out), 0) << out;
    created_ = false;
    registry::Registry::refreshShared();  // what the disk information collector does on the event
    c->fetchDisks();
    EXPECT_FALSE(set(*c)) << "the stopped set is removed";
}
