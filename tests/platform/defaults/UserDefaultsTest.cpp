#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::defaults {
namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("telvo-defaults-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        UserDefaults::setPreferencesFolderForTesting(folder_.string());
        UserDefaults::resetForTesting();
    }
    void TearDown() override {
        UserDefaults::setPreferencesFolderForTesting("");
        UserDefaults::resetForTesting();
        std::filesystem::remove_all(folder_);
    }
    std::filesystem::path folder_;
};

TEST_F(UserDefaultsTest, PathsFollowTheDomainNames) {
    EXPECT_EQ(UserDefaults::pathForDomain("com.kestro.TelvoServer"), folder_.string() + "/com.kestro.TelvoServer.plist");
    UserDefaults::setPreferencesFolderForTesting("");
    EXPECT_EQ(UserDefaults::pathForDomain(".GlobalPreferences"),
              fs::expandTilde("~/Library/Preferences/.GlobalPreferences.plist"));
}

TEST_F(UserDefaultsTest, ApplicationDomainWinsOverTheGlobalDomain) {
    Value global(ValueDictionary{});
    global.set("AppleMiniaturizeOnDoubleClick", true);
    global.set("AppleAquaColorVariant", 6);
    ASSERT_TRUE(plist::writeFile(global, UserDefaults::pathForDomain(".GlobalPreferences")));
    Value app(ValueDictionary{});
    app.set("AppleAquaColorVariant", 1);
    ASSERT_TRUE(plist::writeFile(app, UserDefaults::pathForDomain("com.kestro.TelvoServer")));

    auto& d = UserDefaults::standard();
    EXPECT_TRUE(d.boolForKey("AppleMiniaturizeOnDoubleClick"));
    EXPECT_EQ(d.integerForKey("AppleAquaColorVariant"), 1);
    EXPECT_TRUE(d.objectForKey("welcome shown").isNull());
}

TEST_F(UserDefaultsTest, SynchronizeWritesOnlyTheApplicationDomainAndSurvivesARestart) {
    {
        auto& d = UserDefaults::standard();
        d.setObject("_upgrade_2.1", true);
        d.setObject("welcome shown", true);
        d.removeObject("welcome shown");
        ASSERT_TRUE(d.synchronize());
    }
    EXPECT_FALSE(std::filesystem::exists(UserDefaults::pathForDomain(".GlobalPreferences")));
    UserDefaults::resetForTesting();
    auto& again = UserDefaults::standard();
    EXPECT_TRUE(again.boolForKey("_upgrade_2.1"));
    EXPECT_TRUE(again.objectForKey("welcome shown").isNull());
}

TEST_F(UserDefaultsTest, DamagedFilesReadAsEmpty) {
    ASSERT_TRUE(fs::writeFileAtomically(UserDefaults::pathForDomain("com.kestro.TelvoServer"), "<plist>broken"));
    UserDefaults d("com.kestro.TelvoServer");
    EXPECT_TRUE(d.objectForKey("anything").isNull());
    d.setObject("k", 3);
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults("com.kestro.TelvoServer").integerForKey("k"), 3);
}

}  // namespace
}  // namespace telvo::defaults

namespace telvo::defaults {
namespace {

// Two writers of one domain (the agent beside the application): each keeps the other's keys,
// and a removal by one does not bring back what it never changed.
TEST_F(UserDefaultsTest, WritersOfOneDomainKeepEachOthersKeys) {
    UserDefaults agent("com.example.shared");
    UserDefaults app("com.example.shared");
    agent.setObject("UpdateCheckerID_V2", "abc");
    ASSERT_TRUE(agent.synchronize());
    app.setObject("UpdateCheckerSkipVersion", 3.1);
    ASSERT_TRUE(app.synchronize());
    EXPECT_EQ(app.objectForKey("UpdateCheckerID_V2").stringValue(), "abc");
    agent.removeObject("Gone");
    ASSERT_TRUE(agent.synchronize());
    UserDefaults fresh("com.example.shared");
    EXPECT_EQ(fresh.objectForKey("UpdateCheckerID_V2").stringValue(), "abc");
    EXPECT_EQ(fresh.objectForKey("UpdateCheckerSkipVersion").doubleValue(), 3.1);
    EXPECT_EQ(agent.objectForKey("UpdateCheckerSkipVersion").doubleValue(), 3.1);
}

}  // namespace
}  // namespace telvo::defaults
