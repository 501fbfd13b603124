// The portable model tables (MacBook, MacBook Air, MacBook Pro): every model's row count, the
// invariants that hold over all of them, rows worth pinning down, and the release texts chosen
// by serial suffix.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platforms/PlatformFixture.h"
#include "platforms/PlatformModelList.h"

using namespace telvo;

namespace {

std::vector<const PlatformModel*> portableModels() {
    std::vector<const PlatformModel*> all;
    for (auto family : {platforms::macBookModels(), platforms::macBookAirModels(), platforms::macBookProModels()})
        all.insert(all.end(), family.begin(), family.end());
    return all;
}

const PlatformModel& portable(const std::string& className) {
    for (const PlatformModel* m : portableModels())
        if (className == m->className) return *m;
    ADD_FAILURE() << "no table for " << className;
    static const PlatformModel none{};
    return none;
}

const SensorRow& row(const PlatformModel& m, size_t number) {  // counted from 1
    static const SensorRow none{"", ""};
    if (number < 1 || number > m.sensors.size()) {
        ADD_FAILURE() << m.className << " has no row " << number;
        return none;
    }
    return m.sensors[number - 1];
}

bool hasRow(const PlatformModel& m, const char* key) {
    for (const SensorRow& r : m.sensors)
        if (std::strcmp(r.key, key) == 0) return true;
    return false;
}

class PortableModels : public platformtest::PlatformFixture {
protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        PlatformController::resetForTesting();  // the real tables, not the fixtures of the same names
        PlatformController::registerModels(platforms::platformModelList());
    }
};

TEST_F(PortableModels, EveryModelHasItsNumberOfRows) {
    const std::map<std::string, size_t> expected = {
        {"MacBook1_1", 21}, {"MacBook2_1", 16}, {"MacBook3_1", 18}, {"MacBook4_1", 18}, {"MacBook5_1", 17},
        {"MacBook5_2", 17}, {"MacBook6_1", 20}, {"MacBook7_1", 20}, {"MacBook8_1", 31}, {"MacBook9_1", 30},
        {"MacBook10_1", 31}, {"MacBookAir1_1", 19}, {"MacBookAir2_1", 20}, {"MacBookAir3_1", 19},
        {"MacBookAir3_2", 20}, {"MacBookAir4_1", 31}, {"MacBookAir4_2", 31}, {"MacBookAir5_1", 36},
        {"MacBookAir5_2", 36}, {"MacBookAir6_1", 34}, {"MacBookAir6_2", 34}, {"MacBookAir7_1", 40},
        {"MacBookAir7_2", 40}, {"MacBookPro1_1", 31}, {"MacBookPro1_2", 31}, {"MacBookPro2_1", 24},
        {"MacBookPro2_2", 24}, {"MacBookPro3_1", 24}, {"MacBookPro4_1", 27}, {"MacBookPro5_1", 31},
        {"MacBookPro5_2", 31}, {"MacBookPro5_3", 31}, {"MacBookPro5_4", 28}, {"MacBookPro5_5", 13},
        {"MacBookPro6_1", 30}, {"MacBookPro6_2", 31}, {"MacBookPro7_1", 21}, {"MacBookPro8_1", 29},
        {"MacBookPro8_2", 41}, {"MacBookPro8_3", 35}, {"MacBookPro9_1", 38}, {"MacBookPro9_2", 26},
        {"MacBookPro10_1", 39}, {"MacBookPro10_2", 29}, {"MacBookPro11_1", 30}, {"MacBookPro11_2", 47},
        {"MacBookPro11_3", 47}, {"MacBookPro11_4", 49}, {"MacBookPro11_5", 51}, {"MacBookPro12_1", 28},
        {"MacBookPro13_1", 39}, {"MacBookPro13_2", 82}, {"MacBookPro13_3", 64}, {"MacBookPro14_1", 31},
        {"MacBookPro14_2", 63}, {"MacBookPro14_3", 70},
    };
    ASSERT_EQ(expected.size(), 56u);
    size_t expectedTotal = 0;
    for (const auto& [name, count] : expected) expectedTotal += count;
    ASSERT_EQ(expectedTotal, 1814u);

    std::set<std::string> seen;
    size_t total = 0;
    for (const PlatformModel* m : portableModels()) {
        EXPECT_TRUE(seen.insert(m->className).second) << m->className << " listed twice";
        auto it = expected.find(m->className);
        ASSERT_NE(it, expected.end()) << m->className;
        EXPECT_EQ(m->sensors.size(), it->second) << m->className;
        total += m->sensors.size();
    }
    EXPECT_EQ(seen.size(), 56u);
    EXPECT_EQ(total, 1814u);

    // The models that repeat another's rows share its table.
    for (auto [copy, source] : {std::pair{"MacBook5_2", "MacBook5_1"}, {"MacBookAir5_2", "MacBookAir5_1"},
                                {"MacBookAir6_2", "MacBookAir6_1"}, {"MacBookAir7_2", "MacBookAir7_1"},
                                {"MacBookPro1_2", "MacBookPro1_1"}, {"MacBookPro2_2", "MacBookPro2_1"},
                                {"MacBookPro5_2", "MacBookPro5_1"}})
        EXPECT_EQ(portable(copy).sensors.data(), portable(source).sensors.data()) << copy;
}

TEST_F(PortableModels, InvariantsHoldOverEveryModel) {
    const std::set<std::string> fanIdentifiers = {"Exhaust", "Leftside", "Rightside"};
    const std::set<std::string> withoutTheirDefaultKey = {"MacBookAir7_1", "MacBookAir7_2"};
    int powerRows = 0;
    for (const PlatformModel* m : portableModels()) {
        SCOPED_TRACE(m->className);
        std::string expectedName = m->identifier;
        for (char& c : expectedName)
            if (c == ',') c = '_';
        EXPECT_EQ(m->className, expectedName);
        EXPECT_EQ(PlatformController::registeredModel(m->className), m);
        PlatformMacPtr p = PlatformController::platformForClassName(m->className);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->model(), m);
        EXPECT_EQ(p->className(), m->className);
        EXPECT_EQ(m->base, PlatformBase::Mac);

        const std::string className = m->className;
        const std::string family = className.substr(0, className.find_first_of("0123456789"));
        EXPECT_STREQ(m->name, family == "MacBook" ? "MacBook" : family == "MacBookAir" ? "MacBook Air" : "MacBook Pro");
        EXPECT_GT(m->screenSize, 0);
        EXPECT_GE(m->maximumMemory, 2048);
        EXPECT_NE(std::string(m->icon), "");

        ASSERT_TRUE(m->defaultSensorKeys[0]);
        EXPECT_FALSE(m->defaultSensorKeys[1]) << "one default key per portable";
        EXPECT_EQ(hasRow(*m, m->defaultSensorKeys[0]), !withoutTheirDefaultKey.count(m->className))
            << m->defaultSensorKeys[0];

        for (const SensorRow& r : m->sensors) {
            ASSERT_TRUE(r.key && r.name);
            EXPECT_NE(std::string(r.name), "") << r.key;
            if (r.multiplyVoltage || r.multiplyCurrent) {
                ++powerRows;
                ASSERT_TRUE(r.multiplyVoltage && r.multiplyCurrent);
                EXPECT_STREQ(r.key, "PD0R");
                EXPECT_STREQ(r.name, "DC In");
                EXPECT_TRUE(hasRow(*m, r.multiplyVoltage)) << r.multiplyVoltage;
                EXPECT_TRUE(hasRow(*m, r.multiplyCurrent)) << r.multiplyCurrent;
                EXPECT_EQ(r.low, 0);
                EXPECT_EQ(r.high, 0);
            } else if (fanIdentifiers.count(r.key)) {
                EXPECT_STREQ(r.name, r.key) << "a fan identifier row names its fan by the identifier";
                EXPECT_GT(r.low, 0);
                EXPECT_GT(r.high, r.low);
            } else {
                EXPECT_EQ(std::strlen(r.key), 4u) << r.key;
            }
        }
    }
    EXPECT_EQ(powerRows, 4);
}

TEST_F(PortableModels, RowsAsTheModelsHaveThem) {
    struct Case {
        const char* model;
        size_t number;
        SensorRow row;
    };
    const Case cases[] = {
        {"MacBook1_1", 21, {"F0Ac", "Exhaust", 1500, 6200}},
        {"MacBook1_1", 11, {"TC0D", "CPU Die"}},
        {"MacBookAir5_1", 11, {"PDTR", "DC-in Total", 0, 55.3}},
        {"MacBookAir5_1", 36, {"PDTR", "DC In"}},
        {"MacBookAir5_1", 22, {"TM0P", "Inlet", 20, 75}},
        {"MacBookPro11_3", 41, {"F0Ac", "Leftside", 2160, 6156}},
        {"MacBookPro11_3", 42, {"F1Ac", "Rightside", 2000, 5700}},
        {"MacBookPro2_1", 23, {"Rightside", "Rightside", 2000, 6000}},
        {"MacBookPro9_1", 21, {"VC2C", "CPU System Agent", 8, 2}},
        {"MacBookPro11_2", 1, {"IC0C", "CPU Core", 0.1, 20}},
        {"MacBookPro13_3", 9, {"IAPC", "Wireless"}},
        {"MacBookPro13_3", 10, {"IAPC", "Radeon GPU Core"}},
        {"MacBookPro13_2", 20, {"IM0C", "1.2V (CPU & Memory)"}},
        {"MacBookPro5_4", 26, powerRow("PD0R", "DC In", "VD0R", "ID0R")},
        {"MacBookPro8_1", 25, powerRow("PD0R", "DC In", "VD0R", "ID0R")},
        {"MacBookPro8_2", 35, powerRow("PD0R", "DC In", "VD0C", "ID0R")},
        {"MacBookPro8_3", 29, powerRow("PD0R", "DC In", "VD0R", "ID0R")},
    };
    auto text = [](const char* s) { return std::string(s ? s : "<none>"); };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " row " + std::to_string(c.number));
        const SensorRow& r = row(portable(c.model), c.number);
        EXPECT_STREQ(r.key, c.row.key);
        EXPECT_STREQ(r.name, c.row.name);
        EXPECT_EQ(r.low, c.row.low);
        EXPECT_EQ(r.high, c.row.high);
        EXPECT_EQ(text(r.multiplyVoltage), text(c.row.multiplyVoltage));
        EXPECT_EQ(text(r.multiplyCurrent), text(c.row.multiplyCurrent));
    }
    EXPECT_STREQ(portable("MacBookAir4_1").sensors[18].key, "TM0P");
    EXPECT_STREQ(portable("MacBookAir4_1").sensors[19].key, "Tm0P") << "keys keep their case";

    // The entries the collector reads: a power entry has no limits, plain ones have both.
    PlatformMacPtr p = PlatformController::platformForClassName("MacBookPro8_2");
    ValueArray entries = p->supportedSensors();
    ASSERT_EQ(entries.size(), 41u);
    const Value& power = entries[34];
    EXPECT_EQ(power["type"].stringValue(), "watts");
    ASSERT_EQ(power["multiply"].count(), 2u);
    EXPECT_EQ(power["multiply"].at(0).stringValue(), "VD0C");
    EXPECT_EQ(power["multiply"].at(1).stringValue(), "ID0R");
    EXPECT_FALSE(power.has("low"));
    EXPECT_FALSE(power.has("high"));
    EXPECT_DOUBLE_EQ(entries[0]["high"].doubleValue(), 4.85);

    // Facts of a few models.
    const PlatformModel& mb10 = portable("MacBook10_1");
    EXPECT_EQ(mb10.maximumMemory, 16384.0);
    EXPECT_EQ(mb10.memorySlots, 0);
    EXPECT_EQ(mb10.screenSize, 12.0);
    EXPECT_STREQ(portable("MacBookPro5_4").defaultSensorKeys[0], "TC0C");
    EXPECT_STREQ(portable("MacBookPro13_2").icon, "macbookpro-retina-display.png");
}

TEST_F(PortableModels, ReleaseTextsBySerialSuffix) {
    struct Case {
        const char* model;
        std::optional<std::string> serial;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"MacBook2_1", "W8712345YA5", "Mid 2007"},
        {"MacBook2_1", "W87123451WGK", std::nullopt},  // twelve characters: a four-character suffix
        {"MacBook2_1", "W8712345WGK", "Late 2006"},
        {"MacBook2_1", std::nullopt, std::nullopt},
        {"MacBook5_2", "W8712345A9Q", "Mid 2009"},
        {"MacBookAir2_1", "W87123459A7", "Mid 2009"},
        {"MacBookAir2_1", "W871234522D", "Late 2008"},
        {"MacBookPro5_2", "W8712345ANE", "Mid 2009"},
        {"MacBookPro5_2", "W87123458FM", "Early 2009"},
        {"MacBookPro8_3", "C02ABCDEDW48", "Late 2011"},
        {"MacBookPro8_1", "C02ABCDEDW48", std::nullopt},  // listed by a sibling only
        {"MacBookPro8_1", "C02ABCDEDH2G", "Early 2011"},
        {"MacBookPro8_2", "C02ABCDEDMGG", "Early 2011"},
        {"MacBookPro8_2", "C02ABCDEDV7N", "Late 2011"},
        {"MacBookPro8_2", "W8712345V7N", std::nullopt},  // eleven characters: three
        {"MacBookPro8_2", "DV7", std::nullopt},
        {"MacBook1_1", "W8712345YA5", std::nullopt},
        {"MacBookPro1_1", "W8712345YA5", std::nullopt},
        {"MacBookPro1_2", std::nullopt, std::nullopt},
        {"MacBookPro6_1", std::nullopt, "Mid 2010"},
        {"MacBookPro13_2", "C02ABCDEDW48", "Retina & Touch Bar, Late 2016"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.serial.value_or("<no serial>"));
        installRegistry(c.serial, false);
        PlatformMacPtr p = PlatformController::platformForClassName(c.model);
        EXPECT_EQ(p->variationName(), c.expected);
    }

    // The seven suffix tables: 114 suffixes, three or four characters, none twice in a model.
    size_t suffixes = 0;
    for (const PlatformModel* m : portableModels()) {
        if (m->variation.kind != ModelVariation::Kind::BySuffix) continue;
        SCOPED_TRACE(m->className);
        const size_t length = std::string(m->className).starts_with("MacBookPro8_") ? 4 : 3;
        std::set<std::string> seen;
        for (const SuffixText& s : m->variation.bySuffix) {
            EXPECT_EQ(std::strlen(s.suffix), length) << s.suffix;
            EXPECT_TRUE(seen.insert(s.suffix).second) << s.suffix;
        }
        suffixes += seen.size();
    }
    EXPECT_EQ(suffixes, 114u);
}

}  // namespace
