#include "UpdateTestSupport.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/bundle/MainBundle.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/values/PropertyList.h"
#include "update/HttpTransfer.h"

namespace telvo::update::test {

void UpdateTest::SetUp() {
    dispatch::MainLoop::resetForTesting();
    platform::Clock::useVirtual(1000000000);
    root = makeTemporaryFolder("telvo-update-");
    ASSERT_FALSE(root.empty());
    fs::setRootForTesting(root);
    fs::createDirectories(root + "/sys/class/dmi/id");
    writeText(root + "/sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n");
    fs::createDirectories(root + "/prefs");
    defaults::UserDefaults::setPreferencesFolderForTesting(root + "/prefs");
    defaults::UserDefaults::resetForTesting();
    const std::string bundle = root + "/Applications/Telvo Server.app";
    fs::createDirectories(bundle + "/Contents/MacOS");
    Value info{ValueDictionary{}};
    info.set("CFBundleShortVersionString", "3.03");
    info.set("CFBundleVersion", "270");
    info.set("CFBundleName", "Telvo Server");
    plist::writeFile(info, bundle + "/Contents/Info.plist");
    bundle::MainBundle::setPathForTesting(bundle);
    fs::createDirectories(root + "/tmp", 0700);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    server = std::make_unique<HttpsTestServer>();
    if (!server->failure().empty()) GTEST_SKIP() << "no HTTPS test server: " << server->failure();
    setCAFile(server->caFile());
}

void UpdateTest::TearDown() {
    dispatch::MainLoop::resetForTesting();
    resetSettingsForTesting();
    server.reset();
    bundle::MainBundle::resetForTesting();
    defaults::UserDefaults::setPreferencesFolderForTesting("");
    defaults::UserDefaults::resetForTesting();
    fs::setRootForTesting("");
    unsetenv("TMPDIR");
    removeTree(root);
}

std::unique_ptr<UpdateCheckerCore> UpdateTest::makeEngine() {
    auto engine = std::make_unique<UpdateCheckerCore>();
    engine->feed = server->url("/telvoserver3/version.php");
    engine->preferencesDomain = "com.kestro.TelvoServer";
    engine->delegate = &delegate;
    return engine;
}

void UpdateTest::check(UpdateCheckerCore& engine) {
    ASSERT_TRUE(engine.checkForUpdates());
    dispatch::MainLoop::runUntilIdle();
    EXPECT_FALSE(engine.active);
}

std::string UpdateTest::feedOf(const std::vector<std::string>& elements) {
    std::string xml = "<?xml version=\"1.0\"?><versions>";
    for (const auto& e : elements) xml += e;
    return xml + "</versions>";
}

}  // namespace telvo::update::test
