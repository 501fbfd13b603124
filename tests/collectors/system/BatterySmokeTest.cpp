// Smoke test on this machine's own /sys: where the machine has a battery and upower is
// installed, the battery collector agrees with `upower -i` on percentage and state. Skipped,
// with the reason, everywhere else.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "collectors/system/BatteryStatCollectorMac.h"
#include "platform/host/ProcRoot.h"
#include "platform/power/PowerSources.h"

using namespace telvo;

namespace {

std::string run(const std::string& command) {
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    return out;
}

}  // namespace

TEST(BatterySmokeTest, AgreesWithUpowerOnThisMachine) {
    host::ProcRoot::resetForTesting();
    const ValueArray sources = power::PowerSources().read().descriptions;
    const Value* battery = nullptr;
    for (const Value& d : sources)
        if (d["Transport Type"].stringValue() == "Internal") battery = &d;
    if (!battery) GTEST_SKIP() << "this machine has no battery in /sys/class/power_supply";
    if (run("command -v upower").empty()) GTEST_SKIP() << "upower is not installed (Debian package upower)";

    const std::string supply = (*battery)["Power Source ID"].stringValue();
    const std::string device = "/org/freedesktop/UPower/devices/battery_" + supply;
    if (run("upower -e").find(device) == std::string::npos) GTEST_SKIP() << "upower does not list " << supply << " (is upowerd running?)";
    const std::string info = run("upower -i " + device);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info, m, std::regex("percentage:\\s*([0-9.]+)%"))) << info;
    const double upowerPercent = std::stod(m[1]);
    ASSERT_TRUE(std::regex_search(info, m, std::regex("state:\\s*([a-z-]+)"))) << info;
    const std::string upowerState = m[1];

    auto c = std::make_shared<BatteryStatCollectorMac>();
    c->setup();
    c->disableAllBluetooth = true;
    c->updateStats();
    auto item = c->internalBattery();
    ASSERT_TRUE(item);
    EXPECT_NEAR(item->percentage, upowerPercent, 1.0) << info;
    const int64_t expectedState = upowerState == "charging"        ? 1
                                  : upowerState == "discharging"   ? 2
                                  : upowerState == "fully-charged" ? 0
                                  : upowerState == "pending-charge" ? 3
                                                                    : -1;
    if (expectedState < 0) GTEST_SKIP() << "upower reports state " << upowerState << ", which has no counterpart";
    EXPECT_EQ(item->state, expectedState) << info;
    c->cleanup();
}
