// The battery collector's Bluetooth peripherals: the reading's cadence, the connected-device,
// HID and registry rules on fakes, and the kernel's HID batteries on the fixture tree.
#include <gtest/gtest.h>

#include "BatteryFixture.h"
#include "platform/power/HIDBatteries.h"

using namespace telvo;

namespace {

class BatteryPeripheralsTest : public systest::BatteryFixture {
protected:
    void SetUp() override {
        BatteryFixture::SetUp();
        // Only the peripherals: no power supplies in these tests unless one adds them.
        removeMachineFile("/sys/class/power_supply");
        writeMachineFile("/sys/class/power_supply/.keep", "");
    }

    static bluetooth::HIDDevice hid(const std::string& address, std::optional<double> fraction) {
        bluetooth::HIDDevice d;
        d.address = address;
        d.batteryPercent = fraction;
        return d;
    }
    std::shared_ptr<registry::Entry> registryEntry(const std::string& service, ValueDictionary properties) {
        auto e = registry_->addEntry(nullptr, "IOService", service);
        for (auto& [k, v] : properties) e->setProperty(k, v);
        return e;
    }
};

TEST_F(BatteryPeripheralsTest, ReadEveryOtherSampleAndKeptBetweenReadings) {
    auto fake = useFakeBluetooth();
    fake->hid = {hid("11:22:33:44:55:66", 0.5)};
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    startCollector(*c);
    samples(*c, 1);
    EXPECT_EQ(fake->hidReadings, 1);
    EXPECT_EQ(keys(*c), std::vector<std::string>{"11:22:33:44:55:66"});

    fake->hid.clear();
    samples(*c, 1);  // 6 s after the reading: none, the peripheral stays
    EXPECT_EQ(fake->hidReadings, 1);
    EXPECT_EQ(keys(*c), std::vector<std::string>{"11:22:33:44:55:66"});
    auto kept = item(*c, "11:22:33:44:55:66");
    EXPECT_EQ(kept->sampleAtIndex(0, 0).sampleID, c->sampleIndex(0).sampleID) << "sampled between readings";

    samples(*c, 1);  // 12 s after: read again, and it is gone
    EXPECT_EQ(fake->hidReadings, 2);
    EXPECT_TRUE(c->items().empty());

    // The wall clock set back an hour: the next sample reads at once.
    platform::Clock::setVirtualNow(platform::Clock::now() - 3600);
    c->updateStats();
    EXPECT_EQ(fake->hidReadings, 3);
}

TEST_F(BatteryPeripheralsTest, ConnectedDevicesOfVendor76) {
    auto fake = useFakeBluetooth();
    fake->present = false;  // the HID step is not reached
    bluetooth::ConnectedDevice twoPiece{"aa-01", 76, 0x2002, std::string("Buds"), std::nullopt, 80, 60, 40};
    bluetooth::ConnectedDevice leftOnly{"aa-02", 76, 0x2002, std::string("Left Bud"), std::nullopt, 70, std::nullopt,
                                        std::nullopt};
    bluetooth::ConnectedDevice single{"aa-03", 76, 0x0267, std::string("Keyboard"), 33, std::nullopt, std::nullopt,
                                      std::nullopt};
    bluetooth::ConnectedDevice otherVendor{"aa-04", 77, 0x2002, std::string("Other"), 50, 50, 50, 50};
    bluetooth::ConnectedDevice noLevel{"aa-05", 76, 0x0267, std::string("Silent"), std::nullopt, std::nullopt,
                                       std::nullopt, std::nullopt};
    bluetooth::ConnectedDevice noAddress{"", 76, 0x0267, std::string("Nameless"), 20, std::nullopt, std::nullopt,
                                         std::nullopt};
    fake->connected = {twoPiece, leftOnly, single, otherVendor, noLevel, noAddress};
    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    c->updateStats();
    EXPECT_EQ(keys(*c), (std::vector<std::string>{"aa-01", "aa-02", "aa-03"}));
    EXPECT_EQ(fake->hidReadings, 0);

    auto buds = item(*c, "aa-01");
    EXPECT_EQ(buds->percentage, 60.0f);
    EXPECT_EQ(buds->percentageLeft, 80.0f);
    EXPECT_EQ(buds->percentageRight, 60.0f);
    EXPECT_EQ(buds->percentageCase, 40.0f);
    EXPECT_EQ(buds->subtype, 1);
    EXPECT_EQ(buds->type, 2);
    EXPECT_EQ(buds->state, 2);
    EXPECT_EQ(buds->name.value_or(""), "Buds");
    EXPECT_EQ(item(*c, "aa-02")->percentage, 0.0f) << "a right part never reported counts as 0";
    EXPECT_EQ(item(*c, "aa-03")->percentage, 33.0f);
    EXPECT_EQ(item(*c, "aa-03")->subtype, 2);
}

TEST_F(BatteryPeripheralsTest, HIDDevicesWithNamesKindsAndRegistryOverride) {
    auto fake = useFakeBluetooth();
    auto mouse = hid("m-1", 0.45);
    mouse.isMouseDevice = true;
    mouse.name = "Mouse One";
    mouse.isCharging = true;
    auto keyboard = hid("k-1", 0.9);
    keyboard.isKeyboardDevice = keyboard.isMouseDevice = true;
    keyboard.deviceNameFromHardware = "Hardware Keys";
    auto trackpad = hid("t-1", std::nullopt);
    trackpad.isTrackpadDevice = true;
    auto unknown = hid("u-1", 0.1);
    auto noAddress = hid("", 0.2);
    fake->hid = {mouse, keyboard, trackpad, unknown, noAddress};
    // The mouse's level from its registry entry (product 617, same address).
    registryEntry("AppleBluetoothHIDMouse",
                  {{"ProductID", Value(617)}, {"BatteryPercent", Value(47)}, {"DeviceAddress", Value("m-1")}});
    // Another product for the keyboard's address: no override.
    registryEntry("AppleBluetoothHIDKeyboard",
                  {{"ProductID", Value(0x255)}, {"BatteryPercent", Value(5)}, {"SerialNumber", Value("k-1")}});

    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    c->updateStats();
    EXPECT_EQ(keys(*c), (std::vector<std::string>{"m-1", "k-1", "t-1", "u-1"}));
    struct Expect {
        const char* key;
        const char* name;
        int64_t subtype, source;
        float percentage;
    } expected[] = {
        {"m-1", "Mouse One", 3, 1, 47},
        {"k-1", "Hardware Keys", 4, -1, 90},
        {"t-1", "Trackpad", 5, -1, -1},
        {"u-1", "Unknown", 3, -1, 10},
    };
    for (const Expect& e : expected) {
        auto i = item(*c, e.key);
        ASSERT_TRUE(i) << e.key;
        EXPECT_EQ(i->name.value_or(""), e.name) << e.key;
        EXPECT_EQ(i->subtype, e.subtype) << e.key;
        EXPECT_EQ(i->source, e.source) << e.key;
        EXPECT_NEAR(i->percentage, e.percentage, 0.001) << e.key;
        EXPECT_EQ(i->type, 2) << e.key;
        EXPECT_EQ(i->state, 2) << e.key;
    }

    // Without the controller's presence, only connected devices count: the HID items go.
    fake->present = false;
    c->lastBluetoothTime = 0;
    c->updateStats();
    EXPECT_TRUE(c->items().empty());
}

TEST_F(BatteryPeripheralsTest, RegistryBatteryEntries) {
    registryEntry("AppleBluetoothHIDMouse", {{"BatteryPercent", Value(30)}, {"Elements", Value(ValueArray{})}});
    registryEntry("AppleBluetoothHIDMouse", {{"Product", Value("Named Mouse")}});  // no level: no entry
    registryEntry("AppleBluetoothHIDMouse", {{"BatteryPercent", Value(31)}, {"SerialNumber", Value("SER")}});
    registryEntry("IOAppleBluetoothHIDDriver", {{"ProductID", Value(0x309)}, {"BatteryPercent", Value(40)}});
    registryEntry("IOAppleBluetoothHIDDriver", {{"ProductID", Value(0x30)}, {"BatteryPercent", Value(41)}});
    registryEntry("AppleDeviceManagementHIDEventService", {{"BatteryPercent", Value(50)}});  // no name
    registryEntry("AppleDeviceManagementHIDEventService", {{"BatteryPercent", Value(51)}, {"DeviceName", Value("Pad")}});

    auto c = BatteryStatCollectorMac::sharedBatteryCollector();
    ValueArray entries;
    for (const char* service : {"AppleBluetoothHIDMouse", "IOAppleBluetoothHIDDriver", "AppleDeviceManagementHIDEventService"})
        c->fetchBluetoothItemsWithKey(service, entries);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0]["key"].stringValue(), "AppleBluetoothHIDMouse-1");
    EXPECT_EQ(entries[0]["name"].stringValue(), "Apple Wireless Mouse");
    EXPECT_FALSE(entries[0]["iokit"].has("Elements"));
    EXPECT_EQ(entries[0]["level"].intValue(), 30);
    EXPECT_EQ(entries[1]["key"].stringValue(), "SER");
    EXPECT_EQ(entries[2]["name"].stringValue(), "Apple Wireless Mouse");
    EXPECT_EQ(entries[3]["name"].stringValue(), "Apple Wireless Keyboard");
    EXPECT_EQ(entries[3]["key"].stringValue(), "IOAppleBluetoothHIDDriver-2");
    EXPECT_EQ(entries[4]["key"].stringValue(), "AppleDeviceManagementHIDEventService-2");
    EXPECT_EQ(entries[4]["name"].stringValue(), "Pad");

    // The older reading takes the registry entries as they are.
    c->useClassicBluetooth = true;
    c->updateStats();
    EXPECT_EQ(keys(*c), (std::vector<std::string>{"AppleBluetoothHIDMouse-1", "SER", "IOAppleBluetoothHIDDriver-1",
                                                  "IOAppleBluetoothHIDDriver-2",
                                                  "AppleDeviceManagementHIDEventService-2"}));
    EXPECT_EQ(item(*c, "SER")->percentage, 31.0f);
}

TEST_F(BatteryPeripheralsTest, KernelHIDBatteriesOfBluetoothDevicesOnly) {
    // Back to the fixture's supplies: the Bluetooth mouse counts, the USB pen does not.
    removeMachineFile("/sys/class/power_supply");
    std::filesystem::copy(std::string(TELVO_TEST_DATA_DIR) + "/power", machine_,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks |
                              std::filesystem::copy_options::overwrite_existing);
    const std::string mouse = "/sys/class/power_supply/hid-aa:bb:cc:dd:ee:ff-battery/";
    const std::string input = "/sys/devices/hid/0005:004C:0269.0001/input/input7/";
    power::HIDBatteries reader;
    auto found = reader.read();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address, "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(found[0].capacity.value_or(-1), 45);
    EXPECT_TRUE(found[0].mouse);
    EXPECT_FALSE(found[0].keyboard);
    EXPECT_EQ(found[0].charging, std::optional<bool>(false));

    struct Case {
        const char* what;
        const char* key;
        const char* rel;
        const char* abs;
        bool keyboard, mouse, trackpad;
    } kinds[] = {
        {"keyboard", "0 0 0 0 0 0 fffffffffffffffe", "0", "0", true, false, false},
        {"trackpad", "20 0 0 0 0 0", "0", "20000000000003", false, false, true},  // BTN_TOOL_FINGER, ABS_MT
        {"no capabilities", "0", "0", "0", false, false, false},
    };
    for (const Case& k : kinds) {
        writeMachineFile(input + "capabilities/key", std::string(k.key) + "\n");
        writeMachineFile(input + "capabilities/rel", std::string(k.rel) + "\n");
        writeMachineFile(input + "capabilities/abs", std::string(k.abs) + "\n");
        auto b = reader.read();
        ASSERT_EQ(b.size(), 1u) << k.what;
        EXPECT_EQ(b[0].keyboard, k.keyboard) << k.what;
        EXPECT_EQ(b[0].mouse, k.mouse) << k.what;
        EXPECT_EQ(b[0].trackpad, k.trackpad) << k.what;
    }

    // Kernel 6.1 reports Unknown for many devices: no charging answer. No level, no capacity.
    writeMachineFile(mouse + "status", "Unknown\n");
    writeMachineFile(mouse + "capacity", "n/a\n");
    auto b = reader.read();
    ASSERT_EQ(b.size(), 1u);
    EXPECT_FALSE(b[0].charging.has_value());
    EXPECT_FALSE(b[0].capacity.has_value());
    // No address anywhere: left out.
    writeMachineFile(input + "uniq", "\n");
    writeMachineFile("/sys/devices/hid/0005:004C:0269.0001/uevent", "HID_ID=0005:0000004C:00000269\n");
    EXPECT_TRUE(reader.read().empty());
}

}  // namespace
