// The disk-arbitration stand-in: the mount table and uevent parsers, the one-mount-per-device
// rule, and a scan of a fixture machine.
#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/diskarb/DeviceEventMonitor.h"
#include "platform/diskarb/DiskDescription.h"
#include "platform/diskarb/DiskScanner.h"
#include "platform/diskarb/MountInfo.h"
#include "platform/diskarb/Uevent.h"
#include "platform/host/ProcRoot.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"

using namespace telvo;
using namespace telvo::diskarb;
namespace stdfs = std::filesystem;

TEST(MountInfo, FieldsOptionalTagsAndEscapes) {
    const std::string text =
        "28 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw\n"
        "46 28 8:1 /sub /mnt/my\\040disk\\134x\\012y rw - vfat /dev/sda1 rw\n"
        "bad line\n"
        "50 28 0:44 / /mnt/share rw - nfs4 server:/export/a\\040b rw,vers=4\n"
        "51 28 0:45 / /mnt/odd\\08 rw - tmpfs tmpfs\n";
    auto entries = parseMountInfo(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].mountPoint, "/");
    EXPECT_EQ(entries[0].fsType, "ext4");
    EXPECT_EQ(entries[0].major, 254);
    EXPECT_EQ(entries[1].root, "/sub");
    EXPECT_EQ(entries[1].mountPoint, "/mnt/my disk\\x\ny");
    EXPECT_EQ(entries[2].source, "server:/export/a b");
    EXPECT_EQ(entries[2].superOptions, "rw,vers=4");
    EXPECT_EQ(entries[3].mountPoint, "/mnt/odd\\08");  // not three octal digits: kept
    EXPECT_EQ(decodeMountField(" trailing\\040"), " trailing ");
}

TEST(MountInfo, OneMountPerDeviceRootWinsThenFileSystemRootThenLowestId) {
    auto e = parseMountInfo(
        "46 28 254:0 /run/netns /run/netns rw - ext4 /dev/vda rw\n"
        "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "60 28 8:1 /a /mnt/a rw - ext4 /dev/sda1 rw\n"
        "61 28 8:1 / /mnt/b rw - ext4 /dev/sda1 rw\n"
        "70 28 8:2 /x /mnt/x rw - ext4 /dev/sda2 rw\n"
        "65 28 8:2 /y /mnt/y rw - ext4 /dev/sda2 rw\n"
        "80 28 0:50 / /mnt/share rw - nfs server:/e rw\n"
        "81 28 0:51 / /mnt/auto rw - autofs systemd-1 rw\n"
        "82 28 0:52 / /proc rw - proc proc rw\n");
    auto chosen = chooseMounts(e);
    std::vector<std::string> points;
    for (const auto& m : chosen) points.push_back(m.mountPoint);
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/mnt/b", "/mnt/y", "/mnt/share"}));
    EXPECT_EQ(fileURLText("/mnt/my share"), "file:///mnt/my%20share/");
    EXPECT_EQ(fileURLText("/"), "file:///");
}

TEST(Uevent, KernelMessagesParsedOthersRefused) {
    const char kernel[] = "change@/devices/virtual/block/loop7\0ACTION=change\0DEVPATH=/devices/virtual/block/loop7\0"
                          "SUBSYSTEM=block\0DEVNAME=loop7\0";
    Uevent e;
    ASSERT_TRUE(parseUevent(kernel, sizeof kernel - 1, e));
    EXPECT_EQ(e.action, "change");
    EXPECT_EQ(e.devpath, "/devices/virtual/block/loop7");
    EXPECT_EQ(e.subsystem, "block");
    EXPECT_EQ(e.keys["DEVNAME"], "loop7");

    const char udev[] = "libudev\0\xfe\xed\xca\xfe";
    const char mismatch[] = "add@/devices/a\0ACTION=remove\0DEVPATH=/devices/a\0";
    const char noPairs[] = "add@/devices/a";
    for (auto [data, size] : {std::pair<const char*, size_t>{udev, sizeof udev - 1}, {mismatch, sizeof mismatch - 1},
                              {noPairs, sizeof noPairs - 1}, {"", 0}, {"@", 1}})
        EXPECT_FALSE(parseUevent(data, size, e)) << std::string(data, size);
}

// As root (smoke): a device event forged by a user-space sender on the kernel's uevent group
// is ignored, while the kernel's own event of a loop device being attached arrives.
TEST(DeviceEventMonitorSmoke, OnlyTheKernelSpeaksForDevices) {
    if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: sending on the uevent group and attaching loop devices need root";
    if (std::system("command -v losetup >/dev/null") != 0) GTEST_SKIP() << "SKIPPED LOUDLY: losetup is missing";
    host::ProcRoot::resetForTesting();
    DeviceEventMonitor::setSourcesEnabledForTesting(true);
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> seen;
    auto token = DeviceEventMonitor::shared().subscribe([&](const Uevent* e) {
        if (!e) return;
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(e->action + "@" + e->devpath);
        cv.notify_all();
    });

    const std::string forged = "add@/devices/virtual/block/telvo-forged-" + std::to_string(getpid());
    std::string message = forged;
    message += '\0';
    for (const std::string& pair : {std::string("ACTION=add"), "DEVPATH=" + forged.substr(4), std::string("SUBSYSTEM=block")}) {
        message += pair;
        message += '\0';
    }
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(fd, 0);
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_groups = 1;
    const bool sent = sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    close(fd);

    // A real event: a loop device attached to an image made here, then detached.
    char folder[] = "/tmp/telvo-uevent-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string image = std::string(folder) + "/image";
    std::string device;
    if (std::system(("truncate -s 1M " + image).c_str()) == 0) {
        FILE* p = popen(("losetup -f --show " + image).c_str(), "r");
        char line[128] = {};
        if (p && fgets(line, sizeof line, p)) device = line;
        if (p) pclose(p);
        while (!device.empty() && device.back() == '\n') device.pop_back();
    }
    bool loopSeen = false;
    if (!device.empty()) {
        const std::string name = device.substr(device.rfind('/') + 1);
        std::unique_lock<std::mutex> lock(m);
        loopSeen = cv.wait_for(lock, std::chrono::seconds(30), [&] {
            for (const auto& s : seen)
                if (s.size() >= name.size() && s.compare(s.size() - name.size(), name.size(), name) == 0) return true;
            return false;
        });
    }
    if (!device.empty()) {
        EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0);
    }
    std::filesystem::remove_all(folder);
    DeviceEventMonitor::shared().unsubscribe(token);
    registry::Registry::resetForTesting();

    if (device.empty()) GTEST_SKIP() << "SKIPPED LOUDLY: no loop device could be attached";
    EXPECT_TRUE(loopSeen) << "the kernel's event of " << device << " did not arrive";
    std::lock_guard<std::mutex> lock(m);
    for (const auto& s : seen) EXPECT_NE(s, forged) << "a forged event was taken for the kernel's";
    EXPECT_TRUE(sent) << "the forged message could not be sent, so its refusal was not shown";
}
