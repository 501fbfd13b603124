// The feed check: the form the engine sends, which build it offers, failures, the identifier.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "UpdateTestSupport.h"
#include "foundation/KXRVersions.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/systemlog/SystemLog.h"
#include "update/HttpTransfer.h"

namespace telvo::update::test {
namespace {

std::string decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out.push_back(char(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The fields of a form in order, values decoded.
std::vector<std::pair<std::string, std::string>> fieldsOf(const std::string& form) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::stringstream parts(form);
    std::string part;
    while (std::getline(parts, part, '&')) {
        size_t eq = part.find('=');
        fields.emplace_back(part.substr(0, eq), eq == std::string::npos ? "" : decoded(part.substr(eq + 1)));
    }
    return fields;
}

std::string lastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

using UpdateCheckerCoreTest = UpdateTest;

TEST_F(UpdateCheckerCoreTest, PostsTheFormInOrderWithTheMachineNameIntact) {
    server->setAnswer("/telvoserver3/version.php", feedOf({}));
    auto engine = makeEngine();
    check(*engine);
    EXPECT_EQ(delegate.events, std::vector<std::string>{"none"});

    const auto fields = fieldsOf(lastLine(server->posts()));
    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.first);
    EXPECT_EQ(names, (std::vector<std::string>{"version", "build", "platform", "model", "uid", "language", "rand", "ui"}));
    std::map<std::string, std::string> values(fields.begin(), fields.end());
    EXPECT_EQ(values["version"], "3.03");
    EXPECT_EQ(values["build"], "270");
    EXPECT_EQ(values["platform"], "10.13");
    EXPECT_EQ(values["model"], "Standard PC (Q35 + ICH9, 2009)");
    EXPECT_EQ(values["uid"].size(), 32u);
    EXPECT_EQ(values["uid"].find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(values["language"], "en");
    EXPECT_EQ(values["rand"], "1000000000");
    EXPECT_EQ(values["ui"], "0");
    // Commas stay as they are, everything else but letters, digits and "-._~" is encoded.
    EXPECT_NE(lastLine(server->posts()).find("model=Standard%20PC%20%28Q35%20%2B%20ICH9,%202009%29&"), std::string::npos);
}

TEST_F(UpdateCheckerCoreTest, ReportsTheSkippedVersionOnlyAboveZeroAndKeepsTheIdentifier) {
    server->setAnswer("/telvoserver3/version.php", feedOf({}));
    auto engine = makeEngine();
    defaults::UserDefaults prefs("com.kestro.TelvoServer");
    prefs.setObject("UpdateCheckerSkipVersion", 0.0);
    prefs.synchronize();
    check(*engine);
    EXPECT_EQ(lastLine(server->posts()).find("skipped"), std::string::npos);
    const std::string firstUid = fieldsOf(lastLine(server->posts()))[4].second;

    prefs.setObject("UpdateCheckerSkipVersion", 3.1);
    prefs.synchronize();
    auto second = makeEngine();
    check(*second);
    const std::string form = lastLine(server->posts());
    EXPECT_EQ(form.substr(form.size() - std::string("&skipped=3.10").size()), "&skipped=3.10");
    // The identifier was made once (no serial number readable here) and stored in the domain.
    EXPECT_EQ(fieldsOf(form)[4].second, firstUid);
    EXPECT_EQ(defaults::UserDefaults("com.kestro.TelvoServer").objectForKey("UpdateCheckerID_V2").stringValue(), firstUid);
}

TEST_F(UpdateCheckerCoreTest, IdentifierIsTheDigestOfTheSerialNumberWhenReadable) {
    writeText(root + "/sys/class/dmi/id/product_serial", "ABC123\n");
    auto engine = makeEngine();
    EXPECT_EQ(engine->uid(), engine->MD5("ABC123"));
    EXPECT_EQ(engine->MD5(""), "");
    EXPECT_EQ(engine->MD5("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(UpdateCheckerCoreTest, OffersTheLaterOfEqualBuilds) {
    server->setAnswer("/telvoserver3/version.php",
                      feedOf({"<!-- old --><b build=\"300\" version=\"3.10\" url=\"https://x/300.zip\"/>",
                              "<b build=\"310\" version=\"3.20\" url=\"https://x/first.zip\"/>text",
                              "<other build=\"310\" version=\"3.21\" url=\"https://x/second.zip\" manual=\"\" "
                              "releasenotes=\"notes\" date=\"1500000000\" downloadButtonTitle=\"Get\"/>"}));
    auto engine = makeEngine();
    check(*engine);
    ASSERT_EQ(delegate.events, std::vector<std::string>{"available"});
    EXPECT_EQ(engine->url, "https://x/second.zip");
    EXPECT_EQ(engine->newVersionBuild, 310);
    EXPECT_FLOAT_EQ(engine->newVersion, 3.21f);
    const Value& info = engine->updateInfo;
    EXPECT_EQ(info["build"].doubleValue(), 310.0);
    EXPECT_EQ(info["currentVersionBuild"].doubleValue(), 270.0);
    EXPECT_TRUE(info["manual"].boolValue());
    EXPECT_EQ(info["releaseNotes"].stringValue(), "notes");
    EXPECT_EQ(info["downloadButtonTitle"].stringValue(), "Get");
    EXPECT_FALSE(info.has("laterButtonTitle"));
    EXPECT_EQ(info["date"].date().seconds, 1500000000.0);
}

TEST_F(UpdateCheckerCoreTest, OfferRule) {
    defaults::UserDefaults prefs("com.kestro.TelvoServer");
    prefs.setObject("UpdateCheckerSkipBuild", 280.0);  // the application writes a float
    prefs.synchronize();
    struct Case {
        const char* element;
        bool userInitiated;
        bool offered;
    } cases[] = {
        {"<b build=\"270\"/>", true, false},
        {"<b build=\"0\"/>", true, false},
        {"<b build=\"-5\"/>", true, false},
        {"<b build=\"271\"/>", false, true},
        {"<b build=\"271\" type=\"2\"/>", true, false},
        {"<b build=\"280\"/>", false, false},
        {"<b build=\"280\"/>", true, true},
        {"<b build=\"271\" platform=\"10.14\"/>", false, false},
        {"<b build=\"271\" platform=\"10.8\"/>", false, true},
        {"<b build=\"271\" platform=\"11\"/>", false, true},
        {"<b build=\"271\" platform=\"10.8.1\"/>", false, true},
    };
    for (const auto& c : cases) {
        server->setAnswer("/telvoserver3/version.php", feedOf({c.element}));
        delegate.events.clear();
        auto engine = makeEngine();
        engine->userInitiated = c.userInitiated;
        check(*engine);
        EXPECT_EQ(delegate.events, std::vector<std::string>{c.offered ? "available" : "none"})
            << c.element << " ui=" << c.userInitiated;
    }
}

// The offered build is a 32-bit integer: a feed build beyond that range would pass the offer
// rule and then be offered as a smaller, even an older, build than the running one.
TEST_F(UpdateCheckerCoreTest, BuildsBeyondThirtyTwoBitsAreNeverOffered) {
    struct Case {
        std::vector<std::string> elements;
        int64_t offered;  // 0: none
    } cases[] = {
        {{"<b build=\"4294967396\" url=\"https://x/100.zip\"/>"}, 0},  // 2^32 + 100
        {{"<b build=\"2147483648\" url=\"https://x/neg.zip\"/>"}, 0},
        {{"<b build=\"9223372036854775807\"/>"}, 0},
        {{"<b build=\"4294967396\" url=\"https://x/100.zip\"/>", "<b build=\"310\" url=\"https://x/310.zip\"/>"}, 310},
        {{"<b build=\"2147483647\" url=\"https://x/max.zip\"/>"}, 2147483647},
    };
    for (const auto& c : cases) {
        server->setAnswer("/telvoserver3/version.php", feedOf(c.elements));
        delegate.events.clear();
        auto engine = makeEngine();
        check(*engine);
        const std::string first = c.elements.front();
        if (!c.offered) {
            EXPECT_EQ(delegate.events, std::vector<std::string>{"none"}) << first;
            continue;
        }
        ASSERT_EQ(delegate.events, std::vector<std::string>{"available"}) << first;
        EXPECT_EQ(engine->newVersionBuild, c.offered) << first;
        EXPECT_EQ(engine->updateInfo["build"].doubleValue(), double(c.offered)) << first;
        EXPECT_EQ(engine->url, "https://x/" + std::string(c.offered == 310 ? "310" : "max") + ".zip") << first;
    }
}

TEST_F(UpdateCheckerCoreTest, PlatformTestComparesOrderedPairs) {
    struct Case {
        const char* system;
        const char* platform;
        bool supported;
    } cases[] = {
        {"10.8", "10.9", false}, {"10.13", "10.8", true}, {"11.2", "10.8", true},
        {"10.13", "", true},     {"10.13", "10", true},   {"10.13", "10.8.1", true},
    };
    for (const auto& c : cases) {
        setenv("TELVO_OS_VERSION", c.system, 1);
        KXRVersions::resetForTesting();
        auto engine = makeEngine();
        EXPECT_EQ(engine->isPlatformSupported(c.platform), c.supported) << c.system << " " << c.platform;
    }
    unsetenv("TELVO_OS_VERSION");
    KXRVersions::resetForTesting();
}

TEST_F(UpdateCheckerCoreTest, FailuresReachTheDelegate) {
    // Not XML: the hook, then a failure with no error.
    struct Probe : UpdateCheckerCore {
        int feedErrors = 0;
        void updateFeedError() override { ++feedErrors; }
    } probe;
    probe.feed = server->url("/telvoserver3/version.php");
    probe.delegate = &delegate;
    server->setAnswer("/telvoserver3/version.php", "<html><body>Internal error");
    check(probe);
    EXPECT_EQ(probe.feedErrors, 1);
    EXPECT_EQ(delegate.events, std::vector<std::string>{"failed(nil)"});

    // A server the trust store does not know.
    delegate.events.clear();
    setCAFile(server->otherCAFile());
    auto engine = makeEngine();
    check(*engine);
    EXPECT_EQ(delegate.events, std::vector<std::string>{"failed"});
    ASSERT_TRUE(delegate.lastError);
    EXPECT_EQ(delegate.lastError->domain, "HttpTransfer");

    // An answer above 1 MiB is a request error.
    delegate.events.clear();
    setCAFile(server->caFile());
    server->setAnswer("/telvoserver3/version.php", std::string((1 << 20) + 10, 'x'));
    auto big = makeEngine();
    check(*big);
    EXPECT_EQ(delegate.events, std::vector<std::string>{"failed"});
}

TEST_F(UpdateCheckerCoreTest, RefusesASecondCheckAndOneWithoutFeed) {
    std::vector<std::string> lines;
    systemlog::setCaptureForTesting([&](const std::string& line) { lines.push_back(line); });
    server->setAnswer("/telvoserver3/version.php", feedOf({}));
    auto engine = makeEngine();
    ASSERT_TRUE(engine->checkForUpdates());
    EXPECT_FALSE(engine->checkForUpdates());
    dispatch::MainLoop::runUntilIdle();
    engine->feed.clear();
    EXPECT_FALSE(engine->checkForUpdates());
    systemlog::setCaptureForTesting(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"updating checker already active", "No feed url has been set"}));
    EXPECT_EQ(delegate.events, std::vector<std::string>{"none"});
}

TEST_F(UpdateCheckerCoreTest, CancelledAnswerIsDropped) {
    server->setAnswer("/telvoserver3/version.php", feedOf({"<b build=\"300\"/>"}));
    auto engine = makeEngine();
    ASSERT_TRUE(engine->checkForUpdates());
    engine->cancelled = true;
    dispatch::MainLoop::runUntilIdle();
    EXPECT_TRUE(delegate.events.empty());
    EXPECT_TRUE(engine->active);

    // A check sent after a cancel, before the cancelled one was answered: only its own answer
    // counts.
    engine->active = false;
    ASSERT_TRUE(engine->checkForUpdates());
    engine->cancelled = true;
    engine->active = false;
    ASSERT_TRUE(engine->checkForUpdates());
    dispatch::MainLoop::runUntilIdle();
    EXPECT_EQ(delegate.events, std::vector<std::string>({"available"}));
}

TEST_F(UpdateCheckerCoreTest, InstallFilesAndSharedInstance) {
    auto engine = makeEngine();
    EXPECT_EQ(engine->installFiles, (std::vector<std::string>{"Telvo Server.app", "Telvo Server.pkg"}));
    EXPECT_EQ(engine->appName, "Telvo Server");
    UpdateCheckerCore* shared = UpdateCheckerCore::sharedUpdateChecker();
    EXPECT_NE(shared, nullptr);
    EXPECT_EQ(UpdateCheckerCore::sharedUpdateChecker(), shared);
    UpdateCheckerCore::setSubclassPresent(true);
    EXPECT_EQ(UpdateCheckerCore::sharedUpdateChecker(), nullptr);
    UpdateCheckerCore::resetForTesting();
}

}  // namespace
}  // namespace telvo::update::test
