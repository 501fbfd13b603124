// The platform expert of the sysfs registry: named by the DMI product name, with the serial
// number and the board identifier.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/registry/SysfsRegistry.h"

using namespace telvo;
using namespace telvo::registry;

namespace {

TEST(PlatformExpertTest, CarriesProductSerialAndBoard) {
    std::string tmpl = std::filesystem::temp_directory_path().string() + "/telvo-expert-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    std::filesystem::create_directories(tmpl + "/class/dmi/id");
    std::ofstream(tmpl + "/class/dmi/id/product_name") << "MacBookPro13,2\n";
    std::ofstream(tmpl + "/class/dmi/id/product_serial") << "C02ABCDEGG7F\n";
    std::ofstream(tmpl + "/class/dmi/id/board_name") << "Mac-473D31EABEB93F9B\n";
    auto registry = buildFromSysfs(tmpl);
    auto found = registry->matchingServices(Registry::serviceMatching("IOPlatformExpertDevice"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->name(), "MacBookPro13,2");
    EXPECT_EQ(found[0]->property("IOPlatformSerialNumber").string(), "C02ABCDEGG7F");
    EXPECT_EQ(found[0]->property("board-id"), Value::data("Mac-473D31EABEB93F9B"));
    std::filesystem::remove_all(tmpl);

    auto bare = buildFromSysfs("/nonexistent-sysfs");
    auto expert = bare->matchingServices(Registry::serviceMatching("IOPlatformExpertDevice"));
    ASSERT_EQ(expert.size(), 1u);
    EXPECT_FALSE(expert[0]->hasProperty("board-id"));
    EXPECT_FALSE(expert[0]->hasProperty("IOPlatformSerialNumber"));
}

}  // namespace
