// Smoke test on this machine's drives: the SMART read agrees with smartctl on the overall
// status and the temperature of every SATA or NVMe drive. Skips loudly where there is none
// (a virtio disk, for example) or smartctl is missing.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "collectors/storage/SMARTStatCollectorItem.h"

using namespace telvo;

namespace {

std::string output(const std::string& command) {
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return "";
    std::string text;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
    pclose(pipe);
    return text;
}

}  // namespace

TEST(SMARTSmoke, AgreesWithSmartctl) {
    std::vector<std::string> drives;
    std::error_code ec;
    for (const auto& d : std::filesystem::directory_iterator("/sys/block", ec)) {
        const std::string name = d.path().filename().string();
        if (name.compare(0, 2, "sd") == 0 || name.compare(0, 4, "nvme") == 0) drives.push_back(name);
    }
    if (drives.empty()) GTEST_SKIP() << "SKIPPED LOUDLY: this machine has no SATA or NVMe drive to read SMART from";
    if (output("command -v smartctl").empty())
        GTEST_SKIP() << "SKIPPED LOUDLY: smartctl (smartmontools) is not installed";
    int compared = 0;
    for (const std::string& bsd : drives) {
        const std::string json = output("smartctl -H -A --json /dev/" + bsd);
        std::smatch passed, temperature;
        if (!std::regex_search(json, passed, std::regex("\"passed\"\\s*:\\s*(true|false)"))) continue;
        SMARTStatCollectorItem item;
        SMARTDriveHandle handle;
        item.apply(handle.read(bsd, true), 1);
        EXPECT_EQ(item.overallStatus, passed[1] == "false") << bsd;
        if (std::regex_search(json, temperature, std::regex("\"temperature\"\\s*:\\s*\\{\\s*\"current\"\\s*:\\s*([0-9]+)"))) {
            EXPECT_EQ(item.temperature(), temperature[1].str()) << bsd;
        }
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "SKIPPED LOUDLY: smartctl reports no SMART status for this machine's drives";
}
