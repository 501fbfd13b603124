// The memory collector against fixture machines: golden replies with the protocols'
// scaling, per-tick paging, failed reads, installed memory, and the table migration.
#include <gtest/gtest.h>

#include <unistd.h>

#include "SystemFixture.h"

using namespace telvo;

namespace {

class MemoryStatCollectorTest : public systest::SystemFixture {
protected:
    void SetUp() override {
        systest::SystemFixture::SetUp();
        ASSERT_EQ(::sysconf(_SC_PAGESIZE), 4096) << "the golden page counts are those of 4 KiB pages";
    }
    std::shared_ptr<MemoryStatCollectorMac> started() {
        auto c = MemoryStatCollectorMac::sharedMemoryCollector();
        startCollector(*c);
        return c;
    }
};

TEST_F(MemoryStatCollectorTest, GoldenRepliesForProtocols0To3) {
    auto c = started();
    tick();
    useLater("/proc/vmstat", "vmstat-2");  // 400 KiB read from disk
    tick();
    for (int protocol : {0, 2, 3})
        expectGolden("memory_v" + std::to_string(protocol) + ".xml", c->xmlNodesFromAttributes(request("0", protocol)));

    // Protocol 0: stored units. Wired = 8000000 - 2000000 - 3000000 - 1500000 - 100000 KB.
    auto v0 = samplesOf(c->xmlNodesFromAttributes(request("0", 0)));
    ASSERT_EQ(v0.size(), 2u);
    EXPECT_EQ(attr(v0[1], "w"), "1400000.00");
    EXPECT_EQ(attr(v0[1], "to"), "8388608.00");  // eight online 1 GiB blocks
    EXPECT_EQ(attr(v0[1], "compressed"), "100000.00");
    EXPECT_EQ(attr(v0[1], "filecache"), "2000000.00");
    EXPECT_EQ(attr(v0[1], "app"), "2500000.00");
    EXPECT_EQ(attr(v0[1], "pi"), "100100.00");  // pages
    EXPECT_EQ(attr(v0[0], "pif"), "0.00");      // no previous sample
    EXPECT_EQ(attr(v0[1], "pif"), "409600.00");  // 100 pages in bytes
    EXPECT_EQ(attr(v0[1], "pof"), "0.00");
    EXPECT_EQ(attr(v0[1], "su"), "1073741824.00");
    EXPECT_EQ(attr(v0[1], "pressure"), "17.88");  // (1400000 + 100000) / 8388608
    // Protocol 3: memory in bytes; swap, paging and pressure as stored.
    auto v3 = samplesOf(c->xmlNodesFromAttributes(request("0", 3)));
    EXPECT_EQ(attr(v3[1], "w"), "1433600000.00");
    EXPECT_EQ(attr(v3[1], "su"), "1073741824.00");
    EXPECT_EQ(attr(v3[1], "pi"), "100100.00");
    EXPECT_EQ(attr(v3[1], "pressure"), "17.88");
    // Protocol 2: everything but pi, po and pressure divided by 2^20 (KB -> GB, bytes -> MB).
    auto v2 = samplesOf(c->xmlNodesFromAttributes(request("0", 2)));
    EXPECT_EQ(attr(v2[1], "to"), "8.00");
    EXPECT_EQ(attr(v2[1], "su"), "1024.00");
    EXPECT_EQ(attr(v2[1], "pi"), "100100.00");
    EXPECT_EQ(attr(v2[1], "pressure"), "17.88");

    // Nothing of the pressure file goes out; it is kept as the pressure level.
    EXPECT_DOUBLE_EQ(c->pressureLevel(), 1.5);
    EXPECT_DOUBLE_EQ(c->sampleAtIndex(0, 0).values[MemoryStatCollector::kPressureLevel], 1.5);
}

TEST_F(MemoryStatCollectorTest, PagingCounterThatWentBackGivesZero) {
    auto c = started();
    useLater("/proc/vmstat", "vmstat-2");
    tick();
    writeMachineFile("/proc/vmstat", "pgpgin 100\npgpgout 50\n");
    tick();
    statsample s = c->sampleAtIndex(0, 0);
    EXPECT_EQ(s.values[MemoryStatCollector::kPageinsPerTick], 0);
    EXPECT_EQ(s.values[MemoryStatCollector::kPageoutsPerTick], 0);
}

TEST_F(MemoryStatCollectorTest, FailedReadsStoreEmptySamplesAndKeepThePressureLevel) {
    auto c = started();
    tick();
    removeMachineFile("/proc/pressure");
    removeMachineFile("/proc/meminfo");
    tick();
    useLater("/proc/vmstat", "vmstat-2");
    std::filesystem::copy_file(std::string(TELVO_TEST_DATA_DIR) + "/machine/proc/meminfo", machine_ + "/proc/meminfo");
    tick();
    removeMachineFile("/proc/vmstat");
    tick();
    auto samples = samplesOf(c->xmlNodesFromAttributes(request("0", 0)));
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(attr(samples[1], "empty"), "1");
    EXPECT_EQ(attr(samples[1], "w"), "0.00");
    // After an empty sample there is no previous counter: no per-tick paging invented.
    EXPECT_EQ(attr(samples[2], "empty"), "<absent>");
    EXPECT_EQ(attr(samples[2], "pif"), "0.00");
    EXPECT_EQ(attr(samples[3], "empty"), "1");
    EXPECT_DOUBLE_EQ(c->pressureLevel(), 1.5) << "a failed pressure read keeps the last level";
}

TEST_F(MemoryStatCollectorTest, TotalFallsBackToMemTotalWithoutMemoryBlocks) {
    removeMachineFile("/sys/devices/system/memory");
    auto c = started();
    EXPECT_EQ(c->memorySize(), uint64_t(8000000) * 1024);
    tick();
    EXPECT_EQ(c->sampleAtIndex(0, 0).values[MemoryStatCollector::kTotal], 8000000);
}

TEST_F(MemoryStatCollectorTest, OldTablesGainTheNewColumnsOnce) {
    const std::string oldSchema =
        "(sample double PRIMARY KEY NOT NULL, time double NOT NULL DEFAULT 0, empty integer NOT NULL DEFAULT 0, "
        "wired double, active double, inactive double, free double, pageins double, pageouts double, swapused "
        "double, swaptotal double, total double)";
    std::string script;
    for (const char* prefix : {"hour_", "day_", "week_", "month_", "threemonth_", "sixmonth_", "year_", ""})
        script += std::string("create table ") + prefix + "memoryhistory " + oldSchema + ";";
    sql(fwtest::kLocalDB, script);
    sql(fwtest::kLongTermDB, "create table memoryhistory " + oldSchema + ";");

    auto c = MemoryStatCollectorMac::sharedMemoryCollector();
    c->setDbpath(fwtest::kLocalDB);
    c->setDbpathLong(fwtest::kLongTermDB);
    EXPECT_TRUE(c->prepareDatabase(false)) << "columns were added";
    for (const char* table : {"hour_memoryhistory", "year_memoryhistory"})
        EXPECT_EQ(sqlNumber(fwtest::kLocalDB, std::string("select count(*) from pragma_table_info('") + table +
                                                  "') where name in ('compressed','pagesinsf','pageoutsf')"),
                  3)
            << table;
    EXPECT_EQ(sqlNumber(fwtest::kLongTermDB, "select count(*) from pragma_table_info('memoryhistory') where name in "
                                              "('compressed','pagesinsf','pageoutsf')"),
              3);
    // The local file's level-8 table is not the long-term one and is left alone.
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "select count(*) from pragma_table_info('memoryhistory') where name = 'compressed'"), 0);

    EXPECT_FALSE(c->prepareDatabase(false)) << "a second start changes nothing";
    EXPECT_TRUE(c->prepareDatabase(true)) << "and answers the flag it was given";
}

}  // namespace
