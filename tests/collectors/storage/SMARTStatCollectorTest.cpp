// The SMART collector on fake drives: the read cadence, the serial sources and model names,
// which attributes are kept, the wire form and its sample key, what the read leaves on the
// drive, bad blocks and failing commands, one read in flight per drive.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "collectors/framework/NodeText.h"
#include "collectors/storage/StorageFixture.h"
#include "collectors/storage/SMARTStatCollector.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/smart/FakeSmartDevice.h"
#include "platform/time/Clock.h"

using namespace telvo;
using namespace telvo::smart;

namespace {

std::vector<uint8_t> withChecksum(std::vector<uint8_t> block) {
    block.resize(kBlockSize);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < kBlockSize; ++i) sum = static_cast<uint8_t>(sum + block[i]);
    block[kBlockSize - 1] = static_cast<uint8_t>(-sum);
    return block;
}

std::vector<uint8_t> identifyBlock(const std::string& model) {
    std::vector<uint8_t> b(kBlockSize, 0);
    auto put = [&](size_t word, size_t words, const std::string& text) {
        for (size_t i = 0; i < 2 * words; ++i) b[2 * word + (i ^ 1)] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
    };
    put(10, 10, "IDSERIAL");
    put(23, 4, "FW42");
    put(27, 20, model);
    b[164] = 0x01;
    b[165] = 0x40;
    b[170] = 0x01;
    return b;
}

// Data block: entries (id, current, worst, raw bytes) at their positions.
struct Entry {
    int id, current, worst;
    std::vector<uint8_t> raw;
    int threshold;
};
void tables(FakeDrive& d, const std::vector<Entry>& entries) {
    std::vector<uint8_t> data(kBlockSize, 0), thr(kBlockSize, 0);
    data[0] = thr[0] = 0x10;
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = data.data() + 2 + 12 * i;
        e[0] = static_cast<uint8_t>(entries[i].id);
        e[1] = 0x22;
        e[3] = static_cast<uint8_t>(entries[i].current);
        e[4] = static_cast<uint8_t>(entries[i].worst);
        for (size_t k = 0; k < entries[i].raw.size() && k < 6; ++k) e[5 + k] = entries[i].raw[k];
        thr[2 + 12 * i] = static_cast<uint8_t>(entries[i].id);
        thr[3 + 12 * i] = static_cast<uint8_t>(entries[i].threshold);
    }
    d.data = withChecksum(data);
    d.thresholds = withChecksum(thr);
}

class SMARTTest : public ::testing::Test {
protected:
    void SetUp() override {
        setOpenerForTesting([this](const std::string& bsd, telvo::ErrorPtr& error) -> std::unique_ptr<SmartDevice> {
            auto it = drives_.find(bsd);
            if (it == drives_.end()) {
                error = telvo::makeError("SMART", 2, "no drive");
                return nullptr;
            }
            return std::make_unique<FakeSmartDevice>(*it->second);
        });
    }
    void TearDown() override {
        dispatch::MainLoop::runUntilIdle();
        SMARTStatCollector::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        setOpenerForTesting(nullptr);
        registry::Registry::resetForTesting();
    }
    FakeDrive& drive(const std::string& bsd, const std::string& model = "Fixture Disk") {
        auto& d = drives_[bsd];
        d = std::make_unique<FakeDrive>();
        d->identify = identifyBlock(model);
        tables(*d, {{9, 99, 99, {0xd8, 0x1c}, 0}, {194, 64, 40, {0x22, 0, 0x0f, 0, 0x2e, 0}, 0}});
        return *d;
    }
    // A disk device below `parent` with its driver and whole-disk medium.
    std::shared_ptr<registry::Entry> disk(const std::shared_ptr<registry::Entry>& parent, const std::string& bsd,
                                          ValueDictionary characteristics, bool capable = true) {
        auto dev = builder_.add(parent, "IOBlockStorageDevice", bsd,
                                {{"Device Characteristics", Value(std::move(characteristics))}});
        if (capable) dev->setProperty("SMART Capable", Value(true));
        auto driver = builder_.add(dev, "IOBlockStorageDriver", "IOBlockStorageDriver");
        builder_.add(driver, "IOMedia", bsd + " Media", {{"BSD Name", Value(bsd)}});
        return dev;
    }
    std::shared_ptr<SMARTStatCollector> load() {
        builder_.install();
        auto c = SMARTStatCollector::sharedSMARTCollector();
        c->loadDisks();
        settle(*c);
        return c;
    }
    static void settle(SMARTStatCollector& c) {
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return c.readsInFlight() == 0; }, 30.0));
        dispatch::MainLoop::runUntilIdle();
    }
    // One clock tick as the framework runs it.
    static void tick(SMARTStatCollector& c, int64_t sequence) {
        if (!c.shouldUpdateStateForSequence(sequence)) return;
        c.sampleIndexRecord(0)->sampleID += 1;
        c.updateStats(sequence);
    }
    static std::shared_ptr<SMARTStatCollectorItem> item(SMARTStatCollector& c, size_t i = 0) {
        return std::static_pointer_cast<SMARTStatCollectorItem>(c.items().at(i));
    }
    static Value request(const std::string& sampleKey) {
        return Value(ValueDictionary{{"samples", Value(sampleKey)}, {"protocol", Value(3)}});
    }

    registry::RegistryBuilder builder_;
    std::map<std::string, std::unique_ptr<FakeDrive>> drives_;
};

}  // namespace

TEST_F(SMARTTest, LoadReadsOnceThenEverySixHundredTicks) {
    FakeDrive& d = drive("sda");
    disk(nullptr, "sda", {{"Product Name", Value("Disk")}, {"Serial Number", Value(" S1 \t")}});
    auto c = load();
    ASSERT_EQ(c->items().size(), 1u);
    EXPECT_EQ(c->items()[0]->key(), "S1");
    EXPECT_EQ(d.reads, 1) << "the load reads the drive";
    for (int64_t s = 0; s <= 600; ++s) {
        tick(*c, s);
        settle(*c);
        if (s == 0) {
            EXPECT_EQ(d.reads, 2) << "tick 0 reads";
        }
        if (s == 599) {
            EXPECT_EQ(d.reads, 2) << "ticks 1 to 599 do not";
        }
    }
    EXPECT_EQ(d.reads, 3) << "tick 600 reads";
    EXPECT_EQ(item(*c)->idForInterval(0), c->idForInterval(0)) << "the item carries the read's number";
    EXPECT_EQ(d.opens, 3);
}

TEST_F(SMARTTest, SerialSourcesInOrderAndModelNames) {
    drive("sda");
    drive("sdb");
    drive("sdc");
    drive("sdd", "Model From Identify");
    // USB serial 3 levels up and GUID 2 levels up: the USB serial.
    auto usb = builder_.add(nullptr, "IOService", "usb", {{"USB Serial Number", Value("USB-7")}});
    auto guid = builder_.add(builder_.add(usb, "IOService", "hub"), "IOService", "bridge", {{"GUID", Value(12345)}});
    disk(builder_.add(guid, "IOService", "port"), "sda", {{"Product Name", Value("APPLE SSD SM0512F")}});
    // INQUIRY serial 7 levels up beats everything else.
    std::shared_ptr<registry::Entry> p =
        builder_.add(nullptr, "IOService", "scsi", {{"INQUIRY Unit Serial Number", Value("INQ-1")}});
    p = builder_.add(p, "IOService", "x", {{"USB Serial Number", Value("USB-8")}});
    for (int i = 0; i < 5; ++i) p = builder_.add(p, "IOService", "level");
    disk(p, "sdb", {{"Vendor Name", Value("APPLE HDD")}, {"Product Name", Value("HTS541010")}});
    // No source at all: skipped.
    disk(nullptr, "sdc", {{"Product Name", Value("Nameless")}});
    // No model in the registry: IDENTIFY's.
    disk(nullptr, "sdd", {{"Serial Number", Value("S4")}});
    // Not SMART capable: not listed.
    disk(nullptr, "sde", {{"Serial Number", Value("S5")}}, false);
    // IDENTIFY strings that are not ASCII: no model taken from them.
    drive("sdf", "Bad \x80 Model");
    disk(nullptr, "sdf", {{"Serial Number", Value("S6")}});
    auto c = load();
    ASSERT_EQ(c->items().size(), 4u);
    EXPECT_EQ(item(*c, 3)->model, "");
    EXPECT_EQ(item(*c, 3)->firmware, "");
    EXPECT_EQ(item(*c, 0)->key(), "USB-7");
    EXPECT_EQ(item(*c, 0)->model, "Apple SSD");
    EXPECT_EQ(item(*c, 1)->key(), "INQ-1");
    EXPECT_EQ(item(*c, 1)->model, "Apple HDD");
    EXPECT_EQ(item(*c, 2)->key(), "S4");
    EXPECT_EQ(item(*c, 2)->model, "Model From Identify");
    EXPECT_EQ(item(*c, 2)->firmware, "FW42");
    EXPECT_EQ(item(*c, 2)->bsd, "sdd");
}

TEST_F(SMARTTest, TemperatureAttributesOnlyAndTheWireForm) {
    FakeDrive& d = drive("sda");
    d.exceeded = true;
    disk(nullptr, "sda", {{"Product Name", Value("Disk\x01<&>")}, {"Serial Number", Value("S<1>\xff")}});
    auto c = load();
    tick(*c, 0);
    settle(*c);
    auto it = item(*c);
    ASSERT_EQ(it->attributes.size(), 1u) << "ids 9 and 194 give only 194";
    ASSERT_TRUE(it->attributes.count("194"));
    EXPECT_EQ(it->attributes["194"]->value, "34");
    EXPECT_EQ(it->temperature(), "34");
    EXPECT_TRUE(it->overallStatus);

    // A client that names the read's number gets nothing until the next read.
    c->setSession(7);
    const std::string last = std::to_string(static_cast<int64_t>(c->idForInterval(0)));
    std::string golden;
    const std::string text = fwtest::nodesText(c->xmlNodesFromAttributes(request("0")));
    EXPECT_TRUE(fwtest::matchesGolden("smart.xml", text, golden)) << text;
    EXPECT_EQ(fwtest::nodesText(c->xmlNodesFromAttributes(request(last))).find("<item"), std::string::npos);
    for (int64_t s = 1; s <= 600; ++s) tick(*c, s);
    settle(*c);
    EXPECT_NE(fwtest::nodesText(c->xmlNodesFromAttributes(request(last))).find("<item"), std::string::npos);
}

TEST_F(SMARTTest, ReadLeavesTheDriveAsItWas) {
    FakeDrive& off = drive("sda");
    off.smartEnabled = false;
    FakeDrive& on = drive("sdb");
    disk(nullptr, "sda", {{"Serial Number", Value("S1")}});
    disk(nullptr, "sdb", {{"Serial Number", Value("S2")}});
    auto c = load();
    tick(*c, 0);
    settle(*c);
    EXPECT_FALSE(off.smartEnabled) << "switched off again after the read";
    EXPECT_EQ(off.enables, 2);
    EXPECT_EQ(off.disables, 2);
    EXPECT_EQ(item(*c, 0)->attributes.count("194"), 1u) << "it was read while on";
    EXPECT_TRUE(on.smartEnabled);
    EXPECT_EQ(on.enables, 0);
    EXPECT_EQ(on.disables, 0) << "a drive found on is never switched off";
}

TEST_F(SMARTTest, BadBlocksAndFailingCommandsChangeNothing) {
    drive("sda");
    disk(nullptr, "sda", {{"Serial Number", Value("S1")}});
    auto c = load();
    auto it = item(*c);
    ASSERT_EQ(it->attributes["194"]->value, "34");

    struct Case {
        const char* name;
        std::function<void(FakeDrive&)> spoil;
        bool statusRead;
    };
    const std::vector<Case> cases = {
        {"bad data checksum", [](FakeDrive& d) { d.data[100] ^= 0xff; }, true},
        {"bad threshold checksum", [](FakeDrive& d) { d.thresholds[100] ^= 0xff; }, true},
        {"data fails", [](FakeDrive& d) { d.failCommand = "data"; }, true},
        {"status fails", [](FakeDrive& d) { d.failCommand = "status"; }, false},
        {"drive cannot be opened", [this](FakeDrive&) { drives_.erase("sda"); }, false},
    };
    int64_t s = 0;
    for (const Case& k : cases) {
        FakeDrive& fresh = drive("sda");
        tables(fresh, {{194, 64, 40, {0x30}, 0}});  // a new temperature, 48
        fresh.exceeded = true;
        k.spoil(fresh);
        it->overallStatus = false;
        tick(*c, s);
        s += 600;
        settle(*c);
        EXPECT_EQ(it->attributes["194"]->value, "34") << k.name;
        EXPECT_EQ(it->overallStatus, k.statusRead) << k.name;
    }
}

TEST_F(SMARTTest, OneReadInFlightPerDriveAndGoneDrivesRemoved) {
    FakeDrive& d = drive("sda");
    disk(nullptr, "sda", {{"Serial Number", Value("S1")}});
    auto c = load();
    const int before = d.opens;
    tick(*c, 0);
    tick(*c, 600);  // the first read has not been applied yet
    settle(*c);
    EXPECT_EQ(d.opens, before + 1);

    registry::RegistryBuilder empty;
    empty.install();
    c->loadDisks();
    EXPECT_TRUE(c->items().empty());
}

namespace {

// The SMART collector on a fixture machine: drives plugged in or pulled while it runs.
class SMARTHotPlugTest : public storagetest::StorageFixture {
protected:
    void SetUp() override {
        StorageFixture::SetUp();
        for (const char* bsd : {"sda", "sdb"}) {
            auto& d = drives_[bsd];
            d = std::make_unique<FakeDrive>();
            d->identify = identifyBlock("Disk");
            tables(*d, {{194, 64, 40, {0x22}, 0}});
        }
        setOpenerForTesting([this](const std::string& bsd, telvo::ErrorPtr& error) -> std::unique_ptr<SmartDevice> {
            auto it = drives_.find(bsd);
            if (it == drives_.end()) {
                error = telvo::makeError("SMART", 2, "no drive");
                return nullptr;
            }
            return std::make_unique<FakeSmartDevice>(*it->second);
        });
        file(scsiDisk("sda", 0, 0, 1000, "8:0", "ATA", "Disk A") + "/serial", "SA\n");
    }
    void TearDown() override {
        SMARTStatCollector::resetForTesting();
        dispatch::MainLoop::runUntilIdle();
        setOpenerForTesting(nullptr);
        StorageFixture::TearDown();
    }
    void after(double seconds, SMARTStatCollector& c) {
        c.queue()->sync([] {});
        dispatch::MainLoop::runUntilIdle();
        platform::Clock::advance(seconds);
        dispatch::MainLoop::runUntilIdle();
        ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return c.readsInFlight() == 0; }, 30.0));
    }
    std::map<std::string, std::unique_ptr<FakeDrive>> drives_;
};

}  // namespace

TEST_F(SMARTHotPlugTest, DrivesLoadedFiveSecondsAfterTheyComeOrGo) {
    auto c = SMARTStatCollector::sharedSMARTCollector();
    dispatch::MainLoop::runUntilIdle();
    c->loadDisks();
    ASSERT_EQ(c->items().size(), 1u);
    EXPECT_EQ(c->items()[0]->key(), "SA");

    file(scsiDisk("sdb", 1, 0, 1000, "8:16", "ATA", "Disk B") + "/serial", "SB\n");
    registry::refreshAndNotify();
    after(4.9, *c);
    EXPECT_EQ(c->items().size(), 1u) << "not before 5 s";
    after(0.2, *c);
    ASSERT_EQ(c->items().size(), 2u);
    EXPECT_EQ(c->items()[1]->key(), "SB");
    EXPECT_EQ(drives_["sdb"]->reads, 1) << "a new drive is read at once";

    removeDisk("sdb");
    registry::refreshAndNotify();
    after(5.1, *c);
    ASSERT_EQ(c->items().size(), 1u);
    EXPECT_EQ(c->items()[0]->key(), "SA");
}
