// Bandwidth accounting on the virtual clock with a temporary bandwidth.db: the 100 KiB
// threshold, the first partial bucket, counter resets inside a bucket, a period end on an exact
// multiple of 600 s, the stop, interface identifiers across restarts, new interfaces while the
// file's queue is held up, and rows that could not be written at first.
#include <gtest/gtest.h>


#include "NetworkFixture.h"
#include "QueueGate.h"

using namespace telvo;

namespace {

const std::string kBandwidthDB = "/Library/Application Support/Telvo Server/databases/bandwidth.db";
constexpr double kSlot = 1700000400;  // a multiple of 600 s

class NetworkBandwidthTest : public systest::NetworkFixture {
protected:
    void SetUp() override {
        systest::NetworkFixture::SetUp();
        addLink(1, "lo", 772);
        addLink(2, "eth0");
        addLink(3, "eth1");
        addAddress("eth0", "192.168.1.5", 24);
        addAddress("eth1", "10.0.0.5", 8);
        defaultRoute("eth0", "192.168.1.1", 100);
    }
    // The controller's start steps for the bandwidth file, at `time`.
    std::shared_ptr<NetworkStatCollectorMac> start(double time) {
        platform::Clock::setVirtualNow(time);
        auto c = collector();
        c->setBandwidthDatabasePath(kBandwidthDB);
        c->setBandwidthMonitoringEnabled(true);
        c->prepareBandwidthDatabase();
        c->prepareBandwidthMonitoring();
        return c;
    }
    // One tick; then waits for the rows it handed to the file's queue.
    void tickAt(const std::shared_ptr<NetworkStatCollectorMac>& c, double time) {
        platform::Clock::setVirtualNow(time);
        c->updateStats();
        databaseItemWithPath(kBandwidthDB)->queryDatabase([](const FMDatabasePtr&) {});
    }
    std::string rows() {
        return sql(kBandwidthDB, "select start, end, interface, upload, download from bandwidth_samples order by sample");
    }
    // A tick as the clock runs it: the step check first.
    void clockTick(const std::shared_ptr<NetworkStatCollectorMac>& c, double seconds) {
        platform::Clock::advance(seconds);
        c->noticeClockStep();
        c->updateStats();
        databaseItemWithPath(kBandwidthDB)->queryDatabase([](const FMDatabasePtr&) {});
    }
    // Rows whose length is not between 0 and one slot (600 s, or up to the stop).
    std::string badRows() {
        return sql(kBandwidthDB, "select start, end from bandwidth_samples where end < start or end - start > 600");
    }
};

TEST_F(NetworkBandwidthTest, ThresholdAndFirstPartialBucketThenWholeSlots) {
    auto c = start(kSlot + 200);
    EXPECT_EQ(c->nextBandwidthUpdateTime(), kSlot + 600);
    counters("eth0", 1000, 1000);
    counters("eth1", 1000, 1000);
    tickAt(c, kSlot + 200);
    counters("eth0", 1000 + 102400, 1000 + 102400);  // exactly the threshold both ways: no row
    counters("eth1", 1000, 1000 + 102401);           // one byte more: a row
    tickAt(c, kSlot + 599);
    EXPECT_EQ(rows(), "");
    tickAt(c, kSlot + 600);  // not past the end yet
    EXPECT_EQ(rows(), "");
    tickAt(c, kSlot + 601);
    // The first bucket runs 400 s, from the first reading to the next multiple of 600 s.
    EXPECT_EQ(rows(), "1700000600.0|1700001000.0|2|102401.0|0.0");
    EXPECT_EQ(sql(kBandwidthDB, "select identifier, interface from bandwidth_interface_map order by identifier"),
              "1|eth0\n2|eth1");
    EXPECT_EQ(c->nextBandwidthUpdateTime(), kSlot + 1200);
    counters("eth0", 1000 + 102400 + 200000, 1000 + 102400);
    tickAt(c, kSlot + 1201);
    EXPECT_EQ(rows(), "1700000600.0|1700001000.0|2|102401.0|0.0\n1700001000.0|1700001600.0|1|0.0|200000.0");
}

TEST_F(NetworkBandwidthTest, CounterThatGoesBackIsCountedAsTwoStretches) {
    auto c = start(kSlot + 10);
    counters("eth0", 0, 1000000);
    tickAt(c, kSlot + 10);
    counters("eth0", 0, 5000000);
    tickAt(c, kSlot + 20);
    counters("eth0", 0, 1000);  // reset
    tickAt(c, kSlot + 30);
    counters("eth0", 0, 301000);
    tickAt(c, kSlot + 40);
    tickAt(c, kSlot + 601);
    EXPECT_EQ(rows(), "1700000410.0|1700001000.0|1|4300000.0|0.0");
}

TEST_F(NetworkBandwidthTest, PeriodEndOnAnExactMultipleThenAOneSecondBucket) {
    auto c = start(kSlot + 100);
    counters("eth0", 0, 0);
    tickAt(c, kSlot + 100);
    counters("eth0", 200000, 0);
    // Held up: the next reading comes exactly on a later multiple of 600 s.
    tickAt(c, kSlot + 1200);
    EXPECT_EQ(c->nextBandwidthUpdateTime(), kSlot + 1200);
    EXPECT_EQ(rows(), "1700000500.0|1700001000.0|1|0.0|200000.0");
    counters("eth0", 400000, 0);
    tickAt(c, kSlot + 1201);  // one second later the bucket closes
    EXPECT_EQ(rows(), "1700000500.0|1700001000.0|1|0.0|200000.0\n1700001000.0|1700001600.0|1|0.0|200000.0");
    EXPECT_EQ(c->nextBandwidthUpdateTime(), kSlot + 1800);
}

TEST_F(NetworkBandwidthTest, StopStoresThePartialBucketAndIdentifiersSurviveARestart) {
    auto c = start(kSlot + 30);
    counters("eth0", 0, 0);
    counters("eth1", 0, 0);
    tickAt(c, kSlot + 30);
    counters("eth1", 300000, 50);
    tickAt(c, kSlot + 31);
    platform::Clock::setVirtualNow(kSlot + 45.5);
    c->saveBandwidth();
    EXPECT_EQ(rows(), "1700000430.0|1700000445.5|2|50.0|300000.0");
    // Nothing is stored twice: the bucket starts again at the stop time.
    c->saveBandwidth();
    EXPECT_EQ(sql(kBandwidthDB, "select count(*) from bandwidth_samples"), "1");

    // Restart: the map is read back and the names keep their identifiers.
    NetworkStatCollectorMac::cleanupShared();
    auto again = start(kSlot + 100);
    EXPECT_EQ(again->identifierForInterface("eth1"), 2);
    EXPECT_EQ(again->identifierForInterface("eth0"), 1);
    // A new name is not waited for: its identifier comes back from the file's queue.
    EXPECT_EQ(again->identifierForInterface("eth2"), -1);
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(again->identifierForInterface("eth2"), 3);
    EXPECT_EQ(sql(kBandwidthDB, "select count(*) from bandwidth_interface_map"), "3");
    // The service identifier of an interface is its name's, on every start.
    EXPECT_EQ(again->itemWithBsd("eth1")->key(), id("eth1"));
}

TEST_F(NetworkBandwidthTest, ClockStepsRebaseTheOpenBuckets) {
    struct Case {
        const char* what;
        double first, second;  // steps of the wall clock, seconds (0: none)
    } cases[] = {
        {"started a day ahead, then corrected", -86400, 0},
        {"a day ahead and back", 86400, -86400},
        {"an hour back", -3600, 0},
        {"a day ahead", 86400, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        platform::Clock::useVirtual(kSlot + 100);
        sql(kBandwidthDB, "delete from bandwidth_samples");
        auto c = start(kSlot + 100);
        uint64_t sent = 0;
        counters("eth0", 0, sent);
        clockTick(c, 0);
        // 20 s of traffic, a step, 20 s more, another step, 20 s more, then a slot's end and
        // the stop.
        for (double step : {k.first, k.second, 0.0}) {
            for (int s = 0; s < 20; ++s) {
                sent += 50000;
                counters("eth0", 0, sent);
                clockTick(c, 1);
            }
            if (step != 0) platform::Clock::stepVirtualWall(step);
        }
        for (int s = 0; s < 700; s += 10) clockTick(c, 10);
        platform::Clock::advance(30);
        c->saveBandwidth();
        EXPECT_EQ(badRows(), "") << rows();
        EXPECT_EQ(sqlNumber(kBandwidthDB, "select sum(upload) from bandwidth_samples"), long(sent))
            << "every byte counted once";
        NetworkStatCollectorMac::cleanupShared();
    }
}

TEST_F(NetworkBandwidthTest, BucketsAndMapEntriesOfGoneInterfacesGoButTheirIdentifiersStay) {
    auto c = start(kSlot + 10);
    addLink(4, "veth7");
    counters("veth7", 0, 0);
    tickAt(c, kSlot + 10);
    counters("veth7", 0, 500000);
    tickAt(c, kSlot + 20);
    const int64_t identifier = c->bandwidthItems().at("veth7").interfaceIdentifier;
    std::erase_if(*links_, [](const netstate::LinkInfo& l) { return l.name == "veth7"; });
    tickAt(c, kSlot + 30);
    tickAt(c, kSlot + 601);  // the period end stores its bucket; it is kept within the expiry
    EXPECT_EQ(rows(), "1700000410.0|1700001000.0|" + std::to_string(identifier) + "|500000.0|0.0");
    EXPECT_TRUE(c->bandwidthItems().count("veth7"));
    tickAt(c, kSlot + 1201);
    EXPECT_FALSE(c->bandwidthItems().count("veth7")) << "gone for longer than the expiry";
    for (const auto& e : c->bandwidthInterfaceMap()) EXPECT_NE(e.interface, "veth7");
    EXPECT_EQ(c->bandwidthItems().size(), 2u);  // eth0, eth1
    EXPECT_EQ(sql(kBandwidthDB, "select identifier from bandwidth_interface_map where interface = 'veth7'"),
              std::to_string(identifier))
        << "the file keeps the name's row";

    // The name returns: its first identifier again, no new map row.
    addLink(5, "veth7");
    counters("veth7", 0, 0);
    tickAt(c, kSlot + 1210);
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(c->bandwidthItems().at("veth7").interfaceIdentifier, identifier);
    EXPECT_EQ(sql(kBandwidthDB, "select count(*) from bandwidth_interface_map where interface = 'veth7'"), "1");
}

TEST_F(NetworkBandwidthTest, NewInterfacesDoNotWaitForABusyFileAndKeepTheirIdentifiers) {
    auto c = start(kSlot + 10);
    counters("eth0", 0, 0);
    counters("eth1", 0, 0);
    tickAt(c, kSlot + 10);  // eth0 and eth1 are 1 and 2
    tickAt(c, kSlot + 11);
    addLink(4, "veth1");
    addLink(5, "veth2");
    counters("veth1", 0, 0);
    counters("veth2", 0, 0);

    auto gate = systest::QueueGate::hold(kBandwidthDB);
    platform::Clock::setVirtualNow(kSlot + 20);
    c->updateStats();  // both first seen in one tick
    counters("veth1", 0, 300000);
    counters("veth2", 200000, 0);
    platform::Clock::setVirtualNow(kSlot + 601);
    c->updateStats();  // the period end: rows for names whose identifiers are not back yet
    ASSERT_TRUE(gate->stillHeld()) << "a tick waited for the bandwidth file";
    EXPECT_EQ(c->bandwidthItems().at("veth1").interfaceIdentifier, -1);
    EXPECT_EQ(sql(kBandwidthDB, "select count(*) from bandwidth_interface_map"), "2") << "nothing written yet";
    gate->release();
    dispatch::MainLoop::runUntilIdle();

    // The map rows went first, then the sample rows with the identifiers found on the queue.
    EXPECT_EQ(sql(kBandwidthDB, "select identifier, interface from bandwidth_interface_map order by identifier"),
              "1|eth0\n2|eth1\n3|veth1\n4|veth2");
    EXPECT_EQ(rows(), "1700000420.0|1700001000.0|3|300000.0|0.0\n1700000420.0|1700001000.0|4|0.0|200000.0");
    EXPECT_EQ(c->bandwidthItems().at("veth1").interfaceIdentifier, 3);
    EXPECT_EQ(c->bandwidthItems().at("veth2").interfaceIdentifier, 4);
    EXPECT_EQ(c->pendingBandwidthRows(), 0u);

    // A restart reads them back at once, and a later row uses them.
    NetworkStatCollectorMac::cleanupShared();
    auto again = start(kSlot + 1210);
    EXPECT_EQ(again->identifierForInterface("veth2"), 4);
    EXPECT_EQ(again->identifierForInterface("veth1"), 3);
    counters("veth2", 200000, 0);
    tickAt(again, kSlot + 1210);
    ASSERT_EQ(again->bandwidthItems().at("veth2").interfaceIdentifier, 4) << "known from the map, not asked again";
    counters("veth2", 600000, 0);
    tickAt(again, kSlot + 1801);
    EXPECT_EQ(sql(kBandwidthDB, "select interface, download from bandwidth_samples order by sample desc limit 1"),
              "4|400000.0");
    EXPECT_EQ(sql(kBandwidthDB, "select count(*) from bandwidth_interface_map"), "4");
}

TEST_F(NetworkBandwidthTest, RowsThatCannotBeWrittenWaitWithTheirOwnTimesAndIdentifiersAreAskedAgain) {
    auto c = start(kSlot + 10);
    counters("eth0", 0, 0);
    tickAt(c, kSlot + 10);
    counters("eth0", 500000, 0);
    tickAt(c, kSlot + 20);
    // The samples table goes away: the row of this period cannot be written.
    sql(kBandwidthDB, "drop table bandwidth_samples");
    tickAt(c, kSlot + 601);
    EXPECT_EQ(c->pendingBandwidthRows(), 1u);
    counters("eth0", 700000, 0);
    tickAt(c, kSlot + 700);
    c->prepareBandwidthDatabase();
    platform::Clock::setVirtualNow(kSlot + 710);
    c->saveBandwidth();
    EXPECT_EQ(c->pendingBandwidthRows(), 0u);
    EXPECT_EQ(rows(), "1700000410.0|1700001000.0|1|0.0|500000.0\n1700001000.0|1700001110.0|1|0.0|200000.0");

    // A map insert that fails is not remembered: the row waits and the name is asked again.
    sql(kBandwidthDB, "drop table bandwidth_interface_map");
    addLink(4, "eth9");
    counters("eth9", 0, 0);
    tickAt(c, kSlot + 720);
    counters("eth9", 0, 900000);
    tickAt(c, kSlot + 730);
    platform::Clock::setVirtualNow(kSlot + 740);
    c->saveBandwidth();
    EXPECT_EQ(c->pendingBandwidthRows(), 1u);
    EXPECT_EQ(c->bandwidthItems().at("eth9").interfaceIdentifier, -1);
    c->prepareBandwidthDatabase();
    platform::Clock::setVirtualNow(kSlot + 750);
    c->saveBandwidth();
    EXPECT_EQ(c->pendingBandwidthRows(), 0u);
    EXPECT_EQ(sql(kBandwidthDB, "select interface, upload, start, end from bandwidth_samples where upload > 0"),
              "1|900000.0|1700001120.0|1700001140.0");
    EXPECT_EQ(sql(kBandwidthDB, "select identifier, interface from bandwidth_interface_map"), "1|eth9");
    EXPECT_EQ(c->bandwidthItems().at("eth9").interfaceIdentifier, 1);
}

}  // namespace
