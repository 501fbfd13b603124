// The process collector as the daemon wires it (makeDaemonCollectors) under the controller's
// one-second loop, on a small fixture /proc and the virtual clock: requests turn lists on,
// passes measure them, and each list goes 15 s after its last request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "DaemonFixture.h"
#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/ProcessStatCollector.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "daemon/Controller.h"
#include "daemon/DaemonCollectors.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/host/ProcRoot.h"
#include "platform/host/ProcessStat.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

class ProcessListsTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        platform::Clock::useVirtual(1'800'000'000);
        host::ProcRoot::setForTesting(root_ + "/machine");
        writeProcess(100, "busy", 0);
        writeProcess(200, "idle", 0);
        collectors_ = makeDaemonCollectors();
        Controller::sharedController().setCollectorsForTesting(collectors_);
        // As the controller's start sets the process lists up.
        collectors_.setProcessSharingCounts(20, 20, 20, 20, 0);
        collectors_.processes->setEnabled(false);
        processes_ = std::static_pointer_cast<ProcessStatCollector>(collectors_.processes);
    }
    void TearDown() override {
        DaemonFixture::TearDown();
        collectors_ = DaemonCollectors();
        processes_.reset();
        for (auto reset : {&ProcessStatCollector::resetForTesting, &CPUStatCollectorMac::resetForTesting,
                           &LoadStatCollectorMac::resetForTesting, &MemoryStatCollectorMac::resetForTesting,
                           &UptimeStatCollectorMac::resetForTesting})
            reset();
        host::ProcRoot::resetForTesting();
        platform::Clock::useReal();
    }

    // A process that has used `seconds` of processor time.
    void writeProcess(int pid, const std::string& name, double seconds) {
        const std::string dir = root_ + "/machine/proc/" + std::to_string(pid);
        std::filesystem::create_directories(dir);
        const long ticks = static_cast<long>(seconds * host::processTicksPerSecond());
        std::ofstream(dir + "/stat", std::ios::trunc)
            << pid << " (" << name << ") R 1 1 1 0 -1 0 0 0 0 0 " << ticks << " 0 0 0 20 0 1 0 77 0 0\n";
        std::ofstream(dir + "/status", std::ios::trunc) << "RssAnon:\t1000 kB\nVmSwap:\t24 kB\n";
        std::ofstream(dir + "/io", std::ios::trunc) << "read_bytes: 0\nwrite_bytes: 0\n";
    }

    DaemonCollectors collectors_;
    std::shared_ptr<ProcessStatCollector> processes_;
};

}  // namespace

TEST_F(ProcessListsTest, RequestedListsAreMeasuredUntilFifteenSecondsAfterTheirLastRequest) {
    Controller& controller = Controller::sharedController();
    ASSERT_TRUE(processes_);
    EXPECT_EQ(processes_->sharingProcessCPUCount(), 20);
    EXPECT_EQ(processes_->sharingProcessPowerCount(), 0);

    controller.processRequest("cpu,memory");
    EXPECT_TRUE(processes_->enabled());
    EXPECT_EQ(processes_->updateMask(), 3);
    controller.update();  // the first pass; it arms the next ones
    ASSERT_EQ(processes_->processes().size(), 2u);
    for (int second = 1; second <= 4; ++second) {
        writeProcess(100, "busy", second);  // one processor, all the time
        dispatch::MainLoop::runFor(1.0);
    }
    auto busy = processes_->processForPid(100);
    ASSERT_TRUE(busy);
    EXPECT_NEAR(busy->cpu(), 100.0, 1e-6);
    EXPECT_EQ(busy->memory(), 1024.0 * 1024);
    EXPECT_EQ(busy->diskRead(), 0);

    // Memory asked for again at 4 s: the CPU list goes at the first pass more than 15 s after
    // its request (16 s), memory at 20 s, and the collector with it.
    controller.processRequest("memory");
    dispatch::MainLoop::runFor(12.5);
    EXPECT_EQ(processes_->updateMask(), 2);
    EXPECT_TRUE(logged("removing cpu"));
    EXPECT_FALSE(logged("removing mem"));
    EXPECT_TRUE(processes_->enabled());
    const int64_t sequence = busy->sequence();
    dispatch::MainLoop::runFor(2.0);
    EXPECT_EQ(processes_->updateMask(), 2);
    dispatch::MainLoop::runFor(2.0);
    EXPECT_EQ(processes_->updateMask(), 0);
    EXPECT_FALSE(processes_->enabled());
    EXPECT_TRUE(logged("removing mem"));
    EXPECT_TRUE(logged("disabling processes"));
    const int64_t last = busy->sequence();
    EXPECT_LE(last - sequence, 5);
    dispatch::MainLoop::runFor(3.0);
    EXPECT_EQ(busy->sequence(), last);  // no pass once no list is wanted
}
