// The version record: the predicates' thresholds and the level reported on this platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/KXRVersions.h"

using telvo::KXRVersions;

TEST(KXRVersions, PredicatesByRelease) {
    struct Case {
        int64_t major, minor, bugfix;
        bool lion, mountainLion, mavericks, yosemite, elCapitan, sierra, highSierra;
    };
    const Case cases[] = {
        {10, 6, 8, false, false, false, false, false, false, false},
        {10, 7, 0, true, false, false, false, false, false, false},
        {10, 8, 5, true, true, false, false, false, false, false},
        {10, 9, 0, true, true, true, false, false, false, false},
        {10, 10, 3, true, true, true, true, false, false, false},
        {10, 11, 0, true, true, true, true, true, false, false},
        {10, 12, 0, true, true, true, true, true, true, false},
        {10, 12, 6, true, true, true, true, true, true, false},  // bugfix enters no predicate
        {10, 13, 0, true, true, true, true, true, true, true},
        {11, 0, 0, true, true, true, true, true, true, true},    // a later major: everything
        {12, -5, 0, true, true, true, true, true, true, true},
        {9, 99, 0, false, false, false, false, false, false, false},
        {0, 0, 0, false, false, false, false, false, false, false},
        {-1, 50, 0, false, false, false, false, false, false, false},  // signed comparisons
    };
    for (const Case& c : cases) {
        KXRVersions v(c.major, c.minor, c.bugfix);
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + "." + std::to_string(c.bugfix));
        EXPECT_EQ(v.lion(), c.lion);
        EXPECT_EQ(v.mountainLion(), c.mountainLion);
        EXPECT_EQ(v.mavericks(), c.mavericks);
        EXPECT_EQ(v.yosemite(), c.yosemite);
        EXPECT_EQ(v.elCapitan(), c.elCapitan);
        EXPECT_EQ(v.sierra(), c.sierra);
        EXPECT_EQ(v.highSierra(), c.highSierra);
        // Stored answers equal the live ones at creation.
        EXPECT_EQ(v.isLion(), c.lion);
        EXPECT_EQ(v.isMountainLion(), c.mountainLion);
        EXPECT_EQ(v.isMavericks(), c.mavericks);
        EXPECT_EQ(v.isYosemite(), c.yosemite);
        EXPECT_EQ(v.isElCapitan(), c.elCapitan);
        EXPECT_EQ(v.isSierra(), c.sierra);
        EXPECT_EQ(v.isHighSierra(), c.highSierra);
        EXPECT_FALSE(v.isSetApp());
        EXPECT_EQ(v.bugfix(), c.bugfix);
    }
}

TEST(KXRVersions, StoredAnswersStayWhenNumbersChange) {
    KXRVersions v(10, 8, 0);
    v.setMinor(13);
    EXPECT_TRUE(v.highSierra());     // live
    EXPECT_FALSE(v.isHighSierra());  // fixed at creation
}

TEST(KXRVersions, SharedRecordReportsTheProvidedLevel) {
    KXRVersions::resetForTesting();
    KXRVersions& v = KXRVersions::sharedVersions();
    EXPECT_EQ(&v, &KXRVersions::sharedVersions());
    EXPECT_EQ(v.major(), 10);
    EXPECT_EQ(v.minor(), 13);
    EXPECT_EQ(v.bugfix(), 0);
    // Every route choice takes the modern route here.
    EXPECT_TRUE(v.mountainLion());
    EXPECT_TRUE(v.isMavericks());
    EXPECT_TRUE(v.isYosemite());
    EXPECT_TRUE(v.isElCapitan());
    EXPECT_TRUE(v.isSierra());
    EXPECT_TRUE(v.isHighSierra());
    EXPECT_FALSE(v.isSetApp());
    KXRVersions::resetForTesting();
}

// The test setting TELVO_OS_VERSION names the release the record reports.
TEST(KXRVersions, TestSettingForcesAnOlderRelease) {
    struct Case {
        const char* setting;
        int64_t major, minor, bugfix;
        bool mountainLion;
    } cases[] = {
        {"10.7", 10, 7, 0, false},
        {"10.8.5", 10, 8, 5, true},
        {"11", 11, 0, 0, true},
        {"", 10, 13, 0, true},
        {"nonsense", 10, 13, 0, true},
    };
    for (const Case& c : cases) {
        setenv("TELVO_OS_VERSION", c.setting, 1);
        KXRVersions::resetForTesting();
        KXRVersions& v = KXRVersions::sharedVersions();
        EXPECT_EQ(v.major(), c.major) << c.setting;
        EXPECT_EQ(v.minor(), c.minor) << c.setting;
        EXPECT_EQ(v.bugfix(), c.bugfix) << c.setting;
        EXPECT_EQ(v.mountainLion(), c.mountainLion) << c.setting;
        EXPECT_EQ(v.isMountainLion(), c.mountainLion) << c.setting;
    }
    unsetenv("TELVO_OS_VERSION");
    KXRVersions::resetForTesting();
}
