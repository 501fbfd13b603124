// The status words of md sets and members: the one mapping from the driver's sysfs words.
#include <gtest/gtest.h>

#include "platform/raid/MdStatus.h"

using namespace telvo::raid;

TEST(MdStatus, SetWords) {
    struct Case {
        const char *state, *degraded, *sync, *status;
    };
    for (const Case& c : std::vector<Case>{
             {"clean", "0", "idle", "Online"},
             {"active", "0", "idle", "Online"},
             {"clean", "1", "idle", "Degraded"},
             {"active", "1", "recover", "Rebuilding"},
             {"active", "0", "resync", "Rebuilding"},
             {"inactive", "", "", "Offline"},
             {"", "", "", "Offline"},
             {"clean", "", "", "Online"},
         })
        EXPECT_EQ(setStatus(c.state, c.degraded, c.sync), c.status) << c.state << "/" << c.degraded << "/" << c.sync;
}

TEST(MdStatus, MemberWords) {
    struct Case {
        const char *state, *slot, *recovery, *status;
    };
    for (const Case& c : std::vector<Case>{
             {"in_sync", "0", "none", "Online"},
             {"in_sync,write_mostly", "1", "none", "Online"},
             {"faulty", "1", "none", "Failed"},
             {"faulty,in_sync", "1", "none", "Failed"},
             {"spare", "1", "4096", "Rebuilding"},
             {"spare", "none", "4096", "Rebuilding"},
             {"spare", "2", "none", "Rebuilding"},
             {"spare", "none", "none", "Spare"},
             {"", "", "", "Spare"},
         })
        EXPECT_EQ(memberStatus(c.state, c.slot, c.recovery), c.status) << c.state << "/" << c.slot << "/" << c.recovery;
}
