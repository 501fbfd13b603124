// nl80211 replies in the kernel's layout (an associated station with an SSID holding a NUL
// and an invalid UTF-8 byte, a scan dump of three entries with a nested-flagged BSS attribute,
// the ENODEV answer for a wired interface), cut short at every length, and a smoke comparison
// with `iw` where this machine has Wi-Fi.
#include <gtest/gtest.h>

#include <dirent.h>
#include <cstdio>
#include <fstream>
#include "platform/wifi/Nl80211.h"

namespace telvo::wifi {
namespace {

constexpr uint16_t kFamily = 0x1c;

std::vector<uint8_t> recorded(const std::string& name) {
    std::ifstream in(std::string(TELVO_SOURCE_DIR) + "/tests/platform/wifi/data/" + name);
    std::string hex;
    in >> hex;
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(Nl80211Test, RecordedRepliesGiveTheRawSsidAndTheAssociatedBssid) {
    auto iface = recorded("get-interface.hex"), scan = recorded("get-scan.hex");
    ASSERT_FALSE(iface.empty());
    WifiInterface w;
    ASSERT_TRUE(interfaceFromReplies(kFamily, 3, iface.data(), iface.size(), scan.data(), scan.size(), w));
    ASSERT_TRUE(w.ssid.has_value());
    EXPECT_EQ(*w.ssid, std::string("Caf\xC3\xA9\0\xFF", 7));
    ASSERT_TRUE(w.bssid.has_value());
    EXPECT_EQ(*w.bssid, "a0:b1:c2:d3:e4:f5");

    // Another interface index, another family, or a wired interface (ENODEV): not Wi-Fi.
    WifiInterface none;
    EXPECT_FALSE(interfaceFromReplies(kFamily, 4, iface.data(), iface.size(), scan.data(), scan.size(), none));
    EXPECT_FALSE(interfaceFromReplies(kFamily + 1, 3, iface.data(), iface.size(), scan.data(), scan.size(), none));
    auto enodev = recorded("get-interface-enodev.hex");
    EXPECT_FALSE(interfaceFromReplies(kFamily, 2, enodev.data(), enodev.size(), scan.data(), scan.size(), none));
    // No scan entry is associated: a known interface without a base station.
    WifiInterface noBss;
    ASSERT_TRUE(interfaceFromReplies(kFamily, 3, iface.data(), iface.size(), nullptr, 0, noBss));
    EXPECT_FALSE(noBss.bssid.has_value());
}

TEST(Nl80211Test, RepliesCutShortAtEveryLengthAreReadSafely) {
    auto iface = recorded("get-interface.hex"), scan = recorded("get-scan.hex");
    for (size_t n = 0; n < iface.size(); ++n) {
        WifiInterface w;
        EXPECT_FALSE(interfaceFromReplies(kFamily, 3, iface.data(), n, scan.data(), scan.size(), w)) << n;
    }
    for (size_t n = 0; n < scan.size(); ++n) {
        WifiInterface w;
        ASSERT_TRUE(interfaceFromReplies(kFamily, 3, iface.data(), iface.size(), scan.data(), n, w));
        if (w.bssid) {
            EXPECT_EQ(*w.bssid, "a0:b1:c2:d3:e4:f5");
        }
    }
}

std::string firstWirelessInterface() {
    DIR* d = opendir("/sys/class/net");
    if (!d) return "";
    std::string found;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name[0] == '.') continue;
        std::ifstream probe("/sys/class/net/" + name + "/phy80211/name");
        if (probe) {
            found = name;
            break;
        }
    }
    closedir(d);
    return found;
}

TEST(Nl80211Test, SmokeMatchesIwWhereThisMachineHasWifi) {
    const std::string name = firstWirelessInterface();
    if (name.empty()) GTEST_SKIP() << "this machine has no Wi-Fi interface (no /sys/class/net/*/phy80211)";
    FILE* p = popen(("iw dev " + name + " link 2>/dev/null").c_str(), "r");
    if (!p) GTEST_SKIP() << "iw cannot be run";
    std::string text;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) text += buf;
    if (pclose(p) != 0) GTEST_SKIP() << "iw is missing (scripts/install-deps.sh installs it)";
    auto w = interfaceWithName(name);
    ASSERT_TRUE(w.has_value()) << name << " is Wi-Fi but nl80211 did not answer";
    if (text.find("Connected to ") == std::string::npos) {
        EXPECT_FALSE(w->bssid.has_value());
        return;
    }
    ASSERT_TRUE(w->bssid.has_value());
    EXPECT_NE(text.find("Connected to " + *w->bssid), std::string::npos) << text;
    ASSERT_TRUE(w->ssid.has_value());
}

TEST(Nl80211Test, SmokeAnInterfaceThatIsNotWifiGivesNone) {
    EXPECT_FALSE(interfaceWithName("lo").has_value());
    EXPECT_FALSE(interfaceWithName("no-such-interface0").has_value());
}

}  // namespace
}  // namespace telvo::wifi
