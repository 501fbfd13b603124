// The desktop model tables (iMac, Mac mini, Mac Pro, Xserve): rows per model, the invariants
// every table keeps, pinned rows, facts, release texts by serial suffix and the computed name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PlatformFixture.h"
#include "platforms/PlatformModelList.h"

using namespace telvo;

namespace {

// Rows of each desktop model's sensor table.
const std::map<std::string, size_t> kExpectedRows = {
    {"iMac4_1", 19},    {"iMac5_1", 19},    {"iMac5_2", 19},    {"iMac6_1", 23},    {"iMac7_1", 19},
    {"iMac8_1", 23},    {"iMac9_1", 18},    {"iMac10_1", 21},   {"iMac11_1", 21},   {"iMac11_2", 29},
    {"iMac11_3", 29},   {"iMac12_1", 44},   {"iMac12_2", 44},   {"iMac13_1", 30},   {"iMac13_2", 48},
    {"iMac14_1", 30},   {"iMac14_2", 45},   {"iMac14_3", 30},   {"iMac14_4", 46},   {"iMac15_1", 48},
    {"iMac16_1", 30},   {"iMac16_2", 35},   {"iMac17_1", 50},   {"iMac18_1", 41},   {"iMac18_2", 45},
    {"iMac18_3", 53},   {"Macmini1_1", 15}, {"Macmini2_1", 10}, {"Macmini3_1", 19}, {"Macmini4_1", 22},
    {"Macmini5_1", 23}, {"Macmini5_2", 30}, {"Macmini5_3", 23}, {"Macmini6_1", 32}, {"Macmini6_2", 32},
    {"Macmini7_1", 38}, {"MacPro1_1", 45},  {"MacPro2_1", 47},  {"MacPro3_1", 51},  {"MacPro4_1", 95},
    {"MacPro5_1", 75},  {"MacPro6_1", 50},  {"Xserve1_1", 51},  {"Xserve2_1", 45},  {"Xserve3_1", 43},
};

std::vector<const PlatformModel*> desktopModels() {
    std::vector<const PlatformModel*> all;
    for (auto family : {platforms::iMacModels(), platforms::macMiniModels(), platforms::macProModels(),
                        platforms::xserveModels()})
        all.insert(all.end(), family.begin(), family.end());
    return all;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The rows of a model's table with that key, in table order.
std::vector<SensorRow> rowsWithKey(const PlatformModel& model, const std::string& key) {
    std::vector<SensorRow> rows;
    for (const SensorRow& row : model.sensors)
        if (row.key == key) rows.push_back(row);
    return rows;
}

bool hasRow(const PlatformModel& model, const char* key) { return key && !rowsWithKey(model, key).empty(); }

// The real tables registered, on the fixture machine (whose serial a test sets).
class DesktopModels : public platformtest::PlatformFixture {
protected:
    void SetUp() override {
        platformtest::PlatformFixture::SetUp();
        PlatformController::resetForTesting();
        PlatformController::registerModels(platforms::platformModelList());
    }
    static const PlatformModel& model(const std::string& className) {
        const PlatformModel* m = PlatformController::registeredModel(className);
        EXPECT_NE(m, nullptr) << className;
        static const PlatformModel none{};
        return m ? *m : none;
    }
    static SensorRow row(const std::string& className, const std::string& key, size_t occurrence = 0) {
        auto rows = rowsWithKey(model(className), key);
        EXPECT_GT(rows.size(), occurrence) << className << " " << key;
        return rows.size() > occurrence ? rows[occurrence] : SensorRow{"", ""};
    }
};

TEST_F(DesktopModels, EveryModelHasItsRows) {
    const auto models = desktopModels();
    ASSERT_EQ(models.size(), 45u);
    std::map<std::string, size_t> rows;
    size_t total = 0;
    for (const PlatformModel* m : models) {
        EXPECT_TRUE(rows.emplace(m->className, m->sensors.size()).second) << m->className << " listed twice";
        total += m->sensors.size();
    }
    EXPECT_EQ(rows, kExpectedRows);
    EXPECT_EQ(total, 1605u);

    auto count = [](std::span<const PlatformModel* const> family) { return family.size(); };
    EXPECT_EQ(count(platforms::iMacModels()), 26u);
    EXPECT_EQ(count(platforms::macMiniModels()), 10u);
    EXPECT_EQ(count(platforms::macProModels()), 6u);
    EXPECT_EQ(count(platforms::xserveModels()), 3u);
}

TEST_F(DesktopModels, InvariantsOverEveryTable) {
    for (const PlatformModel* m : desktopModels()) {
        SCOPED_TRACE(m->className);
        const std::string className = m->className;
        std::string expected = m->identifier;
        std::replace(expected.begin(), expected.end(), ',', '_');
        EXPECT_EQ(className, expected);
        EXPECT_EQ(PlatformController::registeredModel(className), m) << "the registry finds the table";
        auto platform = PlatformController::platformForClassName(className);
        ASSERT_TRUE(platform);
        EXPECT_EQ(platform->className(), className);
        EXPECT_EQ(platform->model(), m);
        EXPECT_EQ(platform->supportedSensors().size(), m->sensors.size());

        // The base family and its graphics flags.
        if (startsWith(className, "iMac")) {
            EXPECT_EQ(m->base, PlatformBase::iMac);
            EXPECT_NE(dynamic_cast<PlatformiMac*>(platform.get()), nullptr);
            EXPECT_TRUE(platform->hideIntergratedGraphics());
            EXPECT_FALSE(platform->ignoreGraphicsControl());
        } else if (startsWith(className, "MacPro")) {
            EXPECT_EQ(m->base, PlatformBase::MacPro);
            EXPECT_NE(dynamic_cast<PlatformMacPro*>(platform.get()), nullptr);
            EXPECT_TRUE(platform->ignoreGraphicsControl());
            EXPECT_FALSE(platform->hideIntergratedGraphics());
        } else {
            ASSERT_TRUE(startsWith(className, "Macmini") || startsWith(className, "Xserve"));
            EXPECT_EQ(m->base, PlatformBase::Mac);
            EXPECT_FALSE(platform->ignoreGraphicsControl());
            EXPECT_EQ(platform->hideIntergratedGraphics(), className == "Macmini5_2");
        }

        // One or two default keys, each a row of the table.
        ASSERT_NE(m->defaultSensorKeys[0], nullptr);
        for (const char* key : m->defaultSensorKeys) {
            if (key) {
                EXPECT_TRUE(hasRow(*m, key)) << "default key " << key;
            }
        }

        for (const SensorRow& r : m->sensors) {
            ASSERT_NE(r.key, nullptr);
            ASSERT_NE(r.name, nullptr);
            EXPECT_GT(std::strlen(r.key), 0u);
            EXPECT_GT(std::strlen(r.name), 0u) << r.key;
            EXPECT_GE(r.low, 0) << r.key;
            EXPECT_GE(r.high, 0) << r.key;
            // Only Macmini7,1's "DC In" is a computed power row; its factors are rows too.
            EXPECT_EQ(r.multiplyVoltage == nullptr, r.multiplyCurrent == nullptr) << r.key;
            if (r.multiplyVoltage) {
                EXPECT_EQ(className, "Macmini7_1");
                EXPECT_TRUE(hasRow(*m, r.multiplyVoltage)) << r.multiplyVoltage;
                EXPECT_TRUE(hasRow(*m, r.multiplyCurrent)) << r.multiplyCurrent;
            }
        }
    }
}

TEST_F(DesktopModels, PinnedRows) {
    struct Case {
        const char* model;
        const char* key;
        size_t occurrence;
        const char* name;
        double low, high;
    };
    const Case cases[] = {
        {"Macmini2_1", "F0Ac", 0, "Exhaust", 1500, 5500},
        {"Xserve3_1", "PS0IN", 0, "Power Supply 1 Inlet", 7284, 13900},
        {"Xserve3_1", "OUT0", 0, "CPU 1 Outlet", 5768, 17308},
        {"Xserve1_1", "TCBH", 0, "CPU A HeatSink", 0, 0},
        {"Xserve1_1", "IN0", 0, "CPU 1 Inlet", 5000, 16700},
        {"iMac7_1", "CPU", 0, "CPU_MEM", 1200, 3500},
        {"iMac4_1", "CPU_MEM", 0, "CPU_MEM", 0, 0},
        {"iMac12_1", "IC0C", 0, "CPU Core", 0.05, 60},
        {"iMac13_1", "VM0R", 0, "DIMM 1.5V S3", 1.425, 1.575},
        {"iMac13_1", "Tm0p", 0, "Logic Board proximity", 5, 100},
        {"iMac18_3", "PGTR", 0, "GPU", 0, 0},
        {"iMac18_3", "PGTR", 1, "GPU Package", 0, 0},
        {"Macmini5_2", "IN0R", 0, "GFX VCore Average", 0, 33},
        {"Macmini5_2", "IN0R", 1, "GFX VCore Average", 0, 20},
        {"Macmini6_1", "IC0C", 0, "CPU VCore Average", 0, 53},
        {"Macmini6_2", "IC0C", 0, "CPU VCore Average", 0, 94},
        {"Macmini7_1", "F0Ac", 0, "Exhaust", 1800, 4800},
        {"MacPro4_1", "BOOSTB", 0, "Booster 2", 800, 5199},
        {"MacPro4_1", "PCI", 0, "Expansion Slots", 800, 4500},
        {"MacPro5_1", "ICAB", 0, "CPU A - VTT", 0.1, 40},
        {"MacPro5_1", "ICVB", 0, "CPU B - VTT", 0.1, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.key);
        SensorRow r = row(c.model, c.key, c.occurrence);
        EXPECT_STREQ(r.name, c.name);
        EXPECT_DOUBLE_EQ(r.low, c.low);
        EXPECT_DOUBLE_EQ(r.high, c.high);
    }
    EXPECT_STREQ(model("iMac18_3").sensors[0].key, "PGTR") << "listed first";
    EXPECT_TRUE(rowsWithKey(model("MacPro4_1"), "ICVB").empty()) << "MacPro4,1 calls it ICBB";
    EXPECT_STREQ(model("Macmini7_1").sensors.back().key, "PSTR");
    EXPECT_STREQ(model("Xserve1_1").sensors.back().key, "PS1OUT");

    // iMac5,2 uses iMac5,1's table; the power row of Macmini7,1 as the collector receives it.
    EXPECT_EQ(model("iMac5_2").sensors.data(), model("iMac5_1").sensors.data());
    const SensorRow power = row("Macmini7_1", "PD0R");
    EXPECT_STREQ(power.name, "DC In");
    EXPECT_STREQ(power.multiplyVoltage, "VD0R");
    EXPECT_STREQ(power.multiplyCurrent, "ID0R");
    ValueArray table = PlatformController::platformForClassName("Macmini7_1")->supportedSensors();
    auto entry =
        std::find_if(table.begin(), table.end(), [](const Value& e) { return e["key"].stringValue() == "PD0R"; });
    ASSERT_NE(entry, table.end());
    EXPECT_EQ((*entry)["type"].stringValue(), "watts");
    ASSERT_EQ((*entry)["multiply"].array().size(), 2u);
    EXPECT_EQ((*entry)["multiply"].array()[0].stringValue(), "VD0R");
    EXPECT_EQ((*entry)["multiply"].array()[1].stringValue(), "ID0R");
    EXPECT_FALSE(entry->has("high"));
}

TEST_F(DesktopModels, Facts) {
    struct Case {
        const char* model;
        const char* name;
        double screen;
        double memory;
        int64_t slots;
        const char* icon;
        const char* key0;
        const char* key1;
    };
    const Case cases[] = {
        {"iMac4_1", "iMac", 17, 2048, 2, "imac-iSight.png", "TC0D", nullptr},
        {"iMac10_1", "iMac", 21.5, 8192, 4, "imac-unibody.png", "TC0H", nullptr},
        {"iMac11_2", "iMac", 21.5, 16384, 4, "imac-unibody.png", "TC0H", nullptr},
        {"iMac12_1", "iMac", 21.5, 16384, 4, "imac-unibody.png", "TC0H", nullptr},
        {"iMac14_4", "iMac", 21, 8192, 0, "imac-unibody.png", "TC0p", nullptr},
        {"iMac18_2", "iMac with 4K Display", 21, 65536, 4, "imac-unibody.png", "TC0p", nullptr},
        {"iMac18_3", "iMac with Retina 5K Display", 27, 65536, 4, "imac-unibody.png", "TC0p", nullptr},
        {"Macmini5_2", "Mac Mini", 0, 16384, 2, "macmini-unibody-no-optical.png", "TC0D", nullptr},
        {"Macmini7_1", "Mac Mini", 0, 16384, 0, "macmini-unibody-no-optical.png", "TCXC", nullptr},
        {"MacPro1_1", "Mac Pro", 0, 16384, 8, "macpro.png", "TCAH", "TCBH"},
        {"MacPro4_1", "Mac Pro", 0, 16384, 8, "macpro.png", "TCAD", "TCBD"},
        {"MacPro6_1", "Mac Pro", 0, 65536, 4, "macpro-cylinder.png", "TC0p", nullptr},
        {"Xserve3_1", "Xserve", 0, 0, 0, "xserve.png", "TCAH", "TCBH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        auto p = PlatformController::platformForClassName(c.model);
        ASSERT_TRUE(p && p->model());
        EXPECT_EQ(p->name(), c.name);
        EXPECT_EQ(p->screenSize(), std::optional<double>(c.screen));
        EXPECT_EQ(p->maximumMemory(), c.memory);
        EXPECT_EQ(p->memorySlots(), c.slots);
        EXPECT_EQ(p->icon(), c.icon);
        std::vector<std::string> keys{c.key0};
        if (c.key1) keys.push_back(c.key1);
        EXPECT_EQ(p->defaultSensorKeys(), keys) << "in their order";
    }
    EXPECT_FALSE(PlatformController::registeredModel("MacMini5_2")) << "the class name is case-sensitive";
    EXPECT_FALSE(PlatformController::registeredModel("imac18_3"));
}

TEST_F(DesktopModels, ReleaseTextsAndTheComputedName) {
    struct Case {
        const char* model;
        std::optional<std::string> serial;
        std::optional<std::string> release;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {"MacPro5_1", "CK0123456HPW", none},  // 12 characters: a four-character suffix
        {"MacPro5_1", "CK012345HPW", "Server, Mid 2010"},
        {"MacPro5_1", "CK012345HPV", "Server, Mid 2010"},
        {"MacPro5_1", "CK012345HF7", "Mid 2010"},
        {"MacPro5_1", "CK012345EUG", "Mid 2010"},
        {"MacPro5_1", "CK012345XYZ", none},
        {"MacPro5_1", none, none},
        {"Macmini3_1", "CK012345B9X", "Late 2009"},
        {"Macmini3_1", "CK0123451BU", "Early 2009"},
        {"Macmini3_1", "B9X", none},
        {"MacPro1_1", "CK012345HPW", "Early 2007"},
        {"MacPro2_1", none, "Early 2007"},
        {"iMac11_1", none, "Late 2009"},
        {"iMac16_2", "C02ABCDEGG78", "Late 2015"},
        {"iMac17_1", none, "Late 2015"},
        {"Macmini5_2", none, "Mid 2011"},
        {"Xserve1_1", none, "Late 2006"},
        {"iMac4_1", "CK012345B9X", none},
        {"Xserve2_1", none, none},
        {"Xserve3_1", "CK012345HPW", none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.serial.value_or("(no serial)"));
        installRegistry(c.serial, false);
        auto p = PlatformController::platformForClassName(c.model);
        ASSERT_TRUE(p && p->model());
        EXPECT_EQ(p->variationName(), c.release);
    }

    const struct {
        std::optional<std::string> serial;
        const char* name;
    } names[] = {
        {"C02ABCDEGG78", "iMac with Retina 4K Display"},
        {"C02ABCDEGG7C", "iMac with Retina 4K Display"},
        {"C02ABCDEGG7F", "iMac with Retina 4K Display"},
        {"C02ABCDEGG7H", "iMac with Retina 4K Display"},
        {"C02ABCDEGG79", "iMac"},
        {"C02ABCDGG78", "iMac"},  // 11 characters: a three-character suffix
        {"GG78", "iMac"},
        {std::nullopt, "iMac"},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.serial.value_or("(no serial)"));
        installRegistry(n.serial, false);
        EXPECT_EQ(PlatformController::platformForClassName("iMac16_2")->name(), n.name);
        EXPECT_EQ(PlatformController::platformForClassName("iMac16_1")->name(), "iMac");
    }
}

}  // namespace
