// The registry walker over a fixture tree: matching, stepping, parent and child walks and the
// ancestor search.
#include <gtest/gtest.h>

#include <iostream>

#include "foundation/extensions/KXRIOKitUtilities.h"
#include "platform/registry/RegistryBuilder.h"

using namespace telvo;
using registry::RegistryBuilder;

namespace {

// Root
//  └ Mac (platform expert)             "GUID" = "guid-mac"
//     └ pci (IOPCIDevice)              "INQUIRY Unit Serial Number" = "S3RIAL"
//        └ disk (IOBlockStorageDevice)
//           └ IOBlockStorageDriver      "Statistics"
//              ├ disk Media (IOMedia)   "BSD Name" = "disk0", "Own" = 1
//              │  ├ part1 (IOMedia)     "BSD Name" = "disk0s1"
//              │  └ part2 (IOMedia)     "BSD Name" = "disk0s2"
//              └ other Media (IOMedia)  "BSD Name" = "disk1"
class WalkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistryBuilder b;
        mac = b.add(nullptr, "IOPlatformExpertDevice", "Mac", {{"GUID", Value("guid-mac")}});
        pci = b.add(mac, "IOPCIDevice", "pci", {{"INQUIRY Unit Serial Number", Value("S3RIAL")}});
        disk = b.add(pci, "IOBlockStorageDevice", "disk");
        driver = b.add(disk, "IOBlockStorageDriver", "IOBlockStorageDriver",
                       {{"Statistics", Value(ValueDictionary{{"Bytes (Read)", Value(7)}})}});
        media = b.add(driver, "IOMedia", "disk Media", {{"BSD Name", Value("disk0")}, {"Own", Value(1)}});
        part1 = b.add(media, "IOMedia", "part1", {{"BSD Name", Value("disk0s1")}});
        part2 = b.add(media, "IOMedia", "part2", {{"BSD Name", Value("disk0s2")}});
        other = b.add(driver, "IOMedia", "other Media", {{"BSD Name", Value("disk1")}});
        b.install();
    }
    void TearDown() override { registry::Registry::resetForTesting(); }

    std::shared_ptr<registry::Entry> mac, pci, disk, driver, media, part1, part2, other;
};

}  // namespace

TEST_F(WalkerTest, IteratorsByBsdNameNameClassAndDictionary) {
    auto none = KXRIOKitUtilities::iteratorWithBSDNameMatch("disk9");
    EXPECT_TRUE(none.hasIterator());
    EXPECT_TRUE(none.next().isNull());
    EXPECT_EQ(none.object(), nullptr);

    auto byBsd = KXRIOKitUtilities::iteratorWithBSDNameMatch("disk0s2");
    Value props = byBsd.next();
    EXPECT_EQ(props["BSD Name"].stringValue(), "disk0s2");
    EXPECT_EQ(byBsd.object(), part2);
    EXPECT_EQ(byBsd.objectName(), "part2");
    EXPECT_EQ(byBsd.objectPath(), "IOService:/Mac/pci/disk/IOBlockStorageDriver/disk Media/part2");
    EXPECT_EQ(byBsd.objectID(), std::to_string(part2->entryID()));
    EXPECT_TRUE(byBsd.next().isNull());
    EXPECT_EQ(byBsd.object(), nullptr);
    EXPECT_EQ(byBsd.objectName(), "");
    EXPECT_EQ(byBsd.objectID(), "");

    auto byName = KXRIOKitUtilities::iteratorWithServiceNameMatch("IOBlockStorageDriver");
    EXPECT_EQ(byName.next()["Statistics"]["Bytes (Read)"].intValue(), 7);

    auto byClass = KXRIOKitUtilities::iteratorWithServiceMatch("IOMedia");
    std::vector<std::string> seen;
    while (byClass.next().isDictionary()) seen.push_back(byClass.objectName());
    EXPECT_EQ(seen, (std::vector<std::string>{"disk Media", "part1", "part2", "other Media"}));
    byClass.reset();
    EXPECT_EQ(byClass.next()["BSD Name"].stringValue(), "disk0");

    auto byDict = KXRIOKitUtilities::iteratorWithMatch(
        Value(ValueDictionary{{"IOPropertyMatch", Value(ValueDictionary{{"Own", Value(1)}})}}));
    EXPECT_EQ(byDict.next()["BSD Name"].stringValue(), "disk0");
    EXPECT_TRUE(byDict.next().isNull());

    KXRIOKitUtilities empty;
    EXPECT_FALSE(empty.hasIterator());
    EXPECT_TRUE(empty.next().isNull());
    EXPECT_FALSE(KXRIOKitUtilities::iteratorWithMatch(Value("IOMedia")).hasIterator());
}

TEST_F(WalkerTest, FinishDropsTheEntryAndNextContinues) {
    auto it = KXRIOKitUtilities::iteratorWithServiceMatch("IOMedia");
    it.next();
    EXPECT_EQ(it.object(), media);
    it.finish();
    EXPECT_EQ(it.object(), nullptr);
    it.next();
    EXPECT_EQ(it.object(), part1);
}

TEST_F(WalkerTest, ChildIterator) {
    auto it = KXRIOKitUtilities::childIteratorFromObject(media);
    EXPECT_EQ(it.next()["BSD Name"].stringValue(), "disk0s1");
    EXPECT_EQ(it.next()["BSD Name"].stringValue(), "disk0s2");
    EXPECT_TRUE(it.next().isNull());
    auto leaf = KXRIOKitUtilities::childIteratorFromObject(part1);
    EXPECT_TRUE(leaf.next().isNull());
    EXPECT_FALSE(KXRIOKitUtilities::childIteratorFromObject(nullptr).hasIterator());
}

TEST_F(WalkerTest, ParentAndChildWalks) {
    using K = KXRIOKitUtilities;
    // Index below 1 answers the entry itself.
    EXPECT_EQ(K::parentAtIndex(0, part1), part1);
    EXPECT_EQ(K::parentAtIndex(-3, part1), part1);
    EXPECT_EQ(K::parentAtIndex(1, part1), media);
    EXPECT_EQ(K::parentAtIndex(2, part1), driver);
    EXPECT_EQ(K::parentAtIndex(5, part1), mac);
    // "pci" has two ancestors (the platform expert and the root): index 5 runs off the chain.
    EXPECT_NE(K::parentAtIndex(2, pci), nullptr);
    EXPECT_EQ(K::parentAtIndex(3, pci), nullptr);
    EXPECT_EQ(K::parentAtIndex(5, pci), nullptr);
    EXPECT_EQ(K::parentAtIndex(1, nullptr), nullptr);

    EXPECT_EQ(K::childAtIndex(0, mac), mac);
    EXPECT_EQ(K::childAtIndex(3, mac), driver);
    EXPECT_EQ(K::childAtIndex(5, mac), part1);  // always the first child
    EXPECT_EQ(K::childAtIndex(6, mac), nullptr);
    EXPECT_EQ(K::childAtIndex(60, mac), nullptr);

    EXPECT_EQ(K::dictionaryForParentAtIndex(1, media)["Statistics"]["Bytes (Read)"].intValue(), 7);
    EXPECT_EQ(K::dictionaryForChildAtIndex(2, driver)["BSD Name"].stringValue(), "disk0s1");
    EXPECT_TRUE(K::dictionaryForChildAtIndex(1, part2).isNull());
    EXPECT_EQ(K::property("BSD Name", other).stringValue(), "disk1");
    EXPECT_TRUE(K::property("Nope", other).isNull());
    EXPECT_EQ(K::propertiesFromObject(other)["BSD Name"].stringValue(), "disk1");
    EXPECT_TRUE(K::propertiesFromObject(nullptr).isNull());
}

TEST_F(WalkerTest, SearchForKeyInParents) {
    using K = KXRIOKitUtilities;
    // The entry's own properties are not searched.
    EXPECT_TRUE(K::searchForKeyInParents("Own", 10, media).isNull());
    // "INQUIRY Unit Serial Number" sits on the media's third parent (the driver's second).
    EXPECT_TRUE(K::searchForKeyInParents("INQUIRY Unit Serial Number", 1, driver).isNull());
    EXPECT_TRUE(K::searchForKeyInParents("INQUIRY Unit Serial Number", 1, media).isNull());
    EXPECT_EQ(K::searchForKeyInParents("INQUIRY Unit Serial Number", 2, driver).stringValue(), "S3RIAL");
    EXPECT_EQ(K::searchForKeyInParents("INQUIRY Unit Serial Number", 2, disk).stringValue(), "S3RIAL");
    EXPECT_TRUE(K::searchForKeyInParents("INQUIRY Unit Serial Number", 2, media).isNull());
    EXPECT_EQ(K::searchForKeyInParents("INQUIRY Unit Serial Number", 3, media).stringValue(), "S3RIAL");
    // The nearest ancestor wins; past the root nothing more is found.
    EXPECT_EQ(K::searchForKeyInParents("GUID", 10, part1).stringValue(), "guid-mac");
    EXPECT_TRUE(K::searchForKeyInParents("Missing", 100, part1).isNull());
    EXPECT_TRUE(K::searchForKeyInParents("GUID", 0, pci).isNull());
    EXPECT_TRUE(K::searchForKeyInParents("GUID", -1, pci).isNull());
    EXPECT_TRUE(K::searchForKeyInParents("GUID", 5, nullptr).isNull());
}

TEST_F(WalkerTest, PathsAndFirstMatch) {
    using K = KXRIOKitUtilities;
    EXPECT_EQ(K::objectAtPath("IOService:/Mac/pci/disk"), disk);
    EXPECT_EQ(K::objectAtPath("IOService:/Mac/none"), nullptr);
    EXPECT_EQ(K::propertiesFromObjectAtPath("IOService:/Mac")["GUID"].stringValue(), "guid-mac");
    EXPECT_TRUE(K::propertiesFromObjectAtPath("IOService:/Nothing").isNull());
    EXPECT_EQ(K::pathForObject(pci), "IOService:/Mac/pci");
    EXPECT_EQ(K::nameForObject(pci), "pci");
    EXPECT_EQ(K::pathForObject(nullptr), "");
    EXPECT_EQ(K::dictionaryWithMatch(registry::Registry::serviceMatching("IOMedia"))["BSD Name"].stringValue(),
              "disk0");
    EXPECT_TRUE(K::dictionaryWithMatch(registry::Registry::serviceMatching("IOUSBDevice")).isNull());
}

TEST(WalkerSmoke, BlockDevicesOfThisMachine) {
    registry::Registry::resetForTesting();
    auto it = KXRIOKitUtilities::iteratorWithServiceMatch("IOMedia");
    int whole = 0;
    while (it.next().isDictionary()) {
        if (KXRIOKitUtilities::property("Whole", it.object()).boolValue()) {
            ++whole;
            // Every whole disk hangs below a driver with statistics.
            EXPECT_TRUE(KXRIOKitUtilities::dictionaryForParentAtIndex(1, it.object())["Statistics"].isDictionary());
        }
    }
    std::cout << "whole disks found: " << whole << "\n";
    registry::Registry::resetForTesting();
}
