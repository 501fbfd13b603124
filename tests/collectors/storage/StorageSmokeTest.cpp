// On this machine (smoke tests): "/" is a volume with the sizes statvfs gives, and, as root, a
// loop-mounted ext4 image made by the test comes and goes as a disk image.
#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "collectors/framework/HistoryFixture.h"
#include "collectors/storage/DiskActivityStatCollectorMac.h"
#include "collectors/storage/DiskInfoStatCollectorMac.h"
#include "collectors/storage/DisksStatCollectorMac.h"
#include "platform/diskarb/DeviceEventMonitor.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/host/ProcRoot.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"

using namespace telvo;

namespace {

std::string run(const std::string& command, int* status = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    int rc = p ? pclose(p) : -1;
    if (status) *status = rc;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

class StorageSmokeTest : public fwtest::HistoryFixture {
protected:
    void SetUp() override {
        fwtest::HistoryFixture::SetUp();
        host::ProcRoot::resetForTesting();
        registry::setSysfsRootForTesting("");
        registry::Registry::resetForTesting();
        diskarb::DeviceEventMonitor::setSourcesEnabledForTesting(true);
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        DiskActivityStatCollectorMac::resetForTesting();
        DisksStatCollectorMac::resetForTesting();
        DiskInfoStatCollectorMac::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        registry::Registry::resetForTesting();
        fwtest::HistoryFixture::TearDown();
    }
    std::shared_ptr<DisksStatCollectorMac> start() {
        auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
        info->listenForChanges();
        info->fetchInfo();
        auto disks = DisksStatCollectorMac::sharedDiskCollector();
        startCollector(*disks);
        EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return !info->DADisks().empty(); }, 30.0));
        for (int i = 0; i < 3; ++i) dispatch::MainLoop::runFor(1.0);
        return disks;
    }
    static std::shared_ptr<DiskStatCollectorItem> withPath(const std::shared_ptr<DisksStatCollectorMac>& disks,
                                                           const std::string& path) {
        for (const auto& i : disks->items()) {
            auto d = std::static_pointer_cast<DiskStatCollectorItem>(i);
            if (d->path == path) return d;
        }
        return nullptr;
    }
};

// The image, its loop device and its mount, undone whatever happens.
struct LoopImage {
    std::string folder, image, device, mountPoint;
    bool mounted = false;
    ~LoopImage() {
        if (mounted) run("umount '" + mountPoint + "'");
        if (!device.empty()) run("losetup -d " + device);
        if (!folder.empty()) run("rm -rf '" + folder + "'");
    }
};

}  // namespace

TEST_F(StorageSmokeTest, RootIsTheBootVolumeWithStatvfsSizes) {
    auto disks = start();
    auto root = withPath(disks, "/");
    ASSERT_TRUE(root) << "no volume mounted at /";
    struct statvfs st {};
    ASSERT_EQ(statvfs("/", &st), 0);
    EXPECT_EQ(root->storageSize, double(st.f_blocks) * double(st.f_frsize));
    EXPECT_NEAR(root->storageFree, double(st.f_bavail) * double(st.f_frsize), 512.0 * 1024 * 1024);
    EXPECT_EQ(root->xmlStorageItem()["boot"].stringValue(), "1");
}

TEST_F(StorageSmokeTest, LoopMountedImageComesAndGoesAsADiskImage) {
    if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: attaching a loop device needs root";
    int status = 0;
    run("command -v losetup && command -v mkfs.ext4", &status);
    if (status != 0) GTEST_SKIP() << "SKIPPED LOUDLY: losetup or mkfs.ext4 is missing";

    auto disks = start();
    auto info = DiskInfoStatCollectorMac::sharedDiskInfoCollector();
    LoopImage loop;
    char tmpl[] = "/tmp/telvo-storage-smoke-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    loop.folder = tmpl;
    loop.image = loop.folder + "/image.img";
    loop.mountPoint = loop.folder + "/mnt";
    run("mkdir '" + loop.mountPoint + "'");
    run("truncate -s 16M '" + loop.image + "' && mkfs.ext4 -q -L 'Smoke&" + std::to_string(getpid()) + "' '" +
            loop.image + "'",
        &status);
    ASSERT_EQ(status, 0);

    const int64_t infoSession = info->session();
    loop.device = run("losetup -f --show '" + loop.image + "'", &status);
    if (status != 0) {
        loop.device.clear();
        GTEST_SKIP() << "SKIPPED LOUDLY: no loop device could be attached";
    }
    const std::string bsd = loop.device.substr(loop.device.rfind('/') + 1);
    // "diskinfo" changes when the loop device is attached: the item and a greater session come
    // together. (Another program's device of that name, detached just before, may still be
    // listed until its event has been handled: the item alone is not this device's event.)
    EXPECT_TRUE(dispatch::MainLoop::runUntil(
        [&] {
            if (info->session() <= infoSession) return false;
            for (const auto& i : info->items())
                if (i->key() == bsd) return true;
            return false;
        },
        60.0));
    EXPECT_GT(info->session(), infoSession);

    run("mount '" + loop.device + "' '" + loop.mountPoint + "'", &status);
    ASSERT_EQ(status, 0);
    loop.mounted = true;
    std::shared_ptr<DiskStatCollectorItem> image;
    ASSERT_TRUE(dispatch::MainLoop::runUntil(
        [&] {
            image = withPath(disks, loop.mountPoint);
            return image != nullptr;
        },
        30.0));
    // The mount refreshed the volumes; the new one is sampled on the next sampling tick.
    for (int i = 0; i < 3 && image->storageSize == 0; ++i) dispatch::MainLoop::runFor(1.0);
    EXPECT_GT(image->storageSize, 0);
    EXPECT_EQ(image->type, 3);
    EXPECT_EQ(image->bsd, bsd);
    EXPECT_FALSE(disks->xmlShouldAddSampleItem(*image));  // sampled, never sent
    bool inDADisks = false;
    for (const Value& r : info->DADisks())
        if (r["bsd"].stringValue() == bsd) inDADisks = r["type"].intValue() == 3;
    EXPECT_TRUE(inDADisks);

    const int64_t session = disks->session();
    run("umount '" + loop.mountPoint + "'", &status);
    ASSERT_EQ(status, 0);
    loop.mounted = false;
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return !withPath(disks, loop.mountPoint); }, 30.0));
    // One for the disk change, one for the changed list (other helpers' devices may add more).
    EXPECT_GE(disks->session(), session + 2);

    run("losetup -d " + loop.device);
    loop.device.clear();
    // Another program may attach its own image under the freed name at once; then an item of
    // that name is its device, not this one.
    auto nameTakenByAnother = [&] {
        std::ifstream backing("/sys/block/" + bsd + "/loop/backing_file");
        std::string file;
        return std::getline(backing, file) && file != loop.image;
    };
    ASSERT_TRUE(dispatch::MainLoop::runUntil(
        [&] {
            for (const auto& i : info->items())
                if (i->key() == bsd) return nameTakenByAnother();
            return true;
        },
        60.0));
}
