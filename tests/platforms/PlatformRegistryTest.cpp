// The platform registry: the model identifier from the DMI product name, the class chosen by
// its exact name, the generic and emulated platforms, and the table-free facts.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "PlatformFixture.h"
#include "platforms/FauxMac.h"
#include "platforms/PlatformModelList.h"
#include "sensors/SMCValueDecoder.h"

using namespace telvo;

namespace {

class PlatformRegistry : public platformtest::PlatformFixture {};

TEST_F(PlatformRegistry, IdentifiersChooseTheirClassByExactName) {
    struct Case {
        std::string dmi;
        std::string className;
        std::string identifier;
        std::string name;
    };
    const Case cases[] = {
        {"MacBookPro13,2\n", "MacBookPro13_2", "MacBookPro13,2", "MacBook Pro"},
        {"MacBookPro13,2", "MacBookPro13_2", "MacBookPro13,2", "MacBook Pro"},
        {"  MacBookPro13,2  \n", "MacBookPro13_2", "MacBookPro13,2", "MacBook Pro"},
        {"MacBookPro99,1\n", "PlatformMac", "MacBookPro99,1", "Unknown"},
        {"MacMini6,2\n", "PlatformMac", "MacMini6,2", "Unknown"},  // the class is Macmini6_2
        {"macbookpro13,2\n", "PlatformMac", "macbookpro13,2", "Unknown"},
        {"MacPro5,1\n", "MacPro5_1", "MacPro5,1", "Mac Pro"},
        {"", "PlatformMac", "Unknown", "Unknown"},
        {"\n", "PlatformMac", "Unknown", "Unknown"},
        {"Mac\xc3\xa9" "Book\n", "PlatformMac", "Unknown", "Unknown"},
        {std::string(129, 'M') + "\n", "PlatformMac", "Unknown", "Unknown"},
        {"Virtual\tMachine\n", "PlatformMac", "Unknown", "Unknown"},
    };
    for (const Case& c : cases) {
        PlatformController::resetForTesting();
        PlatformController::registerModels(fixtures::kFixtureModels);
        setProductName(c.dmi);
        EXPECT_EQ(PlatformController::sharedPlatformController(), nullptr);
        PlatformMacPtr p = PlatformController::currentPlatform();
        ASSERT_TRUE(p);
        EXPECT_EQ(p->className(), c.className) << c.dmi;
        EXPECT_EQ(p->identifier(), c.identifier) << c.dmi;
        EXPECT_EQ(p->name(), c.name) << c.dmi;
        EXPECT_FALSE(PlatformController::sharedPlatformController()->fauxMac());
        EXPECT_EQ(PlatformController::currentPlatform(), p) << "made once";
    }
    std::filesystem::remove(sys_ + "/class/dmi/id/product_name");
    PlatformController::resetForTesting();
    EXPECT_EQ(PlatformController::currentPlatform()->identifier(), "Unknown") << "no DMI at all";
    EXPECT_TRUE(PlatformController::currentPlatform()->supportedSensors().empty());
    EXPECT_TRUE(PlatformController::currentPlatform()->defaultSensorKeys().empty());
}

TEST_F(PlatformRegistry, TheOverLongLimitIs128Bytes) {
    setProductName(std::string(128, 'M') + "\n");
    EXPECT_EQ(PlatformController::readModelIdentifier().value_or("<none>"), std::string(128, 'M'));
    setProductName(std::string(129, 'M'));
    EXPECT_FALSE(PlatformController::readModelIdentifier());
}

TEST_F(PlatformRegistry, AFakeSMCServiceWinsOverAKnownModel) {
    setProductName("MacBookPro13,2\n");
    installRegistry(std::nullopt, true);
    PlatformMacPtr p = PlatformController::currentPlatform();
    EXPECT_EQ(p->className(), "FauxMac");
    EXPECT_EQ(p->identifier(), "FauxMac");
    EXPECT_TRUE(PlatformController::sharedPlatformController()->fauxMac());
    EXPECT_TRUE(smcvalues::emulatedSMC());
}

TEST_F(PlatformRegistry, BaseFamiliesSetTheGraphicsFlags) {
    setProductName("iMac16,2\n");
    PlatformMacPtr imac = PlatformController::currentPlatform();
    EXPECT_EQ(imac->className(), "iMac16_2");
    EXPECT_TRUE(imac->hideIntergratedGraphics());
    EXPECT_FALSE(imac->ignoreGraphicsControl());
    EXPECT_EQ(imac->defaultSensorKeys(), (std::vector<std::string>{"TC0H", "TG0H"}));
    auto pro = PlatformController::platformForClassName("MacPro5_1");
    EXPECT_TRUE(pro->ignoreGraphicsControl());
    EXPECT_FALSE(pro->hideIntergratedGraphics());
    auto book = PlatformController::platformForClassName("MacBookPro13_2");
    EXPECT_FALSE(book->hideIntergratedGraphics());
    EXPECT_FALSE(book->ignoreGraphicsControl());
    EXPECT_TRUE(PlatformController::platformForClassName("PlatformiMac")->hideIntergratedGraphics());
    EXPECT_TRUE(PlatformController::platformForClassName("PlatformMacPro")->ignoreGraphicsControl());
}

TEST_F(PlatformRegistry, SerialSuffixesPickVariationsAndNames) {
    struct Case {
        std::optional<std::string> serial;
        std::string suffix;
    };
    const Case cases[] = {{std::nullopt, ""},         {"ABCD", ""},          {"ABCDE", "BCDE"},
                          {"C02ABCDEGF1", "GF1"},     {"C02ABCDEGG7F", "GG7F"}, {"C02ABCDEFGF1J", "GF1J"}};
    for (const Case& c : cases) {
        installRegistry(c.serial, false);
        EXPECT_EQ(PlatformMac::variation(), c.suffix) << c.serial.value_or("<none>");
    }
    auto imac = PlatformController::platformForClassName("iMac16_2");
    installRegistry("C02ABCDEGG7F", false);
    EXPECT_EQ(imac->name(), "iMac with Retina 4K Display");
    EXPECT_EQ(imac->variationName().value_or("<none>"), "Retina 4K, Late 2015");
    installRegistry("C02ABCDEGF1J", false);
    EXPECT_EQ(imac->name(), "iMac");
    EXPECT_EQ(imac->variationName().value_or("<none>"), "Late 2015");
    installRegistry("C02ABCDEXXXX", false);
    EXPECT_FALSE(imac->variationName());
    EXPECT_EQ(PlatformController::platformForClassName("MacBookPro13_2")->variationName().value_or(""),
              "Retina & Touch Bar, Late 2016");
    EXPECT_FALSE(PlatformController::platformForClassName("MacPro5_1")->variationName());
    EXPECT_EQ(imac->boardID(), "Mac-FIXTURE");
}

TEST_F(PlatformRegistry, TheGenericDefaultSensorRule) {
    auto table = [](std::initializer_list<std::pair<const char*, const char*>> rows) {
        ValueArray a;
        for (auto [k, n] : rows) {
            Value entry;
            entry.set("key", Value(k));
            entry.set("name", Value(n));
            a.push_back(entry);
        }
        return a;
    };
    struct Probe : PlatformMac {
        using PlatformMac::genericDefaultSensorKeys;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(Probe::genericDefaultSensorKeys(table({{"TC0P", "CPU Proximity"}, {"TC0D", "CPU Die"}})), V{"TC0D"});
    EXPECT_EQ(Probe::genericDefaultSensorKeys(table({{"TC0P", "CPU Proximity"}})), V{"TC0P"});
    EXPECT_EQ(Probe::genericDefaultSensorKeys(table({{"VC0C", "CPU Die"}, {"PC0C", "CPU"}})), V{});
    EXPECT_EQ(Probe::genericDefaultSensorKeys(table({{"TC0P", "cpu die"}})), V{});
}

TEST_F(PlatformRegistry, FanNamesAndTableEntries) {
    PlatformMac generic;
    EXPECT_EQ(generic.nameForFan("Master"), "Main Fan");
    EXPECT_EQ(generic.nameForFan("master"), "master");
    EXPECT_EQ(generic.nameForFan("Exhaust"), "Exhaust");
    EXPECT_EQ(generic.nameForFan("PS1OUT"), "Power Supply 2 Outlet");

    auto book = PlatformController::platformForClassName("MacBookPro13_2");
    ValueArray sensors = book->supportedSensors();
    ASSERT_EQ(sensors.size(), std::size(fixtures::kMacBookPro13_2Sensors));
    const Value& power = sensors[8];
    EXPECT_EQ(power["key"].string(), "PD0R");
    EXPECT_EQ(power["type"].string(), "watts");
    EXPECT_EQ(power["multiply"], Value(ValueArray{Value("VD0R"), Value("ID0R")}));
    EXPECT_FALSE(power.has("low"));
    EXPECT_EQ(sensors[9]["high"].doubleValue(), 6000.0);
    EXPECT_EQ(book->screenSize().value_or(0), 13.3);
    EXPECT_FALSE(generic.screenSize());
}

TEST_F(PlatformRegistry, MachineFacts) {
    PlatformMac generic;
    const std::string os = generic.osVersion();
    EXPECT_EQ(std::count(os.begin(), os.end(), '.'), 2) << os;
    EXPECT_GT(std::atoll(generic.memory().c_str()), 0);
    PlatformMac decoded;
    decoded.decodeSerial(std::string("W8812345AB1"));
    EXPECT_EQ(decoded.manufactureYear(), 8);
    EXPECT_EQ(decoded.manufactureWeek(), 12);
    PlatformMac longer;
    longer.decodeSerial(std::string("C02GJ12345AB"));
    EXPECT_EQ(longer.manufactureYear(), 11);
    EXPECT_EQ(longer.manufactureWeek(), 15 + 27);
    PlatformMac system;
    system.decodeSerial(std::string("System Serial"));
    EXPECT_EQ(system.manufactureYear(), 0);
    const auto mac = generic.networkHardwareAdress();
    if (mac) {
        EXPECT_TRUE(std::regex_match(*mac, std::regex("([0-9A-F]{2}:){5}[0-9A-F]{2}"))) << *mac;
    }
}

TEST(PlatformModelListTest, EveryClassNameIsUniqueAndMatchesItsIdentifier) {
    std::set<std::string> seen;
    for (const PlatformModel* m : platforms::platformModelList()) {
        ASSERT_TRUE(m && m->className && m->identifier && m->name);
        EXPECT_TRUE(seen.insert(m->className).second) << m->className;
        std::string expected = m->identifier;
        std::replace(expected.begin(), expected.end(), ',', '_');
        EXPECT_EQ(expected, m->className);
        EXPECT_TRUE(m->defaultSensorKeys[0]) << m->className;
    }
}

}  // namespace
