// The battery collector on the fixture power supplies and on power-source descriptions.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <fstream>

#include "BatteryFixture.h"
#include "QueueGate.h"
#include "history/HistoryDatabaseController.h"

using namespace telvo;

namespace {

class BatteryStatCollectorTest : public systest::BatteryFixture {};

// A collector whose power sources are given descriptions, for the key rules.
class DescribedBatteries : public BatteryStatCollectorMac {
public:
    ValueArray given;

protected:
    void readPowerSources() override { snapshot_ = {given, {}}; }
};

Value dict(std::initializer_list<std::pair<const char*, Value>> entries) {
    Value d{ValueDictionary{}};
    for (const auto& [k, v] : entries) d.set(k, v);
    return d;
}

TEST_F(BatteryStatCollectorTest, SamplesOnEverySixthTick) {
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    for (int64_t sequence = 0; sequence <= 13; ++sequence)
        EXPECT_EQ(c->shouldUpdateStateForSequence(sequence), sequence % 6 == 0) << "tick " << sequence;

    startCollector(*c);
    const double first = c->sampleIndex(0).sampleID + 1;
    for (int i = 0; i < 13; ++i) tick();  // ticks 0 to 12
    EXPECT_EQ(c->sampleIndex(0).sampleID, first + 2) << "ticks 0, 6 and 12 sample";
    auto bat = item(*c, "BAT0");
    ASSERT_TRUE(bat);
    EXPECT_EQ(bat->sampleAtIndex(0, 0).sampleID, first + 2);
    EXPECT_EQ(bat->sampleAtIndex(2, 0).sampleID, first);
    EXPECT_EQ(bat->sampleAtIndex(3, 0).sampleID, 0) << "no fourth sample";
    EXPECT_EQ(c->storageForType(0)[0].sampleID, first + 2) << "the collector's level 0 keeps the sample numbers";
    EXPECT_EQ(c->storageForType(0)[2].sampleID, first);
}

TEST_F(BatteryStatCollectorTest, FixtureSuppliesGiveTheirItemsAndGoldenReply) {
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*c);
    samples(*c, 1);
    // AC decides the state and is no item; the pen's battery is on USB and is left out.
    EXPECT_EQ(keys(*c), (std::vector<std::string>{"BAT0", "UPS123", "aa:bb:cc:dd:ee:ff"}));

    auto bat = item(*c, "BAT0");  // blank serial: the folder name is the key
    EXPECT_EQ(bat->name.value_or(""), "Fixture Battery");
    EXPECT_EQ(bat->type, 0);
    EXPECT_EQ(bat->percentage, 57.0f);
    EXPECT_EQ(bat->state, 1);
    EXPECT_EQ(bat->source, 1);
    EXPECT_EQ(bat->time, 129) << "(50 - 28.5) Wh at 10 W";
    EXPECT_EQ(bat->cycles, 300);
    EXPECT_NEAR(bat->health, 50.0 / 52.0 * 100.0, 0.01);
    EXPECT_EQ(bat->voltage, 12500.0f);
    std::time_t made = std::time_t(bat->manufactureTime);
    std::tm local{};
    localtime_r(&made, &local);
    EXPECT_EQ(local.tm_year + 1900, 2017);
    EXPECT_EQ(local.tm_mon + 1, 4);
    EXPECT_EQ(local.tm_mday, 6);
    EXPECT_EQ(local.tm_hour, 0);

    auto ups = item(*c, "UPS123");
    EXPECT_EQ(ups->type, 1);
    EXPECT_EQ(ups->percentage, 100.0f);
    EXPECT_EQ(ups->state, 0) << "an external source at exactly 100 % reports state 0 while charging";
    EXPECT_EQ(ups->source, 1);
    EXPECT_EQ(ups->cycles, -1);
    EXPECT_EQ(ups->health, -1.0f);

    auto mouse = item(*c, "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(mouse->type, 2);
    EXPECT_EQ(mouse->state, 2);
    EXPECT_EQ(mouse->subtype, 3);
    EXPECT_EQ(mouse->source, 0);
    EXPECT_EQ(mouse->percentage, 45.0f);
    EXPECT_EQ(mouse->name.value_or(""), "Fixture Mouse");
    EXPECT_EQ(mouse->product.value_or(""), "Fixture Mouse");

    samples(*c, 1);
    expectGolden("battery_v3.xml", c->xmlNodesFromAttributes(request("0", 3)));
}

TEST_F(BatteryStatCollectorTest, PowerSupplyStatesAndTimes) {
    const std::string bat = "/sys/class/power_supply/BAT0/";
    struct Case {
        const char* what;
        const char* status;
        const char* acOnline;  // nullptr: no mains supply at all
        int64_t state, source, time;
    } cases[] = {
        {"charging at 10 W", "Charging", "1", 1, 1, 129},
        {"full", "Full", "1", 0, 1, -2},
        {"plugged, not charging", "Not charging", "1", 3, 1, -1},
        {"discharging at 10 W", "Discharging", "0", 2, 0, 171},
        {"no mains supply, discharging", "Discharging", nullptr, 2, 0, 171},
        {"no mains supply, charging", "Charging", nullptr, 1, 1, 129},
        {"no mains supply, unknown status", "Unknown", nullptr, 0, -1, -1},
    };
    for (const Case& k : cases) {
        BatteryStatCollectorMac::resetForTesting();
        writeMachineFile(bat + "status", std::string(k.status) + "\n");
        if (k.acOnline) writeMachineFile("/sys/class/power_supply/AC/online", std::string(k.acOnline) + "\n");
        else removeMachineFile("/sys/class/power_supply/AC");
        auto c = BatteryStatCollectorMac::sharedBatteryCollector();
        c->updateStats();
        auto b = item(*c, "BAT0");
        ASSERT_TRUE(b) << k.what;
        EXPECT_EQ(b->state, k.state) << k.what;
        EXPECT_EQ(b->source, k.source) << k.what;
        EXPECT_EQ(b->time, k.time) << k.what;
    }
}

TEST_F(BatteryStatCollectorTest, MissingOrMalformedFilesLeaveFieldsAbsent) {
    const std::string bat = "/sys/class/power_supply/BAT0/";
    writeMachineFile(bat + "capacity", "full\n");  // text where a number belongs
    removeMachineFile(bat + "cycle_count");
    removeMachineFile(bat + "power_now");
    writeMachineFile(bat + "energy_full_design", "\n");
    power::PowerSources reader;
    auto snapshot = reader.read();
    ASSERT_EQ(snapshot.descriptions.size(), 2u);
    const Value& d = snapshot.descriptions[0];
    EXPECT_EQ(d["Power Source ID"].stringValue(), "BAT0");
    EXPECT_FALSE(d.has("Hardware Serial Number"));
    EXPECT_EQ(d["Current Capacity"].intValue(), 57) << "energy_now / energy_full";
    EXPECT_EQ(d["Time to Full Charge"].intValue(), -1) << "no rate";
    const Value& smart = snapshot.smartBatteries[0];
    EXPECT_FALSE(smart.has("CycleCount"));
    EXPECT_FALSE(smart.has("DesignCapacity"));
    EXPECT_EQ(smart["ManufactureDate"].intValue(), 19078);

    // No capacities at all: no health, and no health row on every sample.
    removeMachineFile(bat + "energy_full");
    removeMachineFile(bat + "energy_now");
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*c);
    samples(*c, 3);
    settleRows();
    EXPECT_EQ(item(*c, "BAT0")->health, -1.0f);
    EXPECT_EQ(item(*c, "BAT0")->percentage, -1.0f);
    EXPECT_EQ(sqlNumber(fwtest::kLocalDB, "select count(*) from battery_health"), 0);
}

TEST_F(BatteryStatCollectorTest, DescriptionEdgeCases) {
    struct Case {
        const char* what;
        Value description;
        int64_t type;
        int64_t state, source, time;
        float percentage;
    } cases[] = {
        {"charged on AC", dict({{"Power Source State", Value("AC Power")}, {"Is Charged", Value(true)},
                                {"Time to Full Charge", Value(0)}}),
         0, 0, 1, -2, -1},
        {"charged on AC, no time to full", dict({{"Power Source State", Value("AC Power")}, {"Is Charged", Value(1)}}),
         0, 0, 1, -3, -1},
        {"charging, time being calculated", dict({{"Power Source State", Value("AC Power")}, {"Is Charging", Value(true)},
                                                  {"Time to Full Charge", Value(-1)}}),
         0, 1, 1, -1, -1},
        {"charging", dict({{"Power Source State", Value("AC Power")}, {"Is Charging", Value(true)},
                           {"Time to Full Charge", Value(42)}}),
         0, 1, 1, 42, -1},
        {"on AC, not charging", dict({{"Power Source State", Value("AC Power")}, {"Time to Full Charge", Value(0)}}),
         0, 3, 1, -1, -1},
        {"discharging, time being calculated",
         dict({{"Power Source State", Value("Battery Power")}, {"Time to Empty", Value(-1)}}), 0, 2, 0, -1, -1},
        {"discharging, no time to empty", dict({{"Power Source State", Value("Battery Power")}}), 0, 2, 0, 0, -1},
        {"no state", dict({{"Current Capacity", Value(50)}}), 0, 0, -1, -1, 50},
        {"external source full while charging",
         dict({{"Power Source State", Value("AC Power")}, {"Is Charging", Value(true)},
               {"Time to Full Charge", Value(5)}, {"Current Capacity", Value(100)}}),
         1, 0, 1, 5, 100},
        {"internal battery full while charging",
         dict({{"Power Source State", Value("AC Power")}, {"Is Charging", Value(true)},
               {"Time to Full Charge", Value(5)}, {"Current Capacity", Value(100)}}),
         0, 1, 1, 5, 100},
        {"capacity above 100", dict({{"Current Capacity", Value(140)}}), 0, 0, -1, -1, 100},
        {"capacity below 0", dict({{"Current Capacity", Value(-5)}}), 0, 0, -1, -1, 0},
    };
    for (const Case& k : cases) {
        auto i = std::make_shared<BatteryStatCollectorItemMac>();
        i->type = k.type;
        i->processIOPS(k.description);
        EXPECT_EQ(i->state, k.state) << k.what;
        EXPECT_EQ(i->source, k.source) << k.what;
        EXPECT_EQ(i->time, k.time) << k.what;
        EXPECT_EQ(i->percentage, k.percentage) << k.what;
    }
}

TEST_F(BatteryStatCollectorTest, SmartBatteryHealthAndDate) {
    struct Case {
        Value properties;
        float health;
    } cases[] = {
        {dict({{"MaxCapacity", Value(5400)}, {"DesignCapacity", Value(5000)}}), 100},
        {dict({{"MaxCapacity", Value(4000)}, {"DesignCapacity", Value(5000)}}), 80},
        {dict({{"MaxCapacity", Value(4000)}, {"DesignCapacity", Value(0)}}), 100},
        {dict({{"MaxCapacity", Value(4000)}}), -1},  // no design capacity: no health
        {dict({}), -1},
    };
    for (const Case& k : cases) {
        auto i = std::make_shared<BatteryStatCollectorItemMac>();
        i->processSmart(k.properties);
        EXPECT_FLOAT_EQ(i->health, k.health) << k.properties.description();
        EXPECT_EQ(i->name.value_or(""), "Internal Battery");
        EXPECT_EQ(i->cycles, -1) << "no cycle count: none";
    }
    auto i = std::make_shared<BatteryStatCollectorItemMac>();
    i->processSmart(dict({{"ManufactureDate", Value(19078)}, {"CycleCount", Value(12)}}));
    std::time_t made = std::time_t(i->manufactureTime);
    std::tm local{};
    localtime_r(&made, &local);
    EXPECT_EQ(local.tm_year + 1900, 2017);
    EXPECT_EQ(local.tm_mon + 1, 4);
    EXPECT_EQ(local.tm_mday, 6);
    EXPECT_EQ(i->cycles, 12);
    const double first = i->manufactureTime;
    i->processSmart(dict({{"ManufactureDate", Value(19079)}}));
    EXPECT_EQ(i->manufactureTime, first) << "read once per item";
}

TEST_F(BatteryStatCollectorTest, KeysAndNamesOfDescriptions) {
    auto c = std::make_shared<DescribedBatteries>();
    c->disableAllBluetooth = true;
    c->given = {
        dict({{"Name", Value(" Lone Battery")}, {"Transport Type", Value("USB")}}),
        dict({{"Name", Value("  Two Blanks")}, {"Transport Type", Value("USB")}}),
        dict({{"Name", Value("By ID")}, {"Power Source ID", Value(7)}}),
        dict({{"Name", Value("By Serial")}, {"Power Source ID", Value(8)}, {"Hardware Serial Number", Value("SN1")}}),
        dict({{"Transport Type", Value("USB")}}),  // nothing to key it by: skipped
    };
    c->updateStats();
    EXPECT_EQ(keys(*c), (std::vector<std::string>{"Lone Battery", " Two Blanks", "7", "SN1"}));
    EXPECT_EQ(item(*c, "Lone Battery")->name.value_or(""), "Lone Battery");
    EXPECT_EQ(item(*c, " Two Blanks")->name.value_or(""), " Two Blanks");

    // A source that disappears is gone from the next sample.
    c->given.erase(c->given.begin());
    c->updateStats();
    EXPECT_EQ(keys(*c), (std::vector<std::string>{" Two Blanks", "7", "SN1"}));
}

TEST_F(BatteryStatCollectorTest, ChangeRowsOfCyclesHealthAndSources) {
    const std::string& db = fwtest::kLocalDB;
    {
        auto c = BatteryStatCollectorMac::sharedBatteryCollector();
        startCollector(*c);
        samples(*c, 1);
        settleRows();
        EXPECT_EQ(sql(db, "select uuid, cycles from battery_cycles"), "BAT0|300");
        EXPECT_EQ(sql(db, "select uuid, source from battery_sources order by uuid"), "BAT0|1\nUPS123|1")
            << "one row per source at the first sample; peripherals write none";
        EXPECT_EQ(sql(db, "select uuid, round(health, 2) from battery_health"), "BAT0|96.15");

        samples(*c, 2);
        settleRows();
        EXPECT_EQ(sqlNumber(db, "select count(*) from battery_cycles"), 1) << "unchanged count, no row";

        writeMachineFile("/sys/class/power_supply/BAT0/cycle_count", "301\n");
        samples(*c, 2);
        settleRows();
        EXPECT_EQ(sql(db, "select cycles from battery_cycles order by rowid"), "300\n301");
        EXPECT_EQ(sqlNumber(db, "select count(*) from battery_health"), 1);
        EXPECT_EQ(sqlNumber(db, "select count(*) from battery_sources"), 2);

        // Unplugged: one source row for the battery.
        writeMachineFile("/sys/class/power_supply/AC/online", "0\n");
        writeMachineFile("/sys/class/power_supply/BAT0/status", "Discharging\n");
        samples(*c, 1);
        settleRows();
        EXPECT_EQ(sql(db, "select source from battery_sources where uuid = 'BAT0' order by rowid"), "1\n0");
    }
    // A restart with the same count and health writes no cycles or health row.
    flush();
    BatteryStatCollectorMac::resetForTesting();
    auto again = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*again);
    samples(*again, 1);
    settleRows();
    EXPECT_EQ(item(*again, "BAT0")->cycles, 301);
    EXPECT_EQ(sqlNumber(db, "select count(*) from battery_cycles"), 2);
    EXPECT_EQ(sqlNumber(db, "select count(*) from battery_health"), 1);
}

TEST_F(BatteryStatCollectorTest, ANewSourceDoesNotWaitForABusyFileAndItsStoredValuesStillCount) {
    const std::string& db = fwtest::kLocalDB;
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*c);
    sql(db, "insert into battery_cycles (time, uuid, cycles) values (1, 'BAT0', 300)");
    sql(db, "insert into battery_health (time, uuid, health) values (1, 'BAT0', 90)");
    auto gate = systest::QueueGate::hold(db);
    c->updateStats();  // both sources first seen while the file is held up (no main loop: it would wait too)
    ASSERT_TRUE(gate->stillHeld()) << "a sample waited for the local file";
    ASSERT_TRUE(item(*c, "BAT0"));
    EXPECT_TRUE(item(*c, "BAT0")->storedValuesPending);
    gate->release();
    settleRows();

    // The same cycle count as stored: no row; a health other than the stored one: a row; the
    // source that stored nothing gets its first readings stored.
    EXPECT_FALSE(item(*c, "BAT0")->storedValuesPending);
    EXPECT_EQ(item(*c, "BAT0")->cycles, 300);
    EXPECT_EQ(sql(db, "select uuid, cycles from battery_cycles order by rowid"), "BAT0|300");
    EXPECT_EQ(sql(db, "select uuid, round(health, 2) from battery_health order by rowid"), "BAT0|90.0\nBAT0|96.15");
    samples(*c, 2);
    settleRows();
    EXPECT_EQ(sqlNumber(db, "select count(*) from battery_cycles"), 1);
    EXPECT_EQ(sqlNumber(db, "select count(*) from battery_health"), 2);
}

// A new source's first reading told against its stored cycles and health, each value alike:
// the same as stored writes nothing, another or none stored writes a row, and no reading takes
// the stored value.
TEST_F(BatteryStatCollectorTest, FirstReadingsAgainstStoredCyclesAndHealth) {
    const std::string& db = fwtest::kLocalDB;
    struct Case {
        const char* why;
        const char* table;
        const char* stored;  // the stored value, or nullptr for none
        const char* file;    // the reading's file, removed when `read` is false
        bool read;
        const char* rows;    // the table's values afterwards
        double value;        // the item's value afterwards
    } cases[] = {
        {"cycles as stored", "battery_cycles", "300", "cycle_count", true, "300", 300},
        {"other cycles", "battery_cycles", "250", "cycle_count", true, "250\n300", 300},
        {"no cycles stored", "battery_cycles", nullptr, "cycle_count", true, "300", 300},
        {"no cycles read", "battery_cycles", "250", "cycle_count", false, "250", 250},
        {"health as stored", "battery_health", "96.15384674072266", "energy_full", true, "96.15", 96.15},
        {"other health", "battery_health", "90", "energy_full", true, "90.0\n96.15", 96.15},
        {"no health stored", "battery_health", nullptr, "energy_full", true, "96.15", 96.15},
        {"no health read", "battery_health", "90", "energy_full", false, "90.0", 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string column = std::string(c.table) == "battery_cycles" ? "cycles" : "health";
        const std::string file = std::string("/sys/class/power_supply/BAT0/") + c.file;
        std::ifstream in(machine_ + file);
        const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!c.read) removeMachineFile(file);
        auto collector = BatteryStatCollectorMac::sharedBatteryCollector();
        startCollector(*collector);
        sql(db, "delete from battery_cycles");
        sql(db, "delete from battery_health");
        if (c.stored)
            sql(db, std::string("insert into ") + c.table + " (time, uuid, " + column + ") values (1, 'BAT0', " +
                        c.stored + ")");
        samples(*collector, 1);
        settleRows();
        const std::string shown = column == "cycles" ? "cycles" : "round(health, 2)";
        EXPECT_EQ(sql(db, "select " + shown + " from " + c.table + " where uuid = 'BAT0' order by rowid"), c.rows);
        auto battery = item(*collector, "BAT0");
        ASSERT_TRUE(battery);
        EXPECT_NEAR(column == "cycles" ? double(battery->cycles) : double(battery->health), c.value, 0.01);
        writeMachineFile(file, saved);
        dispatch::MainLoop::runUntilIdle();
        BatteryStatCollectorMac::resetForTesting();
    }
}

TEST_F(BatteryStatCollectorTest, TimeHeldUnknownForTenSecondsAfterAChange) {
    auto i = std::make_shared<BatteryStatCollectorItemMac>();
    const Value charging = dict({{"Power Source State", Value("AC Power")}, {"Is Charging", Value(true)},
                                 {"Time to Full Charge", Value(30)}});
    const Value discharging = dict({{"Power Source State", Value("Battery Power")}, {"Time to Empty", Value(90)}});
    i->processIOPS(charging);
    EXPECT_EQ(i->time, 30) << "the first update reports the time as computed";
    i->updateWithIdentifier(1);
    i->processIOPS(discharging);
    EXPECT_EQ(i->time, -1);
    EXPECT_TRUE(i->delay);
    platform::Clock::advance(9.0);
    dispatch::MainLoop::runUntilIdle();
    i->processIOPS(discharging);
    EXPECT_EQ(i->time, -1);
    platform::Clock::advance(1.5);
    dispatch::MainLoop::runUntilIdle();
    i->processIOPS(discharging);
    EXPECT_EQ(i->time, 90);
    EXPECT_FALSE(i->delay);

    // An item that is gone before its hold ends is not kept alive by it.
    std::weak_ptr<BatteryStatCollectorItemMac> weak = i;
    i->processIOPS(charging);
    i.reset();
    EXPECT_TRUE(weak.expired());
    platform::Clock::advance(11.0);
    dispatch::MainLoop::runUntilIdle();
}

TEST_F(BatteryStatCollectorTest, MachineTextIsMadeXmlSafe) {
    writeMachineFile("/sys/class/power_supply/BAT0/model_name", std::string("Bad\x01Name \xff\xfe end") + "\n");
    writeMachineFile("/sys/class/power_supply/BAT0/serial_number", std::string("SN\x02<&>\"") + "\n");
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*c);
    samples(*c, 1);
    const std::string text = fwtest::nodesText(c->xmlNodesFromAttributes(request("0", 3)));
    EXPECT_NE(text.find("Bad\xEF\xBF\xBDName \xEF\xBF\xBD\xEF\xBF\xBD end"), std::string::npos) << text;
    const std::string file = root_ + "/reply.xml";
    std::ofstream(file) << text;
    FILE* probe = popen("xmllint --version 2>&1", "r");
    char buf[128] = {};
    const bool haveXmllint = probe && fgets(buf, sizeof buf, probe) && std::string(buf).find("xmllint") != std::string::npos;
    if (probe) pclose(probe);
    if (!haveXmllint) GTEST_SKIP() << "xmllint is needed to parse the reply";
    EXPECT_EQ(std::system(("xmllint --noout '" + file + "'").c_str()), 0) << text;
}

}  // namespace
