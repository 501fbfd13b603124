#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "DaemonFixture.h"
#include "daemon/Controller.h"
#include "daemon/Passcode.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testing::DaemonFixture;

namespace {
using PreferencesTest = DaemonFixture;
using KeychainTest = DaemonFixture;
}  // namespace

TEST_F(PreferencesTest, DefaultsAndTypedReads) {
    TVSPreferences& p = TVSPreferences::sharedPreferences();
    EXPECT_EQ(p.integerForKey("port"), 5109);
    EXPECT_TRUE(p.boolForKey("bonjour enabled"));
    EXPECT_EQ(p.integerForKey("port external"), 5109);
    EXPECT_TRUE(p.objectForKey("uuid").isNull());
    EXPECT_FALSE(p.boolForKey("map external port"));

    p.setObject(Value("5110"), "port");  // text, as the control service stores it
    EXPECT_EQ(p.integerForKey("port"), 5110);
    p.removeObjectForKey("port");
    EXPECT_EQ(p.integerForKey("port"), 5109);
    p.setDouble(2.5, "x");
    EXPECT_FLOAT_EQ(p.floatForKey("x"), 2.5f);
}

// Changes made while serving clients are in effect at once and reach the file from the
// preferences' own queue, the last one of a burst included; a flush writes one still queued,
// and a reset (as a restart) finds every change in the file.
TEST_F(PreferencesTest, QueuedChangesAreInEffectAtOnceAndReachTheFileInOrder) {
    TVSPreferences& p = TVSPreferences::sharedPreferences();
    ValueArray devices;
    for (int n = 0; n < 200; ++n) {
        devices.push_back(Value("DEVICE-" + std::to_string(n)));
        p.setObjectSoon(Value(devices), "authorized devices");
        ASSERT_EQ(p.arrayForKey("authorized devices").count(), size_t(n + 1));
    }
    p.setObjectSoon(Value("soon"), "queued key");
    EXPECT_EQ(p.objectForKey("queued key").stringValue(), "soon");
    // The queue writes it by itself.
    Value stored;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(stored = plist::readFile(TVSPreferences::kPath))["queued key"].isString() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(stored["queued key"].stringValue(), "soon");
    EXPECT_EQ(stored["authorized devices"].count(), 200u);
    EXPECT_EQ(stored["authorized devices"].at(199).stringValue(), "DEVICE-199");
    EXPECT_TRUE(stored["port map identifier"].isString()) << "the file keeps what it held";

    p.setObjectSoon(Value("later"), "queued key");
    EXPECT_TRUE(p.flush());
    EXPECT_FALSE(p.hasUnwrittenChanges());
    EXPECT_EQ(plist::readFile(TVSPreferences::kPath)["queued key"].stringValue(), "later");
    p.setObjectSoon(Value("last"), "queued key");
    TVSPreferences::resetForTesting();
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("queued key").stringValue(), "last");
}

// Instances reset while other threads queue changes on theirs: every queued write runs on
// values it keeps alive, on a queue that is never freed (the address sanitizer tells), and
// what the last instance stored reaches the file.
TEST_F(PreferencesTest, ResetsWhileChangesAreQueuedLoseNothingAndFreeNothingInUse) {
    for (int round = 0; round < 20; ++round) {
        TVSPreferences& p = TVSPreferences::sharedPreferences();
        std::atomic<int> done{0};
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([&p, &done, round, t] {
                for (int n = 0; n < 50; ++n)
                    p.setObjectSoon(Value(round * 1000 + n), "writer " + std::to_string(t));
                ++done;
            });
        for (auto& w : writers) w.join();
        ASSERT_EQ(done.load(), 4);
        TVSPreferences::resetForTesting();
        Value stored = plist::readFile(TVSPreferences::kPath);
        for (int t = 0; t < 4; ++t)
            ASSERT_EQ(stored["writer " + std::to_string(t)].intValue(), round * 1000 + 49) << "round " << round;
    }
}

TEST_F(PreferencesTest, EveryWriteReachesAPrivateXMLPropertyList) {
    TVSPreferences& p = TVSPreferences::sharedPreferences();
    p.setBool(true, "Upgrade-2.3");
    p.setObject(Value(ValueArray{Value("A"), Value("A")}), "authorized devices");

    std::string file = host(TVSPreferences::kPath);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Value stored = plist::readFile(TVSPreferences::kPath);
    EXPECT_TRUE(stored["Upgrade-2.3"].boolValue());
    EXPECT_EQ(stored["authorized devices"].count(), 2u);
    // Defaults are not written, the port-map identifier is (once).
    EXPECT_FALSE(stored.has("port"));
    std::string identifier = stored["port map identifier"].stringValue();
    EXPECT_EQ(identifier.size(), 5u);

    TVSPreferences::resetForTesting();
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("port map identifier").stringValue(), identifier);
    EXPECT_EQ(TVSPreferences::sharedPreferences().arrayForKey("authorized devices").count(), 2u);
}

TEST_F(PreferencesTest, AnUnreadableFileIsKeptAsideAndTheDefaultsServe) {
    fs::createDirectories("/Library/Preferences");
    std::ofstream(host(TVSPreferences::kPath)) << "<plist><dict><key>port</key>";
    TVSPreferences& p = TVSPreferences::sharedPreferences();
    EXPECT_EQ(p.integerForKey("port"), 5109);
    EXPECT_TRUE(std::filesystem::exists(host(std::string(TVSPreferences::kPath) + ".invalid")));
    EXPECT_TRUE(plist::readFile(TVSPreferences::kPath).isDictionary());
}

TEST(PasscodeTest, FiveDigitsNeverBelow10381) {
    EXPECT_EQ(passcode::fromRandom(0), "10381");
    EXPECT_EQ(passcode::fromRandom(85456), "95837");
    EXPECT_EQ(passcode::fromRandom(85457), "10381");
    EXPECT_EQ(passcode::fromRandom(0xffffffffu), std::to_string(10381 + 0xffffffffu % 85457));
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string code = passcode::generate();
        ASSERT_EQ(code.size(), 5u);
        ASSERT_GE(std::stoi(code), 10381);
        seen.insert(code);
    }
    EXPECT_GT(seen.size(), 40u);
}

TEST_F(KeychainTest, PrepareCreatesTheKeychainAndAPasscode) {
    TVSPreferences::sharedPreferences().setObject(Value("old"), "authenc");
    Controller::sharedController().prepare();
    EXPECT_TRUE(logged("Telvo Server Daemon version 3.03 (270)"));
    EXPECT_TRUE(std::filesystem::exists(host(TVSKeychain::kKeychainPath)));
    auto code = TVSPreferences::sharedPreferences().passcode();
    ASSERT_TRUE(code);
    EXPECT_EQ(code->size(), 5u);
    EXPECT_TRUE(TVSPreferences::sharedPreferences().objectForKey("authenc").isNull());
    EXPECT_TRUE(TVSPreferences::sharedPreferences().boolForKey("Upgrade-2.3"));

    // A deleted passcode item is replaced at the next start; a kept one stays.
    telvo::testing::resetDaemonSingletons();
    Controller::sharedController().prepare();
    EXPECT_EQ(TVSPreferences::sharedPreferences().passcode(), code);
    ErrorPtr error;
    ASSERT_TRUE(TVSKeychain::sharedKeychain().deleteItemForUsername(std::string("passcode"), std::string("TelvoServer"), &error));
    EXPECT_FALSE(TVSPreferences::sharedPreferences().passcode());
    Controller::sharedController().prepare();
    EXPECT_TRUE(TVSPreferences::sharedPreferences().passcode());
}

TEST_F(KeychainTest, PasswordItemsAndTheirErrors) {
    TVSKeychain& k = TVSKeychain::sharedKeychain();
    ErrorPtr error;
    EXPECT_FALSE(k.getPasswordForUsername(std::string("passcode"), std::string("TelvoServer"), &error));
    EXPECT_FALSE(error);

    EXPECT_FALSE(k.storeUsername(std::nullopt, std::string("x"), std::string("s"), true, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "TVSKeychain");
    EXPECT_EQ(error->code, -2000);
    EXPECT_FALSE(k.getPasswordForUsername(std::string("a"), std::nullopt, &error));
    EXPECT_EQ(error->code, -2000);

    ASSERT_TRUE(k.storeUsername(std::string("a"), std::string("one"), std::string("s"), true, &error));
    ASSERT_TRUE(k.storeUsername(std::string("a"), std::string("two"), std::string("s"), false, &error));  // updated anyway
    EXPECT_EQ(k.getPasswordForUsername(std::string("a"), std::string("s"), &error), "two");

    std::string longPassword(2000, 'p');
    ASSERT_TRUE(k.storeUsername(std::string("a"), longPassword, std::string("s"), true, &error));
    EXPECT_EQ(k.getPasswordForUsername(std::string("a"), std::string("s"), &error)->size(), 1023u);
    ASSERT_TRUE(k.storeUsername(std::string("a"), std::string("ab\0cd", 5), std::string("s"), true, &error));
    EXPECT_EQ(k.getPasswordForUsername(std::string("a"), std::string("s"), &error), "ab");
}

TEST_F(KeychainTest, IdentityIsMadeOnceAndFoundByItsLabel) {
    TVSKeychain& k = TVSKeychain::sharedKeychain();
    EXPECT_TRUE(k.SSLIdentityAndCertificates().empty());
    k.createNewIdentity();
    auto identities = k.SSLIdentityAndCertificates();
    ASSERT_EQ(identities.size(), 1u);
    EXPECT_EQ(identities[0].label.rfind("TelvoServer2", 0), 0u);
    k.createNewIdentity();  // a second one: only the first is answered
    auto again = k.SSLIdentityAndCertificates();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0], identities[0]);
    TVSKeychain::resetForTesting();
    EXPECT_EQ(TVSKeychain::sharedKeychain().SSLIdentityAndCertificates()[0], identities[0]);
}

// The preferences file and the keychain on a file system that fills up: the changes stay in
// effect in memory, each file says once that it cannot be written, and they are written at
// the stop once there is room again. A passcode set by the caller is the exception: it is
// refused, and the one in effect stays.
TEST_F(KeychainTest, OnAFullDiskSettingsAndPasscodeStayInMemoryAndAreWrittenAtTheStop) {
    const std::string library = host("/Library");
    std::filesystem::create_directories(library);
    if (::mount("tmpfs", library.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "a small tmpfs is needed to fill (mount as root): " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{library};

    Controller::sharedController().prepare();
    ASSERT_TRUE(TVSPreferences::sharedPreferences().passcode());
    // Fill the file system.
    const std::string filler = library + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        std::string block(4096, 'x');
        while (out.write(block.data(), std::streamsize(block.size())) && out.flush()) {
        }
    }
    TVSPreferences& preferences = TVSPreferences::sharedPreferences();
    preferences.setObject(Value("kept"), "test key");
    preferences.setObject(Value(2), "second key");
    const std::optional<std::string> before = preferences.passcode();
    ErrorPtr refused = preferences.setPasscode("13579");
    ASSERT_TRUE(refused) << "a passcode the disk does not take is an error to the caller";
    EXPECT_NE(refused->message.find("could not be stored"), std::string::npos) << refused->description();
    EXPECT_EQ(preferences.passcode(), before) << "the passcode in effect stays";
    EXPECT_FALSE(TVSKeychain::sharedKeychain().hasPendingWrites());
    // A generated one stays in effect in memory.
    preferences.createPasscode();
    const std::optional<std::string> generated = preferences.passcode();
    ASSERT_TRUE(generated);
    EXPECT_EQ(generated->size(), 5u);
    EXPECT_TRUE(preferences.hasUnwrittenChanges());
    EXPECT_TRUE(TVSKeychain::sharedKeychain().hasPendingWrites());
    EXPECT_EQ(preferences.objectForKey("test key").stringValue(), "kept");
    auto count = [&](const std::string& part) {
        int n = 0;
        for (const auto& m : logMessages()) n += m.find(part) != std::string::npos;
        return n;
    };
    EXPECT_EQ(count("Unable to write the preferences file"), 1) << "one line, not one per change";
    EXPECT_EQ(count("Unable to write the keychain"), 1);
    EXPECT_EQ(count("(No space left on device)"), 1);
    EXPECT_EQ(count("Unable to store the new passcode"), 1);

    // Room again; the stop writes what waited.
    std::filesystem::remove(filler);
    Controller::sharedController().finalizeDatabase();
    EXPECT_FALSE(preferences.hasUnwrittenChanges());
    EXPECT_FALSE(TVSKeychain::sharedKeychain().hasPendingWrites());
    EXPECT_EQ(count("is written again"), 2);

    telvo::testing::resetDaemonSingletons();
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("test key").stringValue(), "kept");
    EXPECT_EQ(TVSPreferences::sharedPreferences().integerForKey("second key"), 2);
    EXPECT_EQ(TVSPreferences::sharedPreferences().passcode(), generated);
}
