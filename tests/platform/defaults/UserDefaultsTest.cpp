#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

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

// An environment variable set for one scope, put back afterwards.
struct ScopedVariable {
    std::string name;
    bool had = false;
    std::string old;
    ScopedVariable(const char* n, const char* value) : name(n) {
        if (const char* v = std::getenv(n)) {
            had = true;
            old = v;
        }
        if (value) setenv(n, value, 1);
        else unsetenv(n);
    }
    ~ScopedVariable() {
        if (had) setenv(name.c_str(), old.c_str(), 1);
        else unsetenv(name.c_str());
    }
};

TEST_F(UserDefaultsTest, LanguagesComeFromTheEnvironmentWhereNoFileNamesThem) {
    struct Case {
        const char* language;
        const char* lang;
        std::vector<std::string> expected;  // empty: no value
    } cases[] = {
        {nullptr, "de_DE.UTF-8", {"de"}},
        {nullptr, "fr", {"fr"}},
        {nullptr, "sr@latin", {"sr"}},
        {"pt_BR:pt:en", "de_DE.UTF-8", {"pt", "en"}},
        {"", "de_DE.UTF-8", {"de"}},
        {nullptr, "C.UTF-8", {}},
        {nullptr, "POSIX", {}},
        {nullptr, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.language ? c.language : "(unset)") + " " + (c.lang ? c.lang : "(unset)"));
        ScopedVariable language("LANGUAGE", c.language), lang("LANG", c.lang);
        UserDefaults d("com.example.languages");
        const Value v = d.objectForKey("AppleLanguages");
        if (c.expected.empty()) {
            EXPECT_TRUE(v.isNull());
            continue;
        }
        ASSERT_TRUE(v.isArray());
        std::vector<std::string> got;
        for (size_t i = 0; i < v.count(); ++i) got.push_back(v.at(i).stringValue());
        EXPECT_EQ(got, c.expected);
    }
    // A list in the global domain wins.
    ScopedVariable lang("LANG", "de_DE.UTF-8");
    Value global(ValueDictionary{});
    global.set("AppleLanguages", Value(ValueArray{Value("it")}));
    ASSERT_TRUE(plist::writeFile(global, UserDefaults::pathForDomain(".GlobalPreferences")));
    UserDefaults d("com.example.languages");
    EXPECT_EQ(d.objectForKey("AppleLanguages").at(0).stringValue(), "it");
}

TEST_F(UserDefaultsTest, ProcessesWritingAtOnceKeepEveryKey) {
    // Four processes (the agent and the application beside it, and more) each set their own
    // keys, synchronizing after every one: no key is lost to another's write.
    constexpr int kProcesses = 4, kKeys = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            UserDefaults d("com.example.busy");
            for (int k = 0; k < kKeys; ++k) {
                d.setObject("p" + std::to_string(p) + "k" + std::to_string(k), k);
                if (!d.synchronize()) _exit(1);
            }
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    UserDefaults fresh("com.example.busy");
    for (int p = 0; p < kProcesses; ++p)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(fresh.integerForKey("p" + std::to_string(p) + "k" + std::to_string(k)), k) << p << " " << k;
}

}  // namespace
}  // namespace telvo::defaults
