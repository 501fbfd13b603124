#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/process/ProcessIdentity.h"

using telvo::platform::ProcessIdentity;

TEST(ProcessIdentity, DefaultsToTheProgramNameUntilSet) {
    ProcessIdentity::resetForTesting();
    EXPECT_EQ(ProcessIdentity::programName(), "telvo_platform_tests");
    EXPECT_EQ(ProcessIdentity::bundleIdentifier(), "telvo_platform_tests");
    ProcessIdentity::setBundleIdentifier("com.kestro.telvoserverdaemon");
    EXPECT_EQ(ProcessIdentity::bundleIdentifier(), "com.kestro.telvoserverdaemon");
    ProcessIdentity::resetForTesting();
    EXPECT_EQ(ProcessIdentity::bundleIdentifier(), "telvo_platform_tests");
}

TEST(ProcessIdentity, HostNameIsGethostname) {
    char buffer[256] = {};
    ASSERT_EQ(gethostname(buffer, sizeof buffer - 1), 0);
    EXPECT_EQ(ProcessIdentity::hostName(), buffer);
}
