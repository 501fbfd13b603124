// The port the sheet shows for the daemon's "port" preference: the listener's own rule.
#include <gtest/gtest.h>

#include "app/ports/TVSPortController.h"

namespace telvo::app {
namespace {

TEST(PortRuleTest, OutOfRangeOrNotANumberReadsAsTheDefaultPort) {
    struct Case {
        Value preference;
        long shown;
    };
    const Case cases[] = {
        {Value(5200), 5200},       {Value("5200"), 5200}, {Value(1024), 1024},   {Value(65535), 65535},
        {Value(1023), 5109},       {Value("80"), 5109},   {Value(70000), 5109},  {Value("abc"), 5109},
        {Value(), 5109},           {Value(-1), 5109},     {Value(4294972296LL), 5000},  // 2^32 + 5000, read as 32 bits like the daemon
        {Value("5300 ports"), 5300},
    };
    for (const Case& c : cases) EXPECT_EQ(TVSPortController::listenerPort(c.preference), c.shown) << c.preference.description();
}

}  // namespace
}  // namespace telvo::app
