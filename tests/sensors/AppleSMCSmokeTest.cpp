// Smoke test on Apple hardware running Linux (skipped elsewhere): the SMC read through the
// applesmc key interface agrees with the driver's own hwmon readings, and the time of reading
// every labelled key once is reported.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/smc/AppleSMCFiles.h"
#include "sensors/SMCValueDecoder.h"
#include "sensors/SensorSMCController.h"

using namespace telvo;

namespace {

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    if (in) std::getline(in, s);
    return s;
}

TEST(AppleSMCSmokeTest, KeysAgreeWithTheDriversReadings) {
    const std::string folder = smc::appleSMCFolder();
    if (!std::filesystem::exists(folder + "/key_count"))
        GTEST_SKIP() << "no applesmc driver here (" << folder << "): not Apple hardware";
    if (geteuid() != 0) GTEST_SKIP() << "moving the applesmc key cursor needs root";
    SensorSMCController::resetForTesting();
    auto& smc = SensorSMCController::sharedSMC();
    ASSERT_EQ(smc.open(), smc::kSMCReturnSuccess);

    int compared = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i < 64; ++i) {
        const std::string label = readLine(folder + "/temp" + std::to_string(i) + "_label");
        const std::string input = readLine(folder + "/temp" + std::to_string(i) + "_input");
        if (label.empty() || input.empty()) continue;
        const double viaKey = smcvalues::valueForSMCKey(label, nullptr);
        const double viaDriver = std::atof(input.c_str()) / 1000.0;
        EXPECT_NEAR(viaKey, viaDriver, 3.0) << label;
        ++compared;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string fan = readLine(folder + "/fan1_input");
    if (!fan.empty()) {
        EXPECT_NEAR(smcvalues::valueForSMCKey("F0Ac", nullptr), std::atof(fan.c_str()), 300.0);
        ++compared;
    }
    EXPECT_GT(compared, 0);
    std::cout << "read " << compared << " keys in "
              << std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() << " us\n";
    SensorSMCController::resetForTesting();
}

}  // namespace
