// The controller's update loop and process-list requests on the virtual clock, the server
// manager's registry, the passcode throttle, and the shutdown flush.
#include <gtest/gtest.h>

#include <cstdio>

#include "DaemonFixture.h"
#include "FakeCollector.h"
#include "collectors/framework/HistoryAccess.h"
#include "daemon/Controller.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/time/Clock.h"

using namespace telvo;
using telvo::testing::FakeCollector;

namespace {

class ControllerTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        platform::Clock::useVirtual(1'800'000'000);
        DaemonCollectors c;
        c.processes = processes_ = std::make_shared<FakeCollector>("processes");
        c.processUpdateMask = [this] { return mask_; };
        c.setProcessUpdateMask = [this](uint64_t m) { mask_ = m; };
        c.updateProcesses = [this] {
            if (processes_->enabled()) samples_.push_back(mask_);
        };
        Controller::sharedController().setCollectorsForTesting(c);
        processes_->setEnabled(false);
    }
    void TearDown() override {
        DaemonFixture::TearDown();
        platform::Clock::useReal();
    }
    std::shared_ptr<FakeCollector> processes_;
    uint64_t mask_ = 0;
    std::vector<uint64_t> samples_;
};

using ServerManagerTest = telvo::testing::DaemonFixture;

}  // namespace

TEST_F(ControllerTest, AProcessListLivesFifteenSecondsAfterItsLastRequest) {
    Controller& controller = Controller::sharedController();
    controller.processRequest("cpu");
    EXPECT_TRUE(processes_->enabled());
    EXPECT_TRUE(logged("starting processes"));
    controller.update();  // the first pass arms the next ones
    dispatch::MainLoop::runFor(14.5);
    EXPECT_GE(samples_.size(), 14u);
    EXPECT_EQ(mask_, 1u);
    dispatch::MainLoop::runFor(2);
    EXPECT_EQ(mask_, 0u);
    EXPECT_FALSE(processes_->enabled());
    EXPECT_TRUE(logged("removing cpu"));
    EXPECT_TRUE(logged("disabling processes"));
    size_t taken = samples_.size();
    dispatch::MainLoop::runFor(5);
    EXPECT_EQ(samples_.size(), taken);  // nothing sampled once no list is wanted
}

TEST_F(ControllerTest, RequestPiecesAreComparedExactly) {
    Controller& controller = Controller::sharedController();
    controller.processRequest("cpu,network");
    EXPECT_EQ(mask_, 1u | 8u);
    EXPECT_EQ(controller.lastCPUProcessRequest(), controller.lastNetworkProcessRequest());
    mask_ = 0;
    processes_->setEnabled(false);
    controller.processRequest("CPU, memory");
    EXPECT_EQ(mask_, 0u);
    EXPECT_TRUE(processes_->enabled());  // enabled all the same; the next pass disables it
    controller.update();
    EXPECT_FALSE(processes_->enabled());
    controller.processRequest("");
    EXPECT_FALSE(processes_->enabled());
}

TEST_F(ControllerTest, PowerListIsSampledWithTheCPUList) {
    mask_ = 16;  // never set by requests, and never dropped by the loop
    processes_->setEnabled(true);
    Controller::sharedController().update();
    ASSERT_EQ(samples_.size(), 1u);
    EXPECT_EQ(samples_[0], 17u);  // the CPU list is sampled with it
    EXPECT_EQ(mask_, 16u);        // and the mask restored afterwards
    EXPECT_TRUE(processes_->enabled());
}

TEST_F(ControllerTest, ShutdownFlushWritesTheQueuedRows) {
    const std::string path = Controller::kLocalDatabasePath;
    fs::createDirectories("/Library/Application Support/Telvo Server/databases");
    ASSERT_TRUE(historyaccess::execute(path, "CREATE TABLE samples (v INTEGER)"));
    historyaccess::addWrite(path, "INSERT INTO %@ (v) VALUES (?)", "samples", {Value(41)});
    historyaccess::addWrite(path, "INSERT INTO %@ (v) VALUES (?)", "samples", {Value(42)});
    Controller::sharedController().finalizeDatabase();
    std::string command = "sqlite3 -cmd '.timeout 30000' '" + host(path) + "' 'SELECT group_concat(v) FROM samples'";
    FILE* pipe = popen(command.c_str(), "r");
    char line[64] = {0};
    ASSERT_TRUE(pipe);
    ASSERT_TRUE(fgets(line, sizeof line, pipe));
    pclose(pipe);
    EXPECT_STREQ(line, "41,42\n");
}

TEST_F(ServerManagerTest, PortPreference) {
    struct Case {
        Value stored;
        uint16_t port;
    } cases[] = {{Value(), 5109},      {Value(80), 5109},    {Value(70000), 5109}, {Value(1024), 1024},
                 {Value("6001"), 6001}, {Value("abc"), 5109}, {Value(65535), 65535}};
    for (const auto& c : cases) {
        TVSPreferences::sharedPreferences().setObject(c.stored, "port");
        EXPECT_EQ(ServerManager::sharedServerManager().port(), c.port) << c.stored.description();
    }
}

TEST_F(ServerManagerTest, AuthorisedDevicesAndTheServerUUID) {
    ServerManager& server = ServerManager::sharedServerManager();
    std::string uuid = TVSPreferences::sharedPreferences().objectForKey("uuid").stringValue();
    ASSERT_EQ(uuid.size(), 36u);
    for (char ch : uuid) EXPECT_TRUE(ch == '-' || isdigit(ch) || (ch >= 'A' && ch <= 'F')) << uuid;

    // A device that gives the right passcode again is listed once; another one after it.
    server.addDeviceToAuthorizedList("DEV");
    server.addDeviceToAuthorizedList("DEV");
    server.addDeviceToAuthorizedList("");
    server.addDeviceToAuthorizedList("OTHER");
    server.addDeviceToAuthorizedList("DEV");
    const std::vector<std::string> listed{"DEV", "OTHER"};
    EXPECT_EQ(server.authorizedDevices(), listed);
    Value stored = TVSPreferences::sharedPreferences().arrayForKey("authorized devices");
    ASSERT_EQ(stored.count(), 2u);
    EXPECT_EQ(stored.at(0).stringValue(), "DEV");
    EXPECT_EQ(stored.at(1).stringValue(), "OTHER");
    // What a restart finds in the file.
    telvo::testing::resetDaemonSingletons();
    EXPECT_EQ(ServerManager::sharedServerManager().authorizedDevices(), listed);
    EXPECT_TRUE(ServerManager::sharedServerManager().isDeviceAuthorized("DEV"));
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("uuid").stringValue(), uuid);  // kept across starts
    ServerManager::sharedServerManager().resetAuthorizedDevices();
    EXPECT_TRUE(logged("Resetting authorizations"));
    EXPECT_FALSE(ServerManager::sharedServerManager().isDeviceAuthorized("DEV"));
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("authorized devices").count(), 0u);
    EXPECT_TRUE(TVSPreferences::sharedPreferences().objectForKey("authorized devices").isArray());
}
