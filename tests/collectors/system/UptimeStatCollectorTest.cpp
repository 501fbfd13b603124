// The uptime collector: golden replies, the "boottimes" rows across restarts and reboots,
// and a boot time that cannot be read.
#include <gtest/gtest.h>

#include "SystemFixture.h"

using namespace telvo;

namespace {

class UptimeStatCollectorTest : public systest::SystemFixture {
protected:
    // What the controller does with the uptime collector at start.
    std::shared_ptr<UptimeStatCollectorMac> started(bool* created = nullptr) {
        auto c = UptimeStatCollectorMac::sharedUptimeCollector();
        c->setDbpath(fwtest::kLocalDB);
        c->setDbpathLong(fwtest::kLongTermDB);
        bool flag = c->prepareDatabase(false);
        if (created) *created = flag;
        c->loadUptime();
        return c;
    }
    long rows(const std::string& file) { return sqlNumber(file, "select count(*) from boottimes"); }
};

TEST_F(UptimeStatCollectorTest, GoldenRepliesForProtocols0To3) {
    auto c = started();
    platform::Clock::advance(2.0);
    for (int protocol : {0, 2, 3})
        expectGolden("uptime_v" + std::to_string(protocol) + ".xml", c->xmlNodesFromAttributes(request("0", protocol)));
    auto nodes = c->xmlNodesFromAttributes(request("0", 3));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(attr(nodes[0], "u"), "10002.50");  // now (1700000002.5) - btime (1699990000)
    EXPECT_TRUE(nodes[0]->children.empty());
    EXPECT_EQ(nodes[0]->attributes.size(), 2u) << "type and u only";

    // One second later, one second more.
    platform::Clock::advance(1.0);
    EXPECT_EQ(attr(c->xmlNodesFromAttributes(Value())[0], "u"), "10003.50");
}

TEST_F(UptimeStatCollectorTest, RestartsAddNoRowAndARebootAddsOne) {
    bool created = false;
    started(&created);
    EXPECT_TRUE(created) << "both boottimes tables were made";
    EXPECT_EQ(rows(fwtest::kLocalDB), 1);
    EXPECT_EQ(rows(fwtest::kLongTermDB), 1);
    EXPECT_EQ(sql(fwtest::kLocalDB, "select time from boottimes"), "1699990000.0");

    // Daemon restart, same boot: tables there (no YES), no second row.
    UptimeStatCollectorMac::resetForTesting();
    started(&created);
    EXPECT_FALSE(created);
    EXPECT_EQ(rows(fwtest::kLocalDB), 1);
    EXPECT_EQ(rows(fwtest::kLongTermDB), 1);

    // Reboot: a new boot time, one more row in each file.
    UptimeStatCollectorMac::resetForTesting();
    writeMachineFile("/proc/stat", "cpu0 1 2 3 4\nbtime 1700000000\n");
    started();
    EXPECT_EQ(rows(fwtest::kLocalDB), 2);
    EXPECT_EQ(rows(fwtest::kLongTermDB), 2);
}

TEST_F(UptimeStatCollectorTest, UnreadableBootTimeRecordsNoZeroAndIsTriedAgain) {
    writeMachineFile("/proc/stat", "cpu0 1 2 3 4\n");  // no btime line
    auto c = started();
    EXPECT_EQ(c->boottime(), -1);
    EXPECT_EQ(rows(fwtest::kLocalDB), 0) << "no boot time of 1970";
    EXPECT_EQ(rows(fwtest::kLongTermDB), 0);
    auto nodes = c->xmlNodesFromAttributes(Value());
    EXPECT_EQ(attr(nodes[0], "u"), "0.00") << "not the seconds since 1970";

    // Once the kernel answers, the next request records it and answers from it.
    writeMachineFile("/proc/stat", "cpu0 1 2 3 4\nbtime 1699990000\n");
    nodes = c->xmlNodesFromAttributes(Value());
    EXPECT_EQ(attr(nodes[0], "u"), "10000.50");
    EXPECT_EQ(rows(fwtest::kLocalDB), 1);
    EXPECT_EQ(rows(fwtest::kLongTermDB), 1);
}

TEST_F(UptimeStatCollectorTest, ExistingTablesAreLeftAsTheyAre) {
    sql(fwtest::kLocalDB, "create table boottimes (time double NOT NULL); insert into boottimes values (5);");
    sql(fwtest::kLongTermDB, "create table boottimes (time double NOT NULL);");
    bool created = true;
    started(&created);
    EXPECT_FALSE(created);
    EXPECT_EQ(sql(fwtest::kLocalDB, "select time from boottimes order by time"), "5.0\n1699990000.0");
    // No level tables for this collector.
    EXPECT_EQ(sql(fwtest::kLocalDB, "select count(*) from sqlite_master where name like '%history'"), "0");
}

}  // namespace
