// The disk-arbitration stand-in: the mount table and uevent parsers, the one-mount-per-device
// rule, and a scan of a fixture machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
